// Cost of the platform questions callers ask on hot paths: the version
// record, the exact type (several profile reads: record, edition,
// architecture), the free version tests, and the integrity level.
//
//   platform_identification_bench [--benchmark_filter=...]
//
// Runs in a private KESTNET_HOME, removed at the end, with a stored profile
// (the stored case is the slower one: every value is read).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/os/version.h"
#include "utils/os_identification.h"
#include "utils/privileges.h"

namespace {

void BM_GetVersionEx(benchmark::State& state) {
  for (auto _ : state) {
    OSVERSIONINFOEXA record{};
    record.dwOSVersionInfoSize = sizeof(record);
    benchmark::DoNotOptimize(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&record)));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetVersionEx)->UseRealTime();

void BM_ExactType(benchmark::State& state) {
  for (auto _ : state) {
    KestUtilsLib::Platform platform;
    benchmark::DoNotOptimize(platform.ExactType());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExactType)->UseRealTime();

void BM_IsVistaOrLaterNT(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(KestUtilsLib::IsVistaOrLaterNT());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IsVistaOrLaterNT)->UseRealTime();

void BM_IsElevatedProcess(benchmark::State& state) {
  for (auto _ : state) {
    KestUtils::Privileges privileges;
    benchmark::DoNotOptimize(privileges.IsElevatedProcess());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IsElevatedProcess)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestnet-platform-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return 1;
  ::setenv("KESTNET_HOME", pattern.c_str(), 1);
  int status = 0;
  if (kestnet::platform::WriteVersionProfile(kestnet::platform::VersionProfile{}) != 0) {
    status = 1;
  } else {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
      status = 1;
    } else {
      benchmark::RunSpecifiedBenchmarks();
      benchmark::Shutdown();
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);
  return status;
}
