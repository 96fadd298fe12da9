// Costs of the automation framework as a script meets them: Invoke of a
// property get through the type information (behind the invoke gate), and a
// worker's result carried by the hidden window to the sink.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "tests/automation/probe_object.h"

namespace {

using namespace probe;

// The process's apartment, a private KESTNET_HOME and an open gate for the benchmarks.
class BenchEnvironment {
 public:
  BenchEnvironment() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestnet-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) home_ = pattern;
    ::setenv("KESTNET_HOME", home_.c_str(), 1);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    KestAXLib::AddTypeLibDescription(ProbeLibrary());
    KestAXLib::SetInvokeGateFactory(&MakeOpenGate);
  }
  ~BenchEnvironment() {
    CoUninitialize();
    std::error_code ignored;
    std::filesystem::remove_all(home_, ignored);
  }

 private:
  std::string home_;
};

ATL::CComPtr<IProbe> MakeProbe() {
  ATL::CComPtr<IProbe> probe;
  CProbe::_CreatorClass::CreateInstance(nullptr, IID_IProbe, reinterpret_cast<void**>(&probe));
  return probe;
}

void BM_InvokePropertyGet(benchmark::State& state) {
  BenchEnvironment environment;
  ATL::CComPtr<IProbe> probe = MakeProbe();
  probe->put_Count(42);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  for (auto _ : state) {
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = probe->Invoke(kDispCount, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result,
                               nullptr, nullptr);
    benchmark::DoNotOptimize(hr);
    benchmark::DoNotOptimize(result.lVal);
  }
}
BENCHMARK(BM_InvokePropertyGet);

void BM_InvokePropertyGetByName(benchmark::State& state) {
  BenchEnvironment environment;
  ATL::CComPtr<IProbe> probe = MakeProbe();
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  for (auto _ : state) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"Count")};
    DISPID id = 0;
    probe->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    VARIANT result;
    VariantInit(&result);
    probe->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
    benchmark::DoNotOptimize(result.lVal);
  }
}
BENCHMARK(BM_InvokePropertyGetByName);

// One post from a worker thread per iteration; the time is measured from the
// post to the sink's Invoke on the object's thread.
void BM_PostedEventDelay(benchmark::State& state) {
  BenchEnvironment environment;
  ATL::CComPtr<IProbe> probe = MakeProbe();
  auto* object = static_cast<CProbe*>(probe.p);
  ATL::CComQIPtr<IConnectionPointContainer> container(probe);
  ATL::CComPtr<IConnectionPoint> point;
  container->FindConnectionPoint(IID_IProbeEvents, &point);
  auto sink = RecordingSink::Create(IID_IProbeEvents);
  DWORD cookie = 0;
  point->Advise(sink, &cookie);

  std::mutex mutex;
  std::condition_variable wake;
  int requested = 0;
  bool stop = false;
  std::chrono::steady_clock::time_point postedAt;
  std::thread worker([&] {
    int served = 0;
    std::unique_lock lock(mutex);
    while (true) {
      wake.wait(lock, [&] { return stop || requested > served; });
      if (stop) return;
      ++served;
      postedAt = std::chrono::steady_clock::now();
      object->PostTick(served);
    }
  });

  for (auto _ : state) {
    const size_t before = sink->Count();
    {
      std::lock_guard lock(mutex);
      ++requested;
    }
    wake.notify_one();
    while (sink->Count() == before) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    auto firedAt = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex);
    state.SetIterationTime(std::chrono::duration<double>(firedAt - postedAt).count());
  }
  {
    std::lock_guard lock(mutex);
    stop = true;
  }
  wake.notify_one();
  worker.join();
  point->Unadvise(cookie);
}
BENCHMARK(BM_PostedEventDelay)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
