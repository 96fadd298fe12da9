// Error information: the rich error a failing member leaves for its caller.
//
// Each thread has one slot. SetErrorInfo replaces it (releasing the old
// object), GetErrorInfo hands it over and empties it, so one failure is
// reported once. The slot is emptied when the thread's last CoUninitialize
// runs and when the thread ends.
#pragma once

#include "platform/com/unknown.h"
#include "platform/com/bstr.h"

struct IErrorInfo : IUnknown {
  KESTNET_INTERFACE_IID(0x1CF2B120, 0x547D, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19);
  STDMETHOD(GetGUID)(GUID* pGUID) = 0;
  STDMETHOD(GetSource)(BSTR* pBstrSource) = 0;
  STDMETHOD(GetDescription)(BSTR* pBstrDescription) = 0;
  STDMETHOD(GetHelpFile)(BSTR* pBstrHelpFile) = 0;
  STDMETHOD(GetHelpContext)(DWORD* pdwHelpContext) = 0;

 protected:
  ~IErrorInfo() = default;
};

struct ICreateErrorInfo : IUnknown {
  KESTNET_INTERFACE_IID(0x22F03340, 0x547D, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19);
  STDMETHOD(SetGUID)(REFGUID rguid) = 0;
  STDMETHOD(SetSource)(LPOLESTR szSource) = 0;
  STDMETHOD(SetDescription)(LPOLESTR szDescription) = 0;
  STDMETHOD(SetHelpFile)(LPOLESTR szHelpFile) = 0;
  STDMETHOD(SetHelpContext)(DWORD dwHelpContext) = 0;

 protected:
  ~ICreateErrorInfo() = default;
};

struct ISupportErrorInfo : IUnknown {
  KESTNET_INTERFACE_IID(0xDF0B3D60, 0x548F, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19);
  STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) = 0;

 protected:
  ~ISupportErrorInfo() = default;
};

inline constexpr IID IID_IErrorInfo = IErrorInfo::kIid;
inline constexpr IID IID_ICreateErrorInfo = ICreateErrorInfo::kIid;
inline constexpr IID IID_ISupportErrorInfo = ISupportErrorInfo::kIid;

// dwReserved must be 0. perrinfo may be null to clear the slot.
HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
// S_FALSE with *pperrinfo = null when the slot is empty.
HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);
HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);
