// SAFEARRAY vectors: bounds, element ownership, locking.
#include <gtest/gtest.h>

#include "tests/platform/com/com_test_support.h"

namespace kestnet::platform::testing {
namespace {

class SafeArrayTest : public ComTest {};

TEST_F(SafeArrayTest, VectorReportsItsBoundsAndType) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 3);
  ASSERT_NE(array, nullptr);
  LONG lower = -1;
  LONG upper = -1;
  VARTYPE vt = VT_EMPTY;
  EXPECT_EQ(SafeArrayGetDim(array), 1u);
  EXPECT_EQ(SafeArrayGetLBound(array, 1, &lower), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(array, 1, &upper), S_OK);
  EXPECT_EQ(SafeArrayGetVartype(array, &vt), S_OK);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(upper, 2);
  EXPECT_EQ(vt, VT_VARIANT);
  EXPECT_EQ(SafeArrayGetElemsize(array), sizeof(VARIANT));
  EXPECT_EQ(SafeArrayGetLBound(array, 2, &lower), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST_F(SafeArrayTest, EmptyVectorHasUpperBoundBelowLower) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 0);
  ASSERT_NE(array, nullptr);
  LONG upper = 0;
  EXPECT_EQ(SafeArrayGetUBound(array, 1, &upper), S_OK);
  EXPECT_EQ(upper, -1);
  LONG index = 0;
  VARIANT element;
  EXPECT_EQ(SafeArrayGetElement(array, &index, &element), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST_F(SafeArrayTest, VariantElementsAreCopiedInAndOut) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 1, 2);
  ATL::CComVariant address(L"192.0.2.1");
  LONG index = 1;
  ASSERT_EQ(SafeArrayPutElement(array, &index, &address), S_OK);
  address.Clear();  // the array holds its own copy
  VARIANT out;
  ASSERT_EQ(SafeArrayGetElement(array, &index, &out), S_OK);
  EXPECT_EQ(out.vt, VT_BSTR);
  EXPECT_EQ(Text(out.bstrVal), L"192.0.2.1");
  VariantClear(&out);
  index = 0;
  EXPECT_EQ(SafeArrayPutElement(array, &index, &address), DISP_E_BADINDEX);
  index = 3;
  EXPECT_EQ(SafeArrayGetElement(array, &index, &out), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
  EXPECT_EQ(LeakedBstrs(), 0);
}

TEST_F(SafeArrayTest, BstrElementsAreOwnedAndReplaced) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, 2);
  BSTR text = SysAllocString(L"first");
  LONG index = 0;
  ASSERT_EQ(SafeArrayPutElement(array, &index, text), S_OK);
  ASSERT_EQ(SafeArrayPutElement(array, &index, text), S_OK);  // replaces and frees the old copy
  SysFreeString(text);
  BSTR out = nullptr;
  ASSERT_EQ(SafeArrayGetElement(array, &index, &out), S_OK);
  EXPECT_EQ(Text(out), L"first");
  SysFreeString(out);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
  EXPECT_EQ(LeakedBstrs(), 0);
}

TEST_F(SafeArrayTest, LockedArrayCannotBeDestroyedOrResized) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, 4);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
  static_cast<LONG*>(data)[3] = 99;
  EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
  SAFEARRAYBOUND bigger{8, 0};
  EXPECT_EQ(SafeArrayRedim(array, &bigger), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
  EXPECT_EQ(SafeArrayUnlock(array), E_UNEXPECTED);
  ASSERT_EQ(SafeArrayRedim(array, &bigger), S_OK);
  LONG index = 3;
  LONG value = 0;
  ASSERT_EQ(SafeArrayGetElement(array, &index, &value), S_OK);
  EXPECT_EQ(value, 99);
  index = 7;
  ASSERT_EQ(SafeArrayGetElement(array, &index, &value), S_OK);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST_F(SafeArrayTest, ShrinkingFreesTheDroppedElements) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, 3);
  for (LONG i = 0; i < 3; ++i) {
    ATL::CComBSTR text(L"x");
    ASSERT_EQ(SafeArrayPutElement(array, &i, text.m_str), S_OK);
  }
  SAFEARRAYBOUND smaller{1, 0};
  ASSERT_EQ(SafeArrayRedim(array, &smaller), S_OK);
  EXPECT_EQ(LeakedBstrs(), 1);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
  EXPECT_EQ(LeakedBstrs(), 0);
}

TEST_F(SafeArrayTest, CopyIsDeepForStrings) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, 1);
  LONG index = 0;
  ATL::CComBSTR text(L"kept");
  ASSERT_EQ(SafeArrayPutElement(array, &index, text.m_str), S_OK);
  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(array, &copy), S_OK);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
  BSTR out = nullptr;
  ASSERT_EQ(SafeArrayGetElement(copy, &index, &out), S_OK);
  EXPECT_EQ(Text(out), L"kept");
  SysFreeString(out);
  EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
}

TEST_F(SafeArrayTest, RefusesShapesAndTypesItDoesNotCarry) {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_I4, 2, bounds), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(VT_NULL, 0, 2), nullptr);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
  LONG bound = 0;
  EXPECT_EQ(SafeArrayGetLBound(nullptr, 1, &bound), E_INVALIDARG);
  EXPECT_EQ(SafeArrayPutElement(nullptr, &bound, nullptr), E_INVALIDARG);
}

}  // namespace
}  // namespace kestnet::platform::testing
