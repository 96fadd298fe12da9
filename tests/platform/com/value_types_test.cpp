// GUID text forms, BSTR allocation and VARIANT ownership.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "tests/platform/com/com_test_support.h"

namespace kestnet::platform::testing {
namespace {

constexpr GUID kPingClsid = {0x2E13BB93, 0x7F91, 0x4DFB, {0xB7, 0x54, 0x51, 0x35, 0xB0, 0x45, 0x3D, 0x22}};

TEST(GuidText, WritesTheRegistryFormWithUpperCaseDigits) {
  wchar_t buffer[kGuidStringLength];
  ASSERT_EQ(StringFromGUID2(kPingClsid, buffer, kGuidStringLength), kGuidStringLength);
  EXPECT_STREQ(buffer, L"{2E13BB93-7F91-4DFB-B754-5135B0453D22}");
  EXPECT_EQ(StringFromGUID2(kPingClsid, buffer, kGuidStringLength - 1), 0);
}

TEST(GuidText, ParsesAnyLetterCaseAsTheScriptsWriteIt) {
  CLSID parsed{};
  ASSERT_EQ(CLSIDFromString(L"{2E13BB93-7F91-4dfb-B754-5135B0453D22}", &parsed), S_OK);
  EXPECT_EQ(parsed, kPingClsid);
  LPOLESTR text = nullptr;
  ASSERT_EQ(StringFromCLSID(parsed, &text), S_OK);
  EXPECT_STREQ(text, L"{2E13BB93-7F91-4DFB-B754-5135B0453D22}");
  CoTaskMemFree(text);
}

TEST(GuidText, RejectsMalformedText) {
  const wchar_t* bad[] = {L"", L"2E13BB93-7F91-4DFB-B754-5135B0453D22", L"{2E13BB93-7F91-4DFB-B754-5135B0453D2}",
                          L"{2E13BB93-7F91-4DFB-B754-5135B0453D22", L"{2E13BB93_7F91-4DFB-B754-5135B0453D22}",
                          L"{2E13BB93-7F91-4DFB-B754-5135B0453D2G}", L"{2E13BB93-7F91-4DFB-B754-5135B0453D22}x"};
  for (const wchar_t* text : bad) {
    CLSID parsed = kPingClsid;
    EXPECT_EQ(CLSIDFromString(text, &parsed), CO_E_CLASSSTRING) << Narrow(text);
    EXPECT_EQ(parsed, GUID_NULL);
  }
  CLSID parsed{};
  EXPECT_EQ(CLSIDFromString(nullptr, &parsed), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromString(L"{2E13BB93-7F91-4DFB-B754-5135B0453D22}", nullptr), E_INVALIDARG);
  IID iid{};
  EXPECT_EQ(IIDFromString(L"nonsense", &iid), E_INVALIDARG);
}

TEST(GuidText, NewGuidsAreRandomVersionFour) {
  GUID first{};
  GUID second{};
  ASSERT_EQ(CoCreateGuid(&first), S_OK);
  ASSERT_EQ(CoCreateGuid(&second), S_OK);
  EXPECT_FALSE(first == second);
  EXPECT_EQ(first.Data3 >> 12, 4);
  EXPECT_EQ(first.Data4[0] & 0xC0, 0x80);
}

TEST(HResultNames, NameTheCodesScriptsSee) {
  EXPECT_STREQ(HResultName(DISP_E_EXCEPTION), "DISP_E_EXCEPTION");
  EXPECT_STREQ(HResultName(CONNECT_E_ADVISELIMIT), "CONNECT_E_ADVISELIMIT");
  EXPECT_STREQ(HResultName(S_OK), "S_OK");
  EXPECT_EQ(HResultName(0x12345678), nullptr);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), static_cast<HRESULT>(0x8007007Eu));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SUCCESS), S_OK);
}

TEST(Bstr, KeepsLengthPrefixAndEmbeddedNulls) {
  const wchar_t text[] = {L'a', L'\0', L'b'};
  BSTR value = SysAllocStringLen(text, 3);
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(SysStringLen(value), 3u);
  EXPECT_EQ(SysStringByteLen(value), 3 * sizeof(wchar_t));
  EXPECT_EQ(value[1], L'\0');
  EXPECT_EQ(value[3], L'\0');  // terminated after the counted characters
  // The byte count sits right before the first character, as on Windows.
  DWORD prefix = 0;
  std::memcpy(&prefix, reinterpret_cast<const char*>(value) - sizeof(DWORD), sizeof prefix);
  EXPECT_EQ(prefix, 3 * sizeof(wchar_t));
  SysFreeString(value);
}

TEST(Bstr, NullIsTheEmptyString) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
  BSTR zeroed = SysAllocStringLen(nullptr, 4);
  ASSERT_NE(zeroed, nullptr);
  EXPECT_EQ(SysStringLen(zeroed), 4u);
  EXPECT_EQ(zeroed[0], L'\0');
  SysFreeString(zeroed);
}

TEST(Bstr, ReallocatesFromItsOwnCharacters) {
  BSTR value = SysAllocString(L"hello world");
  ASSERT_TRUE(SysReAllocString(&value, value + 6));
  EXPECT_STREQ(value, L"world");
  EXPECT_FALSE(SysReAllocString(nullptr, L"x"));
  SysFreeString(value);
}

TEST(Bstr, ByteLengthAllocationRoundsUpToWholeCharacters) {
  BSTR value = SysAllocStringByteLen("abcde", 5);
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(SysStringByteLen(value), 5u);
  EXPECT_EQ(SysStringLen(value), 1u);
  EXPECT_EQ(std::memcmp(value, "abcde", 5), 0);
  SysFreeString(value);
}

class VariantOwnership : public ComTest {};

TEST_F(VariantOwnership, CopyIsDeepAndClearFreesEverything) {
  VARIANT original;
  VariantInit(&original);
  original.vt = VT_BSTR;
  original.bstrVal = SysAllocString(L"text");
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, &original), S_OK);
  EXPECT_NE(copy.bstrVal, original.bstrVal);
  EXPECT_STREQ(copy.bstrVal, L"text");
  EXPECT_EQ(VariantClear(&original), S_OK);
  EXPECT_EQ(original.vt, VT_EMPTY);
  EXPECT_STREQ(copy.bstrVal, L"text");
  EXPECT_EQ(VariantClear(&copy), S_OK);
  EXPECT_EQ(LeakedBstrs(), 0);
}

TEST_F(VariantOwnership, CopyIntoAVariantFreesWhatItHeld) {
  ATL::CComVariant target(L"old");
  ATL::CComVariant source(L"new");
  ASSERT_EQ(VariantCopy(&target, &source), S_OK);
  EXPECT_STREQ(target.bstrVal, L"new");
  target.Clear();
  source.Clear();
  EXPECT_EQ(LeakedBstrs(), 0);
}

TEST_F(VariantOwnership, ByrefVariantsOwnNothingAndDereferenceOnCopyInd) {
  BSTR text = SysAllocString(L"referenced");
  VARIANT reference;
  VariantInit(&reference);
  reference.vt = VT_BYREF | VT_BSTR;
  reference.pbstrVal = &text;
  VARIANT shallow;
  VariantInit(&shallow);
  ASSERT_EQ(VariantCopy(&shallow, &reference), S_OK);
  EXPECT_EQ(shallow.pbstrVal, &text);
  EXPECT_EQ(VariantClear(&shallow), S_OK);  // frees nothing
  VARIANT owned;
  VariantInit(&owned);
  ASSERT_EQ(VariantCopyInd(&owned, &reference), S_OK);
  EXPECT_EQ(owned.vt, VT_BSTR);
  EXPECT_STREQ(owned.bstrVal, L"referenced");
  EXPECT_NE(owned.bstrVal, text);
  VariantClear(&owned);
  VariantClear(&reference);
  SysFreeString(text);
  EXPECT_EQ(LeakedBstrs(), 0);
}

TEST_F(VariantOwnership, CopyIndFollowsAVariantReferenceInPlace) {
  ATL::CComVariant inner(42);
  VARIANT reference;
  VariantInit(&reference);
  reference.vt = VT_BYREF | VT_VARIANT;
  reference.pvarVal = &inner;
  ASSERT_EQ(VariantCopyInd(&reference, &reference), S_OK);
  EXPECT_EQ(reference.vt, VT_I4);
  EXPECT_EQ(reference.lVal, 42);
}

TEST_F(VariantOwnership, RefusesUnknownTypes) {
  VARIANT bad;
  VariantInit(&bad);
  bad.vt = 0x0FFF;
  VARIANT copy;
  VariantInit(&copy);
  EXPECT_EQ(VariantCopy(&copy, &bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  bad.vt = VT_VARIANT;  // a VARIANT never holds a VARIANT by value
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
  EXPECT_EQ(VariantCopy(nullptr, &copy), E_INVALIDARG);
}

TEST_F(VariantOwnership, AtlWrappersMoveWithoutCopyingAndDetachHandsOver) {
  ATL::CComBSTR first(L"abc");
  BSTR raw = first.m_str;
  ATL::CComBSTR second(std::move(first));
  EXPECT_EQ(second.m_str, raw);
  EXPECT_EQ(first.m_str, nullptr);  // NOLINT: moved-from state is defined
  ATL::CComBSTR copy(second);
  EXPECT_NE(copy.m_str, raw);
  EXPECT_TRUE(copy == second);
  BSTR detached = copy.Detach();
  EXPECT_EQ(copy.m_str, nullptr);
  SysFreeString(detached);
  // Attach takes the caller's reference over: one Release ends the object.
  const BYTE bytes[] = {1};
  ATL::CComPtr<IStream> stream;
  stream.Attach(SHCreateMemStream(bytes, sizeof bytes));
  ASSERT_TRUE(stream);
  EXPECT_EQ(stream.Detach()->Release(), 0u);
  // operator& frees the old string before handing out the slot.
  BSTR* slot = &second;
  EXPECT_EQ(*slot, nullptr);
  *slot = SysAllocString(L"out");
  EXPECT_EQ(second.Length(), 3u);
  second.Empty();

  {
    ATL::CComVariant deep(L"deep");
    ATL::CComVariant copied(deep);
    EXPECT_NE(copied.bstrVal, deep.bstrVal);
    ATL::CComVariant moved(std::move(copied));
    EXPECT_EQ(copied.vt, VT_EMPTY);  // NOLINT: moved-from state is defined
    EXPECT_EQ(std::wstring(moved.bstrVal), L"deep");
  }

  ATL::CComVariant variant(L"value");
  VARIANT target;
  VariantInit(&target);
  ASSERT_EQ(variant.Detach(&target), S_OK);
  EXPECT_EQ(variant.vt, VT_EMPTY);
  EXPECT_EQ(target.vt, VT_BSTR);
  VariantClear(&target);
  // Receive frees what is held before a callee fills the slot.
  variant = L"held";
  VARIANT* out = variant.Receive();
  EXPECT_EQ(out->vt, VT_EMPTY);
  out->vt = VT_BSTR;
  out->bstrVal = SysAllocString(L"out");
  EXPECT_EQ(std::wstring(variant.bstrVal), L"out");
  variant.Clear();
  EXPECT_EQ(LeakedBstrs(), 0);
}

}  // namespace
}  // namespace kestnet::platform::testing
