// Type library descriptions: validation, and loading by path.
#include <gtest/gtest.h>

#include "tests/platform/com/com_test_support.h"

namespace kestnet::platform::testing {
namespace {

constexpr IID kIid = {0x0BADF00D, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};
constexpr GUID kLibid = {0x0BADF00D, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 11}};

HRESULT Build(std::span<const MemberDescription> members) {
  const InterfaceDescription iface = Dual(L"IBad", kIid, members);
  const InterfaceDescription* interfaces[] = {&iface};
  const TypeLibDescription library = {L"Bad", kLibid, 1, 0, L"", interfaces, {}};
  ITypeLib* built = nullptr;
  HRESULT hr = CreateTypeLibFromDescription(&library, &built);
  if (built != nullptr) built->Release();
  return hr;
}

TEST(TypeLibDescriptions, RefuseInconsistentDescriptions) {
  static constexpr ParamDescription retvalFirst[] = {RetVal(L"Out", VT_I4), In(L"In", VT_I4)};
  static constexpr MemberDescription retvalNotLast[] = {Method(1, L"M", retvalFirst)};
  EXPECT_EQ(Build(retvalNotLast), TYPE_E_INVALIDSTATE);

  static constexpr ParamDescription optionalFirst[] = {Optional(L"A", VT_I4, DefaultLong(1)), In(L"B", VT_I4)};
  static constexpr MemberDescription requiredAfterOptional[] = {Method(1, L"M", optionalFirst)};
  EXPECT_EQ(Build(requiredAfterOptional), TYPE_E_INVALIDSTATE);

  static constexpr MemberDescription duplicate[] = {Method(1, L"A"), Method(1, L"B")};
  EXPECT_EQ(Build(duplicate), TYPE_E_INVALIDSTATE);

  static constexpr ParamDescription oneLong[] = {RetVal(L"Value", VT_I4)};
  static constexpr ParamDescription setLong[] = {In(L"Value", VT_I4)};
  static constexpr MemberDescription getAndPut[] = {PropertyGet(1, L"P", oneLong), PropertyPut(1, L"P", setLong)};
  EXPECT_EQ(Build(getAndPut), S_OK);

  EXPECT_EQ(CreateTypeLibFromDescription(nullptr, nullptr), E_POINTER);
}

TEST(TypeLibDescriptions, EventInterfacesAreNotInvokedThroughTypeInfo) {
  static constexpr MemberDescription members[] = {Method(1, L"OnEvent")};
  const InterfaceDescription events = Events(L"IEvents", kIid, members);
  const InterfaceDescription* interfaces[] = {&events};
  const TypeLibDescription library = {L"Events", kLibid, 1, 0, L"", interfaces, {}};
  ATL::CComPtr<ITypeLib> built;
  ASSERT_EQ(CreateTypeLibFromDescription(&library, &built), S_OK);
  ATL::CComPtr<ITypeInfo> info;
  ASSERT_EQ(built->GetTypeInfoOfGuid(kIid, &info), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->wTypeFlags & TYPEFLAG_FDUAL, 0);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  int dummy = 0;
  EXPECT_EQ(info->Invoke(&dummy, 1, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), TYPE_E_BADMODULEKIND);
  BOOL found = FALSE;
  ASSERT_EQ(built->IsName(const_cast<LPOLESTR>(L"onevent"), 0, &found), S_OK);
  EXPECT_TRUE(found);
}

class TypeLibFiles : public ComTest {};

TEST_F(TypeLibFiles, LoadingSomethingThatIsNoTypeLibraryFails) {
  ITypeLib* library = nullptr;
  EXPECT_EQ(LoadTypeLib(L"no-such-library.so", &library), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(LoadTypeLib(L"libm.so.6", &library), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(library, nullptr);
  EXPECT_EQ(LoadTypeLib(nullptr, &library), E_INVALIDARG);
  EXPECT_EQ(UnRegisterTypeLib(kLibid, 1, 0, 0, SYS_WIN64), TYPE_E_LIBNOTREGISTERED);
  BSTR path = nullptr;
  EXPECT_EQ(QueryPathOfRegTypeLib(kLibid, 1, 0, 0, &path), TYPE_E_LIBNOTREGISTERED);
}

TEST_F(TypeLibFiles, ModuleLoadsByPathWithItsDescription) {
  ATL::CComPtr<ITypeLib> library;
  ASSERT_EQ(LoadTypeLib(TestServerPath().c_str(), &library), S_OK);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(attr->wMajorVerNum, 1);
  ATL::CComBSTR name;
  ASSERT_EQ(library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(name.ToWString(), L"KestTestServer");
}

}  // namespace
}  // namespace kestnet::platform::testing
