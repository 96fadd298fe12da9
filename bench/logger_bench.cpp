// Cost of one Log call of a short message at default settings: formatting,
// one 692-byte copy into the shared ring under its named mutex, nothing else
// (debugger output off, the entry below the critical level).
//
//   logger_bench [--benchmark_filter=...]
//
// Runs in a private KESTNET_HOME so that it neither reads the user's logger
// settings nor fills the user's ring.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/os/home.h"
#include "platform/sync/named_objects.h"
#include "runtime/log.h"

namespace {

void BM_LogShortMessage(benchmark::State& state) {
  const int thread = state.thread_index();
  unsigned sequence = 0;
  for (auto _ : state) {
    Log("KestNet::Bench", 2, "Short message %u from thread %d.", ++sequence, thread);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogShortMessage)
    ->Threads(1)
    ->Threads(4)
    ->UseRealTime()
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

// The same call with the format rejected by the C library (a lone surrogate
// in a wide argument): two entries, the handler's and the raw format.
void BM_LogRejectedFormat(benchmark::State& state) {
  const wchar_t notText[] = {0xD800, 0};
  for (auto _ : state) Log("KestNet::Bench", 2, "%S", notText);
}
BENCHMARK(BM_LogRejectedFormat);

}  // namespace

int main(int argc, char** argv) {
  std::string home = (std::filesystem::temp_directory_path() / "kestnet-bench-XXXXXX").string();
  if (::mkdtemp(home.data()) == nullptr) return 1;
  ::setenv("KESTNET_HOME", home.c_str(), 1);
  const std::string scope = kestnet::platform::NamedObjectScope();

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  kestnet::platform::RemoveNamedObjects(scope);
  std::error_code ignored;
  std::filesystem::remove_all(home, ignored);
  return 0;
}
