// Costs a script meets in `kestnet run`: a property get from JavaScript
// (Proxy trap, GetIDsOfNames, Invoke through the type information, value
// conversion) and a posted event's trip from the worker thread's post to
// the script's handler. Each run executes one script doing many of them;
// items per second give the cost of one.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "host/script_host.h"
#include "platform/com/com.h"

namespace {

using RegisterFunction = HRESULT (*)();

// A private KESTNET_HOME with both modules registered, for the process.
class BenchHome {
 public:
  BenchHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestnet-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return;
    folder_ = pattern;
    ::setenv("KESTNET_HOME", folder_.c_str(), 1);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    for (const char* path : {KESTNET_COM_TEST_SERVER, KESTNET_TICKER_SERVER}) {
      void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
      if (module == nullptr) continue;
      auto reg = reinterpret_cast<RegisterFunction>(dlsym(module, "DllRegisterServer"));
      if (reg != nullptr) reg();
    }
  }
  ~BenchHome() {
    CoUninitialize();
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }
  std::string Script(const std::string& name, const std::string& source) {
    std::filesystem::path path = std::filesystem::path(folder_) / name;
    std::ofstream(path) << source;
    return path.string();
  }

 private:
  std::string folder_;
};

BenchHome& Home() {
  static BenchHome home;
  return home;
}

void RunOnce(benchmark::State& state, const std::string& script, long items) {
  std::FILE* sink = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    kestnet::host::ScriptOptions options;
    options.scriptPath = script;
    options.arguments = {std::to_string(items)};
    if (kestnet::host::RunScript(options, sink, stderr) != 0) state.SkipWithError("the script failed");
  }
  std::fclose(sink);
  state.SetItemsProcessed(state.iterations() * items);
}

void BM_ScriptPropertyGet(benchmark::State& state) {
  std::string script = Home().Script("get.js", R"(
    var w = new ActiveXObject("KestTest.Widget");
    var n = Number(WScript.Arguments(0)), total = 0;
    for (var i = 0; i < n; ++i) total += w.Count;
  )");
  RunOnce(state, script, 20000);
}
BENCHMARK(BM_ScriptPropertyGet)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ScriptPostedEventToHandler(benchmark::State& state) {
  std::string script = Home().Script("events.js", R"(
    var done = false, ticks = 0;
    function t_OnTick() { ++ticks; }
    function t_OnDone() { done = true; }
    var t = WScript.CreateObject("KestHostTest.Ticker", "t_");
    t.Start(Number(WScript.Arguments(0)), 0);
    while (!done) WScript.Sleep(1);
  )");
  RunOnce(state, script, 2000);
}
BENCHMARK(BM_ScriptPostedEventToHandler)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
