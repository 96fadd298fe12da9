// Apartments, error information, the Global Interface Table and streams.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/msg/message.h"
#include "platform/sync/thread.h"
#include "tests/platform/com/com_test_support.h"

namespace kestnet::platform::testing {
namespace {

// A minimal object that counts its references and the threads that call it.
class CountingObject final : public IDispatch {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
  STDMETHODIMP_(ULONG) Release() override { return --references; }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    ++calls;
    caller = std::this_thread::get_id();
    return S_OK;
  }

  std::atomic<ULONG> references{1};
  std::atomic<int> calls{0};
  std::thread::id caller;
};

TEST(Apartment, CountsPerThreadAndRefusesTheOtherModel) {
  std::thread worker([] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    EXPECT_EQ(CoGetApartmentType(&type, &qualifier), S_OK);
    EXPECT_EQ(type, APTTYPE_STA);
    CoUninitialize();
    EXPECT_EQ(CoGetApartmentType(&type, &qualifier), S_OK);  // still in, one call left
    CoUninitialize();
    EXPECT_EQ(CoGetApartmentType(&type, &qualifier), CO_E_NOTINITIALIZED);
    // Left entirely: the other model is now allowed.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
    CoUninitialize();  // unbalanced: harmless
  });
  worker.join();
}

TEST(Apartment, ApartmentThreadOwnsAMessageQueue) {
  std::thread worker([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    DWORD self = GetCurrentThreadId();
    // Posting to a thread succeeds only when it has a queue.
    EXPECT_TRUE(PostThreadMessageW(self, WM_USER + 7, 3, 4));
    MSG message{};
    ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, WM_USER + 7);
    CoUninitialize();
  });
  worker.join();
}

TEST(Apartment, ImplicitMultithreadedApartmentServesUninitialisedThreads) {
  std::atomic<bool> mtaReady{false};
  std::atomic<bool> done{false};
  std::thread mta([&] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    mtaReady = true;
    while (!done) std::this_thread::yield();
    CoUninitialize();
  });
  while (!mtaReady) std::this_thread::yield();
  std::thread bystander([] {
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    EXPECT_EQ(CoGetApartmentType(&type, &qualifier), S_OK);
    EXPECT_EQ(type, APTTYPE_MTA);
    EXPECT_EQ(qualifier, APTTYPEQUALIFIER_IMPLICIT_MTA);
  });
  bystander.join();
  done = true;
  mta.join();
}

TEST(Apartment, RejectsReservedArgumentsAndUnknownFlags) {
  int reserved = 0;
  EXPECT_EQ(CoInitializeEx(&reserved, COINIT_MULTITHREADED), E_INVALIDARG);
  EXPECT_EQ(CoInitializeEx(nullptr, 0x100), E_INVALIDARG);
}

// A scoped initialiser on a thread that already has `before` (kNoApartment:
// none): its result, the apartment inside the scope, and the thread left as
// it was when the scope ends.
constexpr int kNoApartment = -1;
struct ScopedInitializerCase {
  const char* name;
  int before;
  ScopedComInitializer::Model model;
  HRESULT result;
  APTTYPE inside;
};

class ScopedComInitializerTest : public ::testing::TestWithParam<ScopedInitializerCase> {};

HRESULT ApartmentOf(APTTYPE* type) {
  APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
  return CoGetApartmentType(type, &qualifier);
}

TEST_P(ScopedComInitializerTest, EntersByItsModelAndLeavesTheThreadAsItWas) {
  const ScopedInitializerCase& c = GetParam();
  std::thread worker([&c] {
    if (c.before != kNoApartment) {
      ASSERT_EQ(CoInitializeEx(nullptr, static_cast<DWORD>(c.before)), S_OK);
    }
    APTTYPE type = APTTYPE_CURRENT;
    {
      ScopedComInitializer com(c.model);
      EXPECT_EQ(com.Result(), c.result);
      EXPECT_EQ(com.Succeeded(), SUCCEEDED(c.result));
      EXPECT_EQ(ApartmentOf(&type), S_OK);
      EXPECT_EQ(type, c.inside);
    }
    if (c.before == kNoApartment) {
      EXPECT_EQ(ApartmentOf(&type), CO_E_NOTINITIALIZED);
      return;
    }
    // Exactly the thread's own entry is left.
    EXPECT_EQ(ApartmentOf(&type), S_OK);
    CoUninitialize();
    EXPECT_EQ(ApartmentOf(&type), CO_E_NOTINITIALIZED);
  });
  worker.join();
}

INSTANTIATE_TEST_SUITE_P(
    Models, ScopedComInitializerTest,
    ::testing::Values(
        ScopedInitializerCase{"WorkerEntersAnApartment", kNoApartment, ScopedComInitializer::kWorkerThread, S_OK,
                              APTTYPE_STA},
        ScopedInitializerCase{"WorkerJoinsTheMultithreadedApartmentItIsIn", COINIT_MULTITHREADED,
                              ScopedComInitializer::kWorkerThread, S_FALSE, APTTYPE_MTA},
        ScopedInitializerCase{"ApartmentRefusesAThreadInTheOtherModel", COINIT_MULTITHREADED,
                              ScopedComInitializer::kApartmentThreaded, RPC_E_CHANGED_MODE, APTTYPE_MTA},
        ScopedInitializerCase{"MultithreadedEnteredByAThreadOutsideCom", kNoApartment,
                              ScopedComInitializer::kMultithreadedUnlessInitialized, S_OK, APTTYPE_MTA},
        ScopedInitializerCase{"MultithreadedLeavesAnApartmentAlone", COINIT_APARTMENTTHREADED,
                              ScopedComInitializer::kMultithreadedUnlessInitialized, S_OK, APTTYPE_STA}),
    [](const ::testing::TestParamInfo<ScopedInitializerCase>& param) { return std::string(param.param.name); });

TEST(ScopedComInitializerFailure, ThrowsTheCallersExceptionWithTheResult) {
  struct Refused {
    Refused(LONG hr, const char*, ULONG) : result(hr) {}
    LONG result;
  };
  std::thread worker([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    try {
      ScopedComInitializer com(ScopedComInitializer::kApartmentThreaded, ThrowOnFailure<Refused>{});
      ADD_FAILURE() << "entered the other model";
    } catch (const Refused& refused) {
      EXPECT_EQ(refused.result, RPC_E_CHANGED_MODE);
    }
    CoUninitialize();
    APTTYPE type = APTTYPE_CURRENT;
    EXPECT_EQ(ApartmentOf(&type), CO_E_NOTINITIALIZED);
  });
  worker.join();
}

TEST(ErrorInformation, IsHandedOverOnceAndStaysOnItsThread) {
  ICreateErrorInfo* create = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  create->SetDescription(const_cast<LPOLESTR>(L"INVALID_ARG_ERROR"));
  create->SetSource(const_cast<LPOLESTR>(L"KestNet.KestNetDNS.1"));
  IErrorInfo* info = nullptr;
  ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
  create->Release();
  ASSERT_EQ(SetErrorInfo(0, info), S_OK);
  info->Release();

  std::thread other([] {
    IErrorInfo* none = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE);
    EXPECT_EQ(none, nullptr);
  });
  other.join();

  IErrorInfo* taken = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &taken), S_OK);
  ATL::CComBSTR description;
  ATL::CComBSTR source;
  taken->GetDescription(&description);
  taken->GetSource(&source);
  EXPECT_EQ(description.ToWString(), L"INVALID_ARG_ERROR");
  EXPECT_EQ(source.ToWString(), L"KestNet.KestNetDNS.1");
  taken->Release();
  IErrorInfo* again = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &again), S_FALSE);
  EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
  EXPECT_EQ(SetErrorInfo(1, nullptr), E_INVALIDARG);
}

TEST(ErrorInformation, LastUninitializeEmptiesTheSlot) {
  std::thread worker([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    ICreateErrorInfo* create = nullptr;
    ASSERT_EQ(CreateErrorInfo(&create), S_OK);
    IErrorInfo* info = nullptr;
    create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
    create->Release();
    SetErrorInfo(0, info);
    info->Release();
    CoUninitialize();
    IErrorInfo* left = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &left), S_FALSE);
  });
  worker.join();
}

TEST(GlobalInterfaceTable, HandsARegisteredObjectToAnotherThreadUntilRevoked) {
  ATL::CComPtr<IGlobalInterfaceTable> table;
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  ASSERT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                             reinterpret_cast<void**>(&table)),
            S_OK);
  CountingObject sink;
  DWORD cookie = 0;
  ASSERT_EQ(table->RegisterInterfaceInGlobal(&sink, IID_IDispatch, &cookie), S_OK);
  EXPECT_NE(cookie, 0u);
  EXPECT_EQ(sink.references.load(), 2u);  // the table's own reference

  std::thread caller([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    IDispatch* fetched = nullptr;
    ASSERT_EQ(table->GetInterfaceFromGlobal(cookie, IID_IDispatch, reinterpret_cast<void**>(&fetched)), S_OK);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(fetched->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK);
    fetched->Release();
    CoUninitialize();
  });
  std::thread::id callerId = caller.get_id();
  caller.join();
  EXPECT_EQ(sink.calls.load(), 1);
  EXPECT_EQ(sink.caller, callerId);

  DWORD second = 0;
  ASSERT_EQ(table->RegisterInterfaceInGlobal(&sink, IID_IUnknown, &second), S_OK);
  EXPECT_NE(second, cookie);
  EXPECT_EQ(table->RevokeInterfaceFromGlobal(cookie), S_OK);
  EXPECT_EQ(table->RevokeInterfaceFromGlobal(second), S_OK);
  EXPECT_EQ(sink.references.load(), 1u);
  IDispatch* gone = nullptr;
  EXPECT_EQ(table->GetInterfaceFromGlobal(cookie, IID_IDispatch, reinterpret_cast<void**>(&gone)), E_INVALIDARG);
  EXPECT_EQ(gone, nullptr);
  EXPECT_EQ(table->RevokeInterfaceFromGlobal(cookie), E_INVALIDARG);
  EXPECT_EQ(table->RegisterInterfaceInGlobal(nullptr, IID_IUnknown, &second), E_INVALIDARG);
  table.Release();
  CoUninitialize();
}

TEST(GlobalInterfaceTable, RegisterAndRevokeFromManyThreadsKeepsCountsExact) {
  CountingObject object;
  IGlobalInterfaceTable* table = GetGlobalInterfaceTable();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        DWORD cookie = 0;
        ASSERT_EQ(table->RegisterInterfaceInGlobal(&object, IID_IUnknown, &cookie), S_OK);
        IUnknown* fetched = nullptr;
        ASSERT_EQ(table->GetInterfaceFromGlobal(cookie, IID_IUnknown, reinterpret_cast<void**>(&fetched)), S_OK);
        fetched->Release();
        ASSERT_EQ(table->RevokeInterfaceFromGlobal(cookie), S_OK);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(object.references.load(), 1u);
}

TEST(MemoryStream, ReadsBackWhatWasWrittenAndReportsShortReads) {
  IStream* stream = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
  const char data[] = "marshalled";
  ULONG written = 0;
  ASSERT_EQ(stream->Write(data, sizeof data, &written), S_OK);
  EXPECT_EQ(written, sizeof data);
  LARGE_INTEGER start{};
  ULARGE_INTEGER position{};
  ASSERT_EQ(stream->Seek(start, STREAM_SEEK_SET, &position), S_OK);
  EXPECT_EQ(position.QuadPart, 0u);
  char buffer[32] = {};
  ULONG read = 0;
  EXPECT_EQ(stream->Read(buffer, sizeof buffer, &read), S_FALSE);
  EXPECT_EQ(read, sizeof data);
  EXPECT_STREQ(buffer, "marshalled");
  STATSTG stat{};
  ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(stat.cbSize.QuadPart, sizeof data);
  LARGE_INTEGER before{};
  before.QuadPart = -100;
  EXPECT_EQ(stream->Seek(before, STREAM_SEEK_CUR, nullptr), STG_E_INVALIDFUNCTION);
  EXPECT_EQ(stream->Read(nullptr, 1, nullptr), STG_E_INVALIDPOINTER);
  EXPECT_EQ(stream->Release(), 0u);
  EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, nullptr), E_INVALIDARG);
}

TEST(MemoryStream, CarriesAnInterfaceToAnotherThreadOnce) {
  CountingObject object;
  IStream* stream = nullptr;
  ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IDispatch, &object, &stream), S_OK);
  EXPECT_EQ(object.references.load(), 2u);
  std::thread receiver([&] {
    IDispatch* received = nullptr;
    ASSERT_EQ(CoGetInterfaceAndReleaseStream(stream, IID_IDispatch, reinterpret_cast<void**>(&received)), S_OK);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    received->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
    received->Release();
  });
  receiver.join();
  EXPECT_EQ(object.calls.load(), 1);
  EXPECT_EQ(object.references.load(), 1u);
}

TEST(MemoryStream, UnmarshalOfGarbageFailsCleanly) {
  const BYTE junk[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  IStream* stream = SHCreateMemStream(junk, sizeof junk);
  ASSERT_NE(stream, nullptr);
  IUnknown* out = nullptr;
  EXPECT_EQ(CoUnmarshalInterface(stream, IID_IUnknown, reinterpret_cast<void**>(&out)), E_INVALIDARG);
  EXPECT_EQ(out, nullptr);
  stream->Release();
}

}  // namespace
}  // namespace kestnet::platform::testing
