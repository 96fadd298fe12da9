// The KestNet type library as clients read it: its types, help strings,
// default and source interfaces, and the dispids, parameters and defaults
// scripts depend on.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "automation/interfaces.h"
#include "automation/typelib.h"
#include "automation/typelib_ids.h"
#include "automation/typelib_macros.h"
#include "automation/typelib_table.h"
#include "platform/com/com.h"
#include "tests/automation/typelib_walk.h"

namespace {

using ATL::CComPtr;
using kestnet::testing::FindFunction;
using kestnet::testing::FunctionCount;

class TypeLibTest : public ::testing::Test {
 protected:
  void SetUp() override {
    library_.Attach(KestAXLib::KestNetTypeLib());
    ASSERT_NE(library_, nullptr);
  }

  CComPtr<ITypeInfo> InfoOf(REFGUID guid) {
    CComPtr<ITypeInfo> info;
    EXPECT_EQ(library_->GetTypeInfoOfGuid(guid, &info), S_OK);
    return info;
  }

  static std::wstring HelpString(ITypeInfo* info, MEMBERID member = MEMBERID_NIL) {
    BSTR doc = nullptr;
    EXPECT_EQ(info->GetDocumentation(member, nullptr, &doc, nullptr, nullptr), S_OK);
    std::wstring text = doc == nullptr ? L"" : doc;
    SysFreeString(doc);
    return text;
  }

  static DISPID IdOf(ITypeInfo* info, const wchar_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    MEMBERID id = MEMBERID_NIL;
    EXPECT_EQ(info->GetIDsOfNames(names, 1, &id), S_OK) << "no member named " << std::string(name, name + wcslen(name));
    return id;
  }

  CComPtr<ITypeLib> library_;
};

TEST_F(TypeLibTest, TheLibraryIsKestNetOneZeroWithThirtyOneTypes) {
  EXPECT_EQ(library_->GetTypeInfoCount(), 31u);
  TLIBATTR* attributes = nullptr;
  ASSERT_EQ(library_->GetLibAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->guid, LIBID_KestNet);
  EXPECT_EQ(attributes->wMajorVerNum, 1);
  EXPECT_EQ(attributes->wMinorVerNum, 0);
  library_->ReleaseTLibAttr(attributes);
  BSTR name = nullptr;
  BSTR doc = nullptr;
  ASSERT_EQ(library_->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_STREQ(name, L"KestNet");
  EXPECT_STREQ(doc, L"KestNet 1.0 Type Library");
  SysFreeString(name);
  SysFreeString(doc);
}

struct CoclassCase {
  const CLSID* clsid;
  const wchar_t* help;
  const IID* defaultInterface;
  const IID* source;  // null: fires no events
};

TEST_F(TypeLibTest, EachCoclassHasItsHelpStringDefaultInterfaceAndSource) {
  const CoclassCase cases[] = {
      {&CLSID_KestNetPing, L"KestNetPing Class", &IID_IKestNetPing, &IID_IKestNetPingEvents},
      {&CLSID_KestNetDNS, L"KestNetDNS Class", &IID_IKestNetDNS, &IID_IKestNetDNSEvents},
      {&CLSID_KestNetPOP3, L"KestNetPOP3 Class", &IID_IKestNetPOP3, &IID_IKestNetPOP3Events},
      {&CLSID_KestNetPOP3Ex, L"KestNetPOP3Ex Class", &IID_IKestNetPOP3Ex, &IID_IKestNetPOP3ExEvents},
      {&CLSID_KestNetSMTP, L"KestNetSMTP Class", &IID_IKestNetSMTP, &IID_IKestNetSMTPEvents},
      {&CLSID_KestNetSMTPEx, L"KestNetSMTP Class", &IID_IKestNetSMTPEx, &IID_IKestNetSMTPExEvents},
      {&CLSID_KestNetMessageData, L"KestNetMessageData Class", &IID_IKestNetMessageData, nullptr},
      {&CLSID_KestNetTcpClientSocket, L"KestNetTcpClientSocket Class", &IID_IKestNetTcpClientSocket,
       &IID_IKestNetTcpClientSocketEvents},
      {&CLSID_KestNetWindowsNetworkHost, L"KestNetWindowsNetworkHost Class", &IID_IKestNetWindowsNetworkHost,
       nullptr},
      {&CLSID_KestNetWindowsNetwork, L"KestNetWindowsNetwork Class", &IID_IKestNetWindowsNetwork,
       &IID_IKestNetWindowsNetworkEvents},
      {&CLSID_KestNetWindowsNetwork2, L"KestNetWindowsNetwork2 Class", &IID_IKestNetWindowsNetwork2,
       &IID_IKestNetWindowsNetwork2Events},
  };
  for (const CoclassCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "coclass " << std::string(c.help, c.help + wcslen(c.help)));
    CComPtr<ITypeInfo> coclass = InfoOf(*c.clsid);
    ASSERT_NE(coclass, nullptr);
    EXPECT_EQ(HelpString(coclass), c.help);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->typekind, TKIND_COCLASS);
    UINT implemented = attributes->cImplTypes;
    coclass->ReleaseTypeAttr(attributes);
    EXPECT_EQ(implemented, c.source == nullptr ? 1u : 2u);
    for (UINT i = 0; i < implemented; ++i) {
      INT flags = 0;
      ASSERT_EQ(coclass->GetImplTypeFlags(i, &flags), S_OK);
      HREFTYPE reference = 0;
      ASSERT_EQ(coclass->GetRefTypeOfImplType(i, &reference), S_OK);
      CComPtr<ITypeInfo> interfaceInfo;
      ASSERT_EQ(coclass->GetRefTypeInfo(reference, &interfaceInfo), S_OK);
      ASSERT_EQ(interfaceInfo->GetTypeAttr(&attributes), S_OK);
      const IID expected = (flags & IMPLTYPEFLAG_FSOURCE) ? *c.source : *c.defaultInterface;
      EXPECT_EQ(attributes->guid, expected);
      EXPECT_TRUE(flags & IMPLTYPEFLAG_FDEFAULT);
      interfaceInfo->ReleaseTypeAttr(attributes);
    }
  }
}

TEST_F(TypeLibTest, InterfacesAreDualOrEventsWithTheirNameAsHelpString) {
  struct Case {
    const IID* iid;
    const wchar_t* help;
    TYPEKIND kind;
  };
  const Case cases[] = {
      {&IID_IKestNetPing, L"IKestNetPing Interface", TKIND_DISPATCH},
      {&IID_IKestNetPingEvents, L"IKestNetPingEvents Interface", TKIND_DISPATCH},
      {&IID_IKestNetMessageData, L"IKestNetMessageData Interface", TKIND_DISPATCH},
      {&IID_IKestNetWindowsNetwork2Events, L"IKestNetWindowsNetwork2Events Interface", TKIND_DISPATCH},
  };
  for (const Case& c : cases) {
    CComPtr<ITypeInfo> info = InfoOf(*c.iid);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(HelpString(info), c.help);
  }
  TYPEATTR* attributes = nullptr;
  CComPtr<ITypeInfo> dual = InfoOf(IID_IKestNetSMTP);
  ASSERT_EQ(dual->GetTypeAttr(&attributes), S_OK);
  EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FDUAL);
  dual->ReleaseTypeAttr(attributes);
}

TEST_F(TypeLibTest, DispidsAreTheOnesScriptsRelyOn) {
  struct Case {
    const IID* iid;
    const wchar_t* name;
    DISPID dispid;
  };
  const Case cases[] = {
      // PING_ERROR and PING_TIMEOUT have their dispids in the other order than their values.
      {&IID_IKestNetPing, L"PING_SUCCESS", 4},
      {&IID_IKestNetPing, L"PING_HOST_UNREACHABLE", 10},
      {&IID_IKestNetPing, L"PING_TIMEOUT", 11},
      {&IID_IKestNetPing, L"PING_DNS_NO_RESPONSES", 16},
      {&IID_IKestNetPing, L"PING_ERROR", 17},
      {&IID_IKestNetPing, L"BlockingPing", 18},
      {&IID_IKestNetDNS, L"ResolveNameAdvanced", 7},
      {&IID_IKestNetDNS, L"DNS_RESOLVE_NAME_SPECIFY_CACHE_TIMEOUT", 16},
      {&IID_IKestNetPOP3, L"Disconnect", 11},
      {&IID_IKestNetPOP3, L"POP3_UNEXPECTED", 20},
      {&IID_IKestNetSMTP, L"Connect", 5},
      {&IID_IKestNetSMTP, L"SMTP_AUTH_ERROR", 18},
      {&IID_IKestNetPOP3Ex, L"UseSSL", 1},
      {&IID_IKestNetPOP3Ex, L"POP3EX_UNEXPECTED", 19},
      {&IID_IKestNetSMTPEx, L"SendMessage", 12},
      {&IID_IKestNetSMTPEx, L"SMTPEX_UNEXPECTED", 17},
      {&IID_IKestNetMessageData, L"SetHeaderByName", 17},
      {&IID_IKestNetMessageData, L"NumHeaders", 8},
      {&IID_IKestNetTcpClientSocket, L"SOCKET_NO_ERROR", 100},
      {&IID_IKestNetTcpClientSocket, L"SOCKET_TIMEOUT", 109},
      {&IID_IKestNetWindowsNetwork2, L"CONNECT_PROMPT", 3},
      {&IID_IKestNetWindowsNetworkHost, L"PlatformID", 6},
      {&IID_IKestNetPOP3Events, L"OnPOP3RetrieveMessage", 9},
      {&IID_IKestNetSMTPEvents, L"OnSMTPReady", 4},
      {&IID_IKestNetSMTPEvents, L"OnSMTPSendComplete", 11},
      {&IID_IKestNetPOP3ExEvents, L"OnPOP3RejectedServerCertificate", 8},
      {&IID_IKestNetSMTPExEvents, L"OnSMTPClose", 4},
      {&IID_IKestNetTcpClientSocketEvents, L"OnClose", 2},
      {&IID_IKestNetWindowsNetworkEvents, L"OnUpdateFileShareAccessComplete", 12},
  };
  for (const Case& c : cases) {
    CComPtr<ITypeInfo> info = InfoOf(*c.iid);
    EXPECT_EQ(IdOf(info, c.name), c.dispid) << std::string(c.name, c.name + wcslen(c.name));
  }
}

TEST_F(TypeLibTest, ParametersCarryTheirTypesOptionalDefaultsAndEventArgumentOrder) {
  CComPtr<ITypeInfo> dns = InfoOf(IID_IKestNetDNS);
  FUNCDESC* servers = FindFunction(dns, 2, INVOKE_FUNC);
  ASSERT_NE(servers, nullptr);
  ASSERT_EQ(servers->cParams, 2);
  const PARAMDESC& delimiter = servers->lprgelemdescParam[1].paramdesc;
  EXPECT_TRUE(delimiter.wParamFlags & PARAMFLAG_FOPT);
  ASSERT_TRUE(delimiter.wParamFlags & PARAMFLAG_FHASDEFAULT);
  ASSERT_NE(delimiter.pparamdescex, nullptr);
  EXPECT_EQ(delimiter.pparamdescex->varDefaultValue.vt, VT_BSTR);
  EXPECT_STREQ(delimiter.pparamdescex->varDefaultValue.bstrVal, L",");
  dns->ReleaseFuncDesc(servers);

  CComPtr<ITypeInfo> dnsEvents = InfoOf(IID_IKestNetDNSEvents);
  FUNCDESC* resolved = FindFunction(dnsEvents, 1, INVOKE_FUNC);
  ASSERT_NE(resolved, nullptr);
  ASSERT_EQ(resolved->cParams, 3);
  EXPECT_EQ(resolved->lprgelemdescParam[0].tdesc.vt, VT_INT);
  EXPECT_EQ(resolved->lprgelemdescParam[1].tdesc.vt, VT_BSTR);
  EXPECT_EQ(resolved->lprgelemdescParam[2].tdesc.vt, VT_VARIANT);
  dnsEvents->ReleaseFuncDesc(resolved);

  CComPtr<ITypeInfo> pop3Events = InfoOf(IID_IKestNetPOP3Events);
  FUNCDESC* deleted = FindFunction(pop3Events, 10, INVOKE_FUNC);
  ASSERT_NE(deleted, nullptr);
  EXPECT_EQ(deleted->lprgelemdescParam[2].tdesc.vt, VT_UI4);
  pop3Events->ReleaseFuncDesc(deleted);

  CComPtr<ITypeInfo> network = InfoOf(IID_IKestNetWindowsNetwork);
  FUNCDESC* create = FindFunction(network, IdOf(network, L"CreateFileShare"), INVOKE_FUNC);
  ASSERT_NE(create, nullptr);
  // Seen through dispatch, the result parameter is the function's value.
  ASSERT_EQ(create->cParams, 4);
  EXPECT_EQ(create->elemdescFunc.tdesc.vt, VT_BOOL);
  const PARAMDESC& readWrite = create->lprgelemdescParam[3].paramdesc;
  ASSERT_TRUE(readWrite.wParamFlags & PARAMFLAG_FHASDEFAULT);
  EXPECT_EQ(readWrite.pparamdescex->varDefaultValue.boolVal, VARIANT_TRUE);
  network->ReleaseFuncDesc(create);
}

TEST_F(TypeLibTest, ConstantsAreReadOnlyProperties) {
  CComPtr<ITypeInfo> socket = InfoOf(IID_IKestNetTcpClientSocket);
  FUNCDESC* get = FindFunction(socket, 105, INVOKE_PROPERTYGET);
  ASSERT_NE(get, nullptr);
  socket->ReleaseFuncDesc(get);
  EXPECT_EQ(FindFunction(socket, 105, INVOKE_PROPERTYPUT), nullptr);
  CComPtr<ITypeInfo> ping = InfoOf(IID_IKestNetPing);
  FUNCDESC* constant = FindFunction(ping, 4, INVOKE_PROPERTYGET);
  ASSERT_NE(constant, nullptr);
  EXPECT_EQ(constant->cParams, 0);
  EXPECT_EQ(constant->elemdescFunc.tdesc.vt, VT_I2);  // the ping constants are 16-bit
  ping->ReleaseFuncDesc(constant);
}

}  // namespace

namespace {

// The byte offset of a virtual function in its vtable, from the Itanium C++
// ABI's member-function-pointer layout (1 + offset for a virtual function).
template <typename Method>
SHORT VtableOffset(Method method) {
  static_assert(sizeof(method) == 2 * sizeof(uintptr_t));
  uintptr_t raw = 0;
  std::memcpy(&raw, &method, sizeof(raw));
  return static_cast<SHORT>(raw - 1);
}

struct SlotCase {
  const wchar_t* name;
  INVOKEKIND kind;
  SHORT offset;
};

#define KESTNET_TEST_SLOT_ROW(kind, dispid, name, ...) \
  {KESTNET_TL_NAME(name), KESTNET_TEST_KIND_##kind, VtableOffset(&I::KESTNET_TL_VTABLE_NAME(kind, name))},
#define KESTNET_TEST_DUAL(interface)                                                                   \
  {                                                                                                    \
    using I = interface;                                                                               \
    interfaces.push_back({&IID_##interface, #interface, {KESTNET_MEMBERS_##interface(KESTNET_TEST_SLOT_ROW)}}); \
  }

// Every member of every dual interface: the C++ declaration puts it in the
// vtable slot where dispatch through the type information calls it, so
// Invoke can never reach a neighbour.
TEST_F(TypeLibTest, EveryMemberSitsInTheVtableSlotDispatchCalls) {
  struct Interface {
    const IID* iid;
    const char* name;
    std::vector<SlotCase> slots;
  };
  std::vector<Interface> interfaces;
  KESTNET_INTERFACES(KESTNET_TEST_DUAL, KESTNET_TEST_SKIP_EVENTS)
  std::size_t walked = 0;
  for (const Interface& checked : interfaces) {
    CComPtr<ITypeInfo> info = InfoOf(*checked.iid);
    ASSERT_NE(info, nullptr) << checked.name;
    EXPECT_EQ(FunctionCount(info), checked.slots.size()) << checked.name;
    for (const SlotCase& c : checked.slots) {
      const std::string name(c.name, c.name + wcslen(c.name));
      FUNCDESC* function = FindFunction(info, IdOf(info, c.name), c.kind);
      ASSERT_NE(function, nullptr) << checked.name << "::" << name << " kind " << c.kind;
      EXPECT_EQ(function->oVft, c.offset) << checked.name << "::" << name << " kind " << c.kind;
      info->ReleaseFuncDesc(function);
      ++walked;
    }
  }
  EXPECT_GT(walked, 300u);
}

}  // namespace
