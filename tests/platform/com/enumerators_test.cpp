// Snapshot enumerators: references held, COM's Next/Skip rules, clones.
#include <gtest/gtest.h>

#include "tests/platform/com/com_test_support.h"

namespace kestnet::platform::testing {
namespace {

class Counted final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = riid == IID_IUnknown ? this : nullptr;
    if (*ppv == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
  STDMETHODIMP_(ULONG) Release() override { return --references; }
  ULONG references = 1;
};

TEST(Enumerators, ConnectionSnapshotOutlivesItsSourceAndReleasesOnce) {
  Counted first;
  Counted second;
  IEnumConnections* enumerator = nullptr;
  {
    CONNECTDATA source[] = {{&first, 1}, {&second, 2}};
    ASSERT_EQ(CreateEnumConnections(source, 2, &enumerator), S_OK);
  }
  EXPECT_EQ(first.references, 2u);
  CONNECTDATA fetched[3] = {};
  ULONG count = 0;
  EXPECT_EQ(enumerator->Next(3, fetched, &count), S_FALSE);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(fetched[0].dwCookie, 1u);
  EXPECT_EQ(fetched[1].pUnk, &second);
  EXPECT_EQ(second.references, 3u);  // the caller's reference on top of the snapshot's
  fetched[0].pUnk->Release();
  fetched[1].pUnk->Release();
  EXPECT_EQ(enumerator->Next(1, fetched, nullptr), S_FALSE);
  EXPECT_EQ(enumerator->Next(2, fetched, nullptr), E_POINTER);
  EXPECT_EQ(enumerator->Release(), 0u);
  EXPECT_EQ(first.references, 1u);
  EXPECT_EQ(second.references, 1u);
}

TEST(Enumerators, SkipResetAndCloneKeepTheirOwnPositions) {
  Counted items[3];
  IUnknown* pointers[] = {&items[0], &items[1], &items[2]};
  IEnumUnknown* enumerator = nullptr;
  ASSERT_EQ(CreateEnumUnknown(pointers, 3, &enumerator), S_OK);
  EXPECT_EQ(enumerator->Skip(2), S_OK);
  IEnumUnknown* clone = nullptr;
  ASSERT_EQ(enumerator->Clone(&clone), S_OK);
  EXPECT_EQ(enumerator->Skip(5), S_FALSE);
  IUnknown* next = nullptr;
  ASSERT_EQ(clone->Next(1, &next, nullptr), S_OK);
  EXPECT_EQ(next, &items[2]);
  next->Release();
  ASSERT_EQ(enumerator->Reset(), S_OK);
  ASSERT_EQ(enumerator->Next(1, &next, nullptr), S_OK);
  EXPECT_EQ(next, &items[0]);
  next->Release();
  enumerator->Release();
  EXPECT_EQ(items[0].references, 2u);  // the clone still shares the snapshot
  clone->Release();
  for (const Counted& item : items) EXPECT_EQ(item.references, 1u);
}

TEST(Enumerators, EmptyAndBadArguments) {
  IEnumConnectionPoints* enumerator = nullptr;
  ASSERT_EQ(CreateEnumConnectionPoints(nullptr, 0, &enumerator), S_OK);
  IConnectionPoint* point = nullptr;
  ULONG count = 9;
  EXPECT_EQ(enumerator->Next(1, &point, &count), S_FALSE);
  EXPECT_EQ(count, 0u);
  enumerator->Release();
  EXPECT_EQ(CreateEnumConnectionPoints(nullptr, 2, &enumerator), E_INVALIDARG);
  EXPECT_EQ(CreateEnumUnknown(nullptr, 0, nullptr), E_POINTER);
}

}  // namespace
}  // namespace kestnet::platform::testing
