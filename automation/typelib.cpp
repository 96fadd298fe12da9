// The KestNet type library description, built from the tables of
// typelib_table.h.
#include "automation/typelib.h"

#include <cstddef>
#include <span>

#include "automation/typelib_ids.h"
#include "automation/typelib_macros.h"
#include "automation/typelib_table.h"

namespace KestAXLib {
namespace {

using namespace kestnet::platform;

// One namespace per interface, written from its table: an array of
// parameters per member, then the members in vtable (or dispid) order, then
// the interface. Each parameter array starts with a placeholder so that a
// member without parameters still has an array; ParametersOf skips it.
template <std::size_t kCount>
constexpr std::span<const ParamDescription> ParametersOf(const ParamDescription (&p_params)[kCount]) {
  return std::span<const ParamDescription>(p_params + 1, kCount - 1);
}
constexpr ParamDescription kPlaceholder{};

#define KESTNET_TL_PARAMS(kind, dispid, name, ...) \
  constexpr ParamDescription k##kind##_##name[] = { \
      kPlaceholder, KESTNET_TL_FOR_EACH_COMMA(KESTNET_TL_DESCRIBE_PARAM, __VA_ARGS__)};
#define KESTNET_TL_MEMBER(kind, dispid, name, ...) \
  kind(dispid, KESTNET_TL_NAME(name), ParametersOf(k##kind##_##name)),
#define KESTNET_TL_EVENT_PARAMS(dispid, name, ...) KESTNET_TL_PARAMS(Method, dispid, name, __VA_ARGS__)
#define KESTNET_TL_EVENT(dispid, name, ...) KESTNET_TL_MEMBER(Method, dispid, name)

#define KESTNET_TL_DESCRIBE(interface, rows, params, member, kind)                               \
  namespace interface##_description {                                                           \
  rows(params) constexpr MemberDescription kMembers[] = {rows(member)};                         \
  }                                                                                             \
  constexpr InterfaceDescription k##interface =                                                 \
      kind(KESTNET_TL_NAME(interface), IID_##interface, interface##_description::kMembers,      \
           KESTNET_TL_NAME(interface) L" Interface");
#define KESTNET_TL_DESCRIBE_DUAL(interface) \
  KESTNET_TL_DESCRIBE(interface, KESTNET_MEMBERS_##interface, KESTNET_TL_PARAMS, KESTNET_TL_MEMBER, Dual)
#define KESTNET_TL_DESCRIBE_EVENTS(interface, connectionPoint)                                       \
  KESTNET_TL_DESCRIBE(interface, KESTNET_EVENTS_##interface, KESTNET_TL_EVENT_PARAMS, KESTNET_TL_EVENT, \
                      Events)

KESTNET_INTERFACES(KESTNET_TL_DESCRIBE_DUAL, KESTNET_TL_DESCRIBE_EVENTS)

#define KESTNET_TL_LIST_DUAL(interface) &k##interface,
#define KESTNET_TL_LIST_EVENTS(interface, connectionPoint) &k##interface,
constexpr const InterfaceDescription* kInterfaces[] = {
    KESTNET_INTERFACES(KESTNET_TL_LIST_DUAL, KESTNET_TL_LIST_EVENTS)};


// The SMTPEx class's help string is "KestNetSMTP Class" in the library,
// although its registry description is "KestNetSMTPEx Class"; clients that
// read the library have always seen the former.
constexpr CoclassDescription kCoclasses[] = {
    {L"KestNetPing", CLSID_KestNetPing, &kIKestNetPing, &kIKestNetPingEvents, L"KestNetPing Class"},
    {L"KestNetDNS", CLSID_KestNetDNS, &kIKestNetDNS, &kIKestNetDNSEvents, L"KestNetDNS Class"},
    {L"KestNetPOP3", CLSID_KestNetPOP3, &kIKestNetPOP3, &kIKestNetPOP3Events, L"KestNetPOP3 Class"},
    {L"KestNetPOP3Ex", CLSID_KestNetPOP3Ex, &kIKestNetPOP3Ex, &kIKestNetPOP3ExEvents, L"KestNetPOP3Ex Class"},
    {L"KestNetSMTP", CLSID_KestNetSMTP, &kIKestNetSMTP, &kIKestNetSMTPEvents, L"KestNetSMTP Class"},
    {L"KestNetSMTPEx", CLSID_KestNetSMTPEx, &kIKestNetSMTPEx, &kIKestNetSMTPExEvents, L"KestNetSMTP Class"},
    {L"KestNetMessageData", CLSID_KestNetMessageData, &kIKestNetMessageData, nullptr, L"KestNetMessageData Class"},
    {L"KestNetTcpClientSocket", CLSID_KestNetTcpClientSocket, &kIKestNetTcpClientSocket,
     &kIKestNetTcpClientSocketEvents, L"KestNetTcpClientSocket Class"},
    {L"KestNetWindowsNetworkHost", CLSID_KestNetWindowsNetworkHost, &kIKestNetWindowsNetworkHost, nullptr,
     L"KestNetWindowsNetworkHost Class"},
    {L"KestNetWindowsNetwork", CLSID_KestNetWindowsNetwork, &kIKestNetWindowsNetwork,
     &kIKestNetWindowsNetworkEvents, L"KestNetWindowsNetwork Class"},
    {L"KestNetWindowsNetwork2", CLSID_KestNetWindowsNetwork2, &kIKestNetWindowsNetwork2,
     &kIKestNetWindowsNetwork2Events, L"KestNetWindowsNetwork2 Class"},
};

constexpr TypeLibDescription kLibrary = {L"KestNet",    LIBID_KestNet, 1, 0, L"KestNet 1.0 Type Library",
                                         kInterfaces, kCoclasses};

}  // namespace

const TypeLibDescription& KestNetTypeLibDescription() { return kLibrary; }

namespace {

// Built on first use; released when the module unloads, before the
// description it refers to goes away with the module's image.
class LibraryHolder {
 public:
  LibraryHolder() {
    if (FAILED(CreateTypeLibFromDescription(&kLibrary, &library_))) library_ = nullptr;
  }
  ~LibraryHolder() {
    if (library_ != nullptr) library_->Release();
  }
  LibraryHolder(const LibraryHolder&) = delete;
  LibraryHolder& operator=(const LibraryHolder&) = delete;

  ITypeLib* NewReference() const {
    if (library_ != nullptr) library_->AddRef();
    return library_;
  }

 private:
  ITypeLib* library_ = nullptr;
};

}  // namespace

ITypeLib* KestNetTypeLib() {
  static LibraryHolder holder;
  return holder.NewReference();
}

}  // namespace KestAXLib
