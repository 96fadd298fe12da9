#include "tests/automation/probe_object.h"

namespace probe {
namespace {

using namespace kestnet::platform;

constexpr ParamDescription kTextOut[] = {RetVal(L"pVal", VT_BSTR)};
constexpr ParamDescription kTextIn[] = {In(L"newVal", VT_BSTR)};
constexpr ParamDescription kLongOut[] = {RetVal(L"pVal", VT_I4)};
constexpr ParamDescription kLongIn[] = {In(L"newVal", VT_I4)};
constexpr ParamDescription kTimes[] = {In(L"Times", VT_I4)};
constexpr ParamDescription kKind[] = {In(L"Kind", VT_I4)};
constexpr MemberDescription kProbeMembers[] = {
    PropertyGet(kDispName, L"Name", kTextOut), PropertyPut(kDispName, L"Name", kTextIn),
    PropertyGet(kDispCount, L"Count", kLongOut), PropertyPut(kDispCount, L"Count", kLongIn),
    Method(kDispFire, L"Fire", kTimes),          Method(kDispThrow, L"Throw", kKind),
};
constexpr ParamDescription kOnTick[] = {In(L"Index", VT_I4), In(L"Name", VT_BSTR)};
constexpr MemberDescription kEventMembers[] = {Method(kDispOnTick, L"OnTick", kOnTick)};
constexpr InterfaceDescription kIProbe = Dual(L"IProbe", IID_IProbe, kProbeMembers, L"IProbe Interface");
constexpr InterfaceDescription kIProbeEvents =
    Events(L"IProbeEvents", IID_IProbeEvents, kEventMembers, L"IProbeEvents Interface");
constexpr const InterfaceDescription* kInterfaces[] = {&kIProbe, &kIProbeEvents};
constexpr CoclassDescription kCoclasses[] = {{L"Probe", CLSID_Probe, &kIProbe, &kIProbeEvents, L"Probe Class"}};
constexpr TypeLibDescription kLibrary = {L"Probe", LIBID_Probe, 1, 0, L"Probe 1.0 Type Library", kInterfaces,
                                         kCoclasses};

}  // namespace

const TypeLibDescription* ProbeLibrary() { return &kLibrary; }

ProbeCounters& Counters() {
  static ProbeCounters counters;
  return counters;
}

}  // namespace probe
