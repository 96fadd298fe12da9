// Replays fuzz inputs without libFuzzer, as c-ares' aresfuzz does: every file
// named on the command line, or every file of every directory named, goes
// once through LLVMFuzzerTestOneInput. A target's broken promise traps, so a
// replay that ends normally passed; an unreadable input fails the run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* p_data, std::size_t p_size);

namespace {

bool ReplayFile(const std::filesystem::path& p_path) {
  std::ifstream input(p_path, std::ios::binary);
  if (!input) {
    std::fprintf(stderr, "cannot read %s\n", p_path.c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace

int main(int p_argc, char** p_argv) {
  std::size_t replayed = 0;
  bool ok = p_argc > 1;
  for (int i = 1; i < p_argc; ++i) {
    const std::filesystem::path path(p_argv[i]);
    std::error_code error;
    if (!std::filesystem::is_directory(path, error)) {
      ok = ReplayFile(path) && ok;
      ++replayed;
      continue;
    }
    for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
      if (entry.is_regular_file()) {
        ok = ReplayFile(entry.path()) && ok;
        ++replayed;
      }
    }
    if (error) {
      std::fprintf(stderr, "cannot list %s: %s\n", path.c_str(), error.message().c_str());
      ok = false;
    }
  }
  std::printf("%zu inputs replayed\n", replayed);
  return ok && replayed > 0 ? 0 : 1;
}
