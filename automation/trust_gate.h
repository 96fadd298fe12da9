// KestTrustGate: the gate every scriptable object puts in front of Invoke
// (see invoke_gate.h for the seam and tol_lock.h for where it is called).
//
// Each object owns one gate. At the object's first gated call the gate asks
// the site-trust companion KestSM (ProgID "KestSM.KestSM") whether the
// container or the site that hosts the object is trusted, and keeps the
// answer for the object's life; a later change of site does not ask again.
// A question that fails before an answer is reached leaves the object
// untrusted for that call and is asked again at the next.
//
// The companion is looked for among the objects embedded in the hosting
// document first, and created otherwise; an instance created here is given
// the object's site, its trusted-site data file URL and its vendor id before
// the questions. It is released after every load.
//
// On the Windows 9x platform every gated call is refused with
// "UNSUPPORTED_OS_ERROR" unless the DWORD value "DisableOSVersionCheck" under
// HKEY_LOCAL_MACHINE\Software\Tolvar\Pelwick\Config\KestLock\Control is
// non-zero.
//
// What the gate does goes to the debugger output (OutputDebugStringA), each
// line " ** TolLock : " + message.
//
// Runs on the object's thread only; no locking.
#pragma once

#include <string>

#include "automation/invoke_gate.h"
#include "platform/com/atl_ptr.h"

namespace KestAXLib {

// The companion's interface, asked of the objects embedded in a document.
inline constexpr IID IID_IKestSM = {0x168D9474, 0x3653, 0x44EA, {0x9C, 0x25, 0x2A, 0x0F, 0x71, 0x38, 0x46, 0xEE}};

// The companion's members as the gate calls them.
inline constexpr DISPID kKestSMTrustedSiteDataFileUrl = 1;
inline constexpr DISPID kKestSMVendorId = 2;
inline constexpr DISPID kKestSMIsCurrentSiteTrusted = 12;
inline constexpr DISPID kKestSMIsContainerTrusted = 16;

// The platform id GetVersionEx reports for the Windows 9x family.
inline constexpr DWORD kVerPlatformWin32Windows = 1;
// And for the NT family.
inline constexpr DWORD kVerPlatformWin32NT = 2;

class KestTrustGate final : public InvokeGate {
 public:
  // Reads the platform and, on the old platform, the switch.
  KestTrustGate();
  ~KestTrustGate() override = default;
  KestTrustGate(const KestTrustGate&) = delete;
  KestTrustGate& operator=(const KestTrustGate&) = delete;

  HRESULT Admit(const InvokeGateCall& call) override;
  std::string VendorId() const override { return m_vendorId; }

  bool IsLoaded() const { return m_loaded; }
  bool IsTrusted() const { return m_trusted; }

  // Where the gate learns the platform id (the system's platform
  // identification by default). Process-wide; nullptr restores the default.
  using PlatformIdSource = DWORD (*)();
  static void SetPlatformIdSource(PlatformIdSource source);

 private:
  void LoadTrustState(const InvokeGateCall& call);

  ATL::CComPtr<IDispatch> FindKestSM(IUnknown* site);
  ATL::CComPtr<IDispatch> GetKestSM(IUnknown* site, bool* createdHere);
  bool SetSiteOnKestSM(IUnknown* site);
  bool SetTrustDataFileOnKestSM(BSTR trustedSiteDataFileUrl);
  bool GetVendorIDOnKestSM();
  void LoadLocalContainerTrustList();
  bool IsContainerTrustedViaKestSM(bool* trusted);
  bool IsCurrentSiteTrustedViaKestSM(bool* trusted);

  std::string m_vendorId;
  std::wstring m_moduleContainerTrustList;  // this module has no list of its own
  ATL::CComPtr<IDispatch> m_kestSM;
  bool m_loaded = false;
  bool m_trusted = false;
  bool m_oldPlatform = false;
  bool m_osCheckDisabled = false;
};

// Whether "DisableOSVersionCheck" is set (a non-zero REG_DWORD).
bool IsOSVersionCheckDisabled();

}  // namespace KestAXLib
