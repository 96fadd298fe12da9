// What a script pays for a TCP port test through KestNetTcpClientSocket, all
// on loopback:
//   - one cycle of Connect, OnConnect, Close and OnClose through IDispatch,
//     the events carried to the script's sink by the hidden window;
//   - the same cycle on a bare line socket, whose listener is told on the
//     socket event thread: the difference is the automation layer's share;
//   - one BlockingSocketTest of a listening port (a connect, a wait, a close),
//     and its yardstick: the same test written in C straight on the kernel.
// Each iteration also accepts and closes the server's side of the connection.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>

#include "automation/invoke_gate.h"
#include "bench/bare_connect.h"
#include "automation/tcp_client_socket_object.h"
#include "net/sockets/set_manager.h"
#include "net/sockets/socket_event_thread.h"
#include "platform/com/com.h"
#include "tests/net/sockets/socket_test_support.h"

namespace {

using KestNet::testing::Descriptor;
using KestNet::testing::LoopbackServer;

class OpenGate final : public KestAXLib::InvokeGate {
 public:
  HRESULT Admit(const KestAXLib::InvokeGateCall&) override { return S_OK; }
  std::string VendorId() const override { return "tcp-object-bench"; }
};

// The apartment, a private KESTNET_HOME and an open gate for one benchmark.
class BenchEnvironment {
 public:
  BenchEnvironment() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestnet-tcpbench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) home_ = pattern;
    ::setenv("KESTNET_HOME", home_.c_str(), 1);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    KestAXLib::SetInvokeGateFactory([] { return std::unique_ptr<KestAXLib::InvokeGate>(new OpenGate); });
  }
  ~BenchEnvironment() {
    CoUninitialize();
    KestNet::SocketEventThread::WaitForAllThreadsToEnd(5000);
    std::error_code ignored;
    std::filesystem::remove_all(home_, ignored);
  }
  BenchEnvironment(const BenchEnvironment&) = delete;
  BenchEnvironment& operator=(const BenchEnvironment&) = delete;

 private:
  std::string home_;
};

// Counts the object's events (on the object's thread).
class CountingSink final : public IDispatch {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IKestNetTcpClientSocketEvents) {
      *ppv = static_cast<IDispatch*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // Lives on the benchmark's stack, longer than its advisory.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
    if (dispid == 1) {
      ++connects;
      failures += params->rgvarg[2].lVal != 0 ? 1 : 0;
    } else if (dispid == 2) {
      ++closes;
    }
    return S_OK;
  }

  int connects = 0;
  int closes = 0;
  int failures = 0;
};

// Pumps until condition holds; false after ten seconds.
template <typename Condition>
bool PumpUntil(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition()) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    if (condition()) break;
    if (std::chrono::steady_clock::now() > deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  }
  return true;
}

HRESULT InvokeByDispid(IDispatch* object, DISPID dispid, std::vector<VARIANT> arguments) {
  std::reverse(arguments.begin(), arguments.end());
  DISPPARAMS params{arguments.data(), nullptr, static_cast<UINT>(arguments.size()), 0};
  VARIANT result;
  VariantInit(&result);
  HRESULT hr = object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr,
                              nullptr);
  VariantClear(&result);
  for (VARIANT& argument : arguments) VariantClear(&argument);
  return hr;
}

VARIANT Text(const wchar_t* value) {
  VARIANT variant;
  VariantInit(&variant);
  variant.vt = VT_BSTR;
  variant.bstrVal = SysAllocString(value);
  return variant;
}

VARIANT Long(LONG value) {
  VARIANT variant;
  VariantInit(&variant);
  variant.vt = VT_I4;
  variant.lVal = value;
  return variant;
}

constexpr DISPID kConnect = 1;
constexpr DISPID kClose = 2;
constexpr DISPID kBlockingSocketTest = 3;

void ObjectConnectCloseCycle(benchmark::State& state) {
  BenchEnvironment environment;
  LoopbackServer server(1024);
  CountingSink sink;
  {
    ATL::CComPtr<IDispatch> object;
    KestAXLib::CTcpClientSocket::_CreatorClass::CreateInstance(nullptr, IID_IDispatch,
                                                               reinterpret_cast<void**>(&object));
    ATL::CComQIPtr<IConnectionPointContainer> container(object);
    ATL::CComPtr<IConnectionPoint> point;
    container->FindConnectionPoint(IID_IKestNetTcpClientSocketEvents, &point);
    DWORD cookie = 0;
    point->Advise(&sink, &cookie);
    for (auto _ : state) {
      const int connects = sink.connects;
      const int closes = sink.closes;
      InvokeByDispid(object, kConnect, {Text(L"127.0.0.1"), Long(server.Port())});
      if (!PumpUntil([&] { return sink.connects > connects; })) state.SkipWithError("no OnConnect");
      Descriptor accepted = server.Accept();
      InvokeByDispid(object, kClose, {});
      if (!PumpUntil([&] { return sink.closes > closes; })) state.SkipWithError("no OnClose");
    }
    point->Unadvise(cookie);
  }
  if (sink.failures != 0) state.SkipWithError("a connection failed");
  state.counters["events"] = benchmark::Counter(sink.connects + sink.closes);
}
BENCHMARK(ObjectConnectCloseCycle)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The same cycle on a bare line socket: its listener is told on the socket
// event thread and wakes the benchmark's thread.
class WaitingLineListener final : public KestNet::TcpNonBlockingLineSocketListener {
 public:
  virtual ~WaitingLineListener() = default;
  void OnAccept(KestNet::TcpNonBlockingLineSocket*, DWORD) override {}
  void OnClose(KestNet::TcpNonBlockingLineSocket*, DWORD) override { Count(closes); }
  void OnConnect(KestNet::TcpNonBlockingLineSocket*, DWORD) override { Count(connects); }
  void OnOutOfBandData(KestNet::TcpNonBlockingLineSocket*, DWORD) override {}
  void OnReceive(KestNet::TcpNonBlockingLineSocket*, DWORD) override {}
  void OnSend(KestNet::TcpNonBlockingLineSocket*, DWORD) override {}
  void OnReceiveLine(KestNet::TcpNonBlockingLineSocket*, DWORD) override {}

  bool WaitFor(int& counter, int above) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return counter > above; });
  }
  int Read(int& counter) {
    std::lock_guard<std::mutex> lock(mutex_);
    return counter;
  }

  int connects = 0;
  int closes = 0;

 private:
  void Count(int& counter) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counter;
    changed_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable changed_;
};

void LineSocketConnectCloseCycle(benchmark::State& state) {
  BenchEnvironment environment;
  KestNet::InitializeSockets();
  {
    LoopbackServer server(1024);
    WaitingLineListener listener;
    KestNet::TcpNonBlockingLineSocket socket;
    for (auto _ : state) {
      const int connects = listener.Read(listener.connects);
      const int closes = listener.Read(listener.closes);
      socket.Create(&listener);
      socket.Connect(std::string("127.0.0.1"), server.Port());
      if (!listener.WaitFor(listener.connects, connects)) state.SkipWithError("no OnConnect");
      Descriptor accepted = server.Accept();
      socket.Close(false);
      if (!listener.WaitFor(listener.closes, closes)) state.SkipWithError("no OnClose");
    }
  }
  KestNet::UninitializeSockets();
}
BENCHMARK(LineSocketConnectCloseCycle)->Unit(benchmark::kMicrosecond)->UseRealTime();

void ObjectBlockingSocketTest(benchmark::State& state) {
  BenchEnvironment environment;
  LoopbackServer server(1024);
  {
    ATL::CComPtr<IDispatch> object;
    KestAXLib::CTcpClientSocket::_CreatorClass::CreateInstance(nullptr, IID_IDispatch,
                                                               reinterpret_cast<void**>(&object));
    for (auto _ : state) {
      std::vector<VARIANT> arguments = {Long(5000), Long(server.Port()), Text(L"127.0.0.1")};
      DISPPARAMS params{arguments.data(), nullptr, 3, 0};
      VARIANT result;
      VariantInit(&result);
      object->Invoke(kBlockingSocketTest, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                     nullptr, nullptr);
      for (VARIANT& argument : arguments) VariantClear(&argument);
      if (result.vt != VT_BOOL || result.boolVal != VARIANT_TRUE) state.SkipWithError("the port was not accepted");
      Descriptor accepted = server.Accept();
    }
  }
}
BENCHMARK(ObjectBlockingSocketTest)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BareCConnectTest(benchmark::State& state) {
  LoopbackServer server(1024);
  for (auto _ : state) {
    if (!BareConnectTest(server.Port(), 5000)) state.SkipWithError("the port was not accepted");
    Descriptor accepted = server.Accept();
  }
}
BENCHMARK(BareCConnectTest)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
