// VariantChangeType: the coercions late-bound calls apply to their arguments.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/platform/com/com_test_support.h"

namespace kestnet::platform::testing {
namespace {

VARIANT Make(VARTYPE vt) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  return v;
}
VARIANT FromText(const wchar_t* text) {
  VARIANT v = Make(VT_BSTR);
  v.bstrVal = SysAllocString(text);
  return v;
}
VARIANT FromLong(LONG value) {
  VARIANT v = Make(VT_I4);
  v.lVal = value;
  return v;
}
VARIANT FromDouble(double value) {
  VARIANT v = Make(VT_R8);
  v.dblVal = value;
  return v;
}
VARIANT FromBool(bool value) {
  VARIANT v = Make(VT_BOOL);
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

struct IntegerCase {
  const char* name;
  VARIANT (*make)();
  VARTYPE target;
  HRESULT expected;
  long long value;  // compared when expected is S_OK
};

long long IntegerOf(const VARIANT& v) {
  switch (v.vt) {
    case VT_I2: return v.iVal;
    case VT_I4: case VT_INT: return v.lVal;
    case VT_UI4: return v.ulVal;
    case VT_UI1: return v.bVal;
    case VT_BOOL: return v.boolVal;
    default: return -999999;
  }
}

class IntegerCoercion : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(IntegerCoercion, GivesTheOleResult) {
  const IntegerCase& c = GetParam();
  VARIANT source = c.make();
  VARIANT result;
  VariantInit(&result);
  HRESULT hr = VariantChangeType(&result, &source, 0, c.target);
  EXPECT_EQ(hr, c.expected);
  if (c.expected == S_OK) {
    EXPECT_EQ(result.vt, c.target);
    EXPECT_EQ(IntegerOf(result), c.value);
  } else {
    EXPECT_EQ(result.vt, VT_EMPTY);  // untouched on failure
  }
  VariantClear(&result);
  VariantClear(&source);
}

const IntegerCase kIntegerCases[] = {
    {"TextToLong", [] { return FromText(L"42"); }, VT_I4, S_OK, 42},
    {"TextWithBlanksToLong", [] { return FromText(L"  -17 "); }, VT_I4, S_OK, -17},
    {"HexTextToLong", [] { return FromText(L"&H1F"); }, VT_I4, S_OK, 31},
    {"DecimalTextRoundsToEven", [] { return FromText(L"2.5"); }, VT_I4, S_OK, 2},
    {"WordTextToLong", [] { return FromText(L"forty"); }, VT_I4, DISP_E_TYPEMISMATCH, 0},
    {"EmptyTextToLong", [] { return FromText(L""); }, VT_I4, DISP_E_TYPEMISMATCH, 0},
    {"InfinityTextIsNotANumber", [] { return FromText(L"inf"); }, VT_I4, DISP_E_TYPEMISMATCH, 0},
    {"HugeTextOverflowsLong", [] { return FromText(L"99999999999"); }, VT_I4, DISP_E_OVERFLOW, 0},
    {"LongToShort", [] { return FromLong(1234); }, VT_I2, S_OK, 1234},
    {"LongTooBigForShort", [] { return FromLong(40000); }, VT_I2, DISP_E_OVERFLOW, 0},
    {"NegativeLongToUnsigned", [] { return FromLong(-1); }, VT_UI4, DISP_E_OVERFLOW, 0},
    {"RealRoundsHalfToEven", [] { return FromDouble(3.5); }, VT_I4, S_OK, 4},
    {"NegativeRealRoundsHalfToEven", [] { return FromDouble(-2.5); }, VT_I2, S_OK, -2},
    {"RealTooBigForLong", [] { return FromDouble(3e10); }, VT_I4, DISP_E_OVERFLOW, 0},
    {"TrueIsMinusOne", [] { return FromBool(true); }, VT_I4, S_OK, -1},
    {"LongToBool", [] { return FromLong(7); }, VT_BOOL, S_OK, VARIANT_TRUE},
    {"ZeroToBool", [] { return FromLong(0); }, VT_BOOL, S_OK, VARIANT_FALSE},
    {"TrueTextToBool", [] { return FromText(L"true"); }, VT_BOOL, S_OK, VARIANT_TRUE},
    {"FalseTextToBool", [] { return FromText(L"False"); }, VT_BOOL, S_OK, VARIANT_FALSE},
    {"NumberTextToBool", [] { return FromText(L"0"); }, VT_BOOL, S_OK, VARIANT_FALSE},
    {"EmptyToLong", [] { return Make(VT_EMPTY); }, VT_I4, S_OK, 0},
    {"NullToLong", [] { return Make(VT_NULL); }, VT_I4, DISP_E_TYPEMISMATCH, 0},
    {"ErrorToLong", [] { return Make(VT_ERROR); }, VT_I4, DISP_E_TYPEMISMATCH, 0},
    {"LongToInt", [] { return FromLong(5); }, VT_INT, S_OK, 5},
    {"ByteOverflow", [] { return FromLong(256); }, VT_UI1, DISP_E_OVERFLOW, 0},
};

INSTANTIATE_TEST_SUITE_P(Table, IntegerCoercion, ::testing::ValuesIn(kIntegerCases),
                         [](const ::testing::TestParamInfo<IntegerCase>& param) { return std::string(param.param.name); });

std::wstring AsText(VARIANT source, USHORT flags = 0) {
  VARIANT result;
  VariantInit(&result);
  HRESULT hr = VariantChangeType(&result, &source, flags, VT_BSTR);
  std::wstring text = SUCCEEDED(hr) ? Text(result.bstrVal) : L"<failed>";
  VariantClear(&result);
  VariantClear(&source);
  return text;
}

TEST(TextCoercion, FormatsNumbersBooleansAndEmpty) {
  EXPECT_EQ(AsText(FromLong(-42)), L"-42");
  EXPECT_EQ(AsText(FromDouble(2.5)), L"2.5");
  EXPECT_EQ(AsText(FromDouble(0.1)), L"0.1");
  EXPECT_EQ(AsText(FromBool(true)), L"-1");
  EXPECT_EQ(AsText(FromBool(true), VARIANT_ALPHABOOL), L"True");
  EXPECT_EQ(AsText(FromBool(false), VARIANT_ALPHABOOL), L"False");
  EXPECT_EQ(AsText(Make(VT_EMPTY)), L"");
  EXPECT_EQ(AsText(Make(VT_NULL)), L"<failed>");
}

TEST(TextCoercion, ConvertsInPlaceWithoutLeaking) {
  long before = LiveBstrCount();
  VARIANT value = FromText(L"12");
  ASSERT_EQ(VariantChangeType(&value, &value, 0, VT_I4), S_OK);
  EXPECT_EQ(value.vt, VT_I4);
  EXPECT_EQ(value.lVal, 12);
  ASSERT_EQ(VariantChangeType(&value, &value, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(value.bstrVal), L"12");
  VariantClear(&value);
  EXPECT_EQ(LiveBstrCount(), before);
}

TEST(TextCoercion, ReadsThroughByrefSources) {
  LONG number = 77;
  VARIANT reference = Make(VT_BYREF | VT_I4);
  reference.plVal = &number;
  EXPECT_EQ(AsText(reference), L"77");
  ATL::CComVariant inner(L"8");
  VARIANT variantRef = Make(VT_BYREF | VT_VARIANT);
  variantRef.pvarVal = &inner;
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(VariantChangeType(&result, &variantRef, 0, VT_I2), S_OK);
  EXPECT_EQ(result.iVal, 8);
}

TEST(TextCoercion, RealTargetsAcceptExponentsAndRefuseWords) {
  VARIANT source = FromText(L"1.5e3");
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(VariantChangeType(&result, &source, 0, VT_R8), S_OK);
  EXPECT_DOUBLE_EQ(result.dblVal, 1500.0);
  VariantClear(&source);
  source = FromText(L"nan");
  EXPECT_EQ(VariantChangeType(&result, &source, 0, VT_R8), DISP_E_TYPEMISMATCH);
  VariantClear(&source);
}

TEST(TextCoercion, RefusesByrefAndVariantTargets) {
  VARIANT source = FromLong(1);
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(VariantChangeType(&result, &source, 0, VT_BYREF | VT_I4), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(&result, &source, 0, VT_VARIANT), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(nullptr, &source, 0, VT_I4), E_INVALIDARG);
}

TEST(ArrayCoercion, OnlyTheSameArrayTypeIsAccepted) {
  VARIANT array = Make(VT_ARRAY | VT_VARIANT);
  array.parray = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(VariantChangeType(&result, &array, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(VariantChangeType(&result, &array, 0, VT_ARRAY | VT_VARIANT), S_OK);
  EXPECT_NE(result.parray, array.parray);  // a copy
  VariantClear(&result);
  VariantClear(&array);
}

}  // namespace
}  // namespace kestnet::platform::testing
