// Cost of the registry calls the libraries make most: opening a key, reading
// a small value, writing one (a durable transaction each), enumerating a key
// with many subkeys, and reading through the merged HKEY_CLASSES_ROOT view.
//
//   registry_bench [--benchmark_filter=...]
//
// Runs in a private KESTNET_HOME, removed at the end, so that it never touches
// the user's hives.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/registry/registry.h"

namespace {

HKEY CreateKey(HKEY root, const wchar_t* path) {
  HKEY key = nullptr;
  RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  return key;
}

void BM_OpenAndCloseKey(benchmark::State& state) {
  RegCloseKey(CreateKey(HKEY_CURRENT_USER, L"Software\\Bench\\Open\\Deeper"));
  for (auto _ : state) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Bench\\Open\\Deeper", 0, KEY_READ, &key) != ERROR_SUCCESS) {
      state.SkipWithError("open failed");
      break;
    }
    RegCloseKey(key);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OpenAndCloseKey)->Threads(1)->Threads(2)->UseRealTime();

void BM_QueryDword(benchmark::State& state) {
  HKEY key = CreateKey(HKEY_CURRENT_USER, L"Software\\Bench\\Query");
  const DWORD stored = 7;
  RegSetValueExW(key, L"Value", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&stored), sizeof stored);
  for (auto _ : state) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExW(key, L"value", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS) {
      state.SkipWithError("query failed");
      break;
    }
    benchmark::DoNotOptimize(value);
  }
  RegCloseKey(key);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QueryDword)->Threads(1)->Threads(2)->UseRealTime();

// Every write is a committed, synced transaction: this is the fsync cost.
void BM_SetDword(benchmark::State& state) {
  HKEY key = CreateKey(HKEY_CURRENT_USER, L"Software\\Bench\\Set");
  DWORD value = 0;
  for (auto _ : state) {
    ++value;
    if (RegSetValueExW(key, L"Counter", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) !=
        ERROR_SUCCESS) {
      state.SkipWithError("set failed");
      break;
    }
  }
  RegCloseKey(key);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SetDword)->UseRealTime();

// Enumerating every subkey by index, as callers do; range(0) subkeys.
void BM_EnumerateSubkeys(benchmark::State& state) {
  const std::wstring path = L"Software\\Bench\\Enum" + std::to_wstring(state.range(0));
  HKEY key = CreateKey(HKEY_CURRENT_USER, path.c_str());
  for (int i = 0; i < state.range(0); ++i) RegCloseKey(CreateKey(key, (L"Sub" + std::to_wstring(i)).c_str()));
  for (auto _ : state) {
    for (DWORD index = 0;; ++index) {
      wchar_t name[256];
      DWORD length = 256;
      if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    }
  }
  RegCloseKey(key);
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_EnumerateSubkeys)->Arg(10)->Arg(100)->Arg(500)->UseRealTime()->Unit(benchmark::kMicrosecond);

// A read through HKEY_CLASSES_ROOT looks in both hives.
void BM_QueryThroughClassesRoot(benchmark::State& state) {
  HKEY machine = CreateKey(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Bench.Class\\CLSID");
  const wchar_t clsid[] = L"{00000000-0000-0000-0000-000000000000}";
  RegSetValueExW(machine, L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(clsid), sizeof clsid);
  RegCloseKey(machine);
  for (auto _ : state) {
    HKEY key = nullptr;
    wchar_t buffer[64];
    DWORD size = sizeof buffer;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Bench.Class\\CLSID", 0, KEY_READ, &key) != ERROR_SUCCESS ||
        RegQueryValueExW(key, L"", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS) {
      state.SkipWithError("classes lookup failed");
      break;
    }
    RegCloseKey(key);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QueryThroughClassesRoot)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestnet-registry-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return 1;
  ::setenv("KESTNET_HOME", pattern.c_str(), 1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);
  return 0;
}
