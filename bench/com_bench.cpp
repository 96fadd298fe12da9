// COM runtime costs on the paths every script call takes: a late-bound call
// through type information (argument coercion and the vtable call), the
// coercion alone, and BSTR allocation.
#include <benchmark/benchmark.h>

#include "platform/com/com.h"

using namespace kestnet::platform;

namespace {

constexpr IID kIid = {0x1B2C3D4E, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};

struct IAdder : IDispatch {
  STDMETHOD(Add)(LONG first, LONG second, LONG* sum) = 0;

 protected:
  ~IAdder() = default;
};

constexpr ParamDescription kAddParams[] = {In(L"First", VT_I4), Optional(L"Second", VT_I4, DefaultLong(1)),
                                           RetVal(L"Sum", VT_I4)};
constexpr MemberDescription kMembers[] = {Method(1, L"Add", kAddParams)};
constexpr InterfaceDescription kIAdder = Dual(L"IAdder", kIid, kMembers);
constexpr const InterfaceDescription* kInterfaces[] = {&kIAdder};
constexpr TypeLibDescription kLibrary = {L"Bench", kIid, 1, 0, L"", kInterfaces, {}};

class Adder final : public IAdder {
 public:
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    *ppv = this;
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Add(LONG first, LONG second, LONG* sum) override {
    *sum = first + second;
    return S_OK;
  }
};

void LateBoundCall(benchmark::State& state, bool textArgument) {
  ITypeLib* library = nullptr;
  CreateTypeLibFromDescription(&kLibrary, &library);
  ITypeInfo* info = nullptr;
  library->GetTypeInfoOfGuid(kIid, &info);
  Adder adder;
  ATL::CComVariant args[2];
  args[1] = textArgument ? ATL::CComVariant(L"40") : ATL::CComVariant(40);
  args[0] = ATL::CComVariant(2);
  DISPPARAMS params{args, nullptr, 2, 0};
  for (auto _ : state) {
    VARIANT result;
    HRESULT hr = info->Invoke(static_cast<IAdder*>(&adder), 1, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    benchmark::DoNotOptimize(hr);
    benchmark::DoNotOptimize(result.lVal);
  }
  info->Release();
  library->Release();
}

void BM_InvokeThroughTypeInfo(benchmark::State& state) { LateBoundCall(state, false); }
void BM_InvokeThroughTypeInfoWithTextArgument(benchmark::State& state) { LateBoundCall(state, true); }

void BM_CoerceTextToLong(benchmark::State& state) {
  ATL::CComVariant text(L"12345");
  for (auto _ : state) {
    VARIANT result;
    VariantInit(&result);
    benchmark::DoNotOptimize(VariantChangeType(&result, &text, 0, VT_I4));
    benchmark::DoNotOptimize(result.lVal);
  }
}

void BM_BstrAllocateAndFree(benchmark::State& state) {
  for (auto _ : state) {
    BSTR text = SysAllocString(L"192.0.2.1");
    benchmark::DoNotOptimize(text);
    SysFreeString(text);
  }
}

BENCHMARK(BM_InvokeThroughTypeInfo);
BENCHMARK(BM_InvokeThroughTypeInfoWithTextArgument);
BENCHMARK(BM_CoerceTextToLong);
BENCHMARK(BM_BstrAllocateAndFree);

}  // namespace

BENCHMARK_MAIN();
