// The browser interfaces a control reaches through its site: IWebBrowser2
// (with IWebBrowserApp and IWebBrowser before it, in the Windows vtable
// order) and the service ids that lead to the top-level browser. The objects
// only read the location URL; a host that gives objects a site implements
// the rest as it likes (E_NOTIMPL is fine).
#pragma once

#include "platform/com/dispatch.h"

enum OLECMDID : int { OLECMDID_OPEN = 1 };
enum OLECMDF : int { OLECMDF_SUPPORTED = 1 };
enum OLECMDEXECOPT : int { OLECMDEXECOPT_DODEFAULT = 0 };
enum READYSTATE : int {
  READYSTATE_UNINITIALIZED = 0,
  READYSTATE_LOADING = 1,
  READYSTATE_LOADED = 2,
  READYSTATE_INTERACTIVE = 3,
  READYSTATE_COMPLETE = 4
};
using SHANDLE_PTR = LONG_PTR;

struct IWebBrowser : IDispatch {
  KESTNET_INTERFACE_IID(0xEAB22AC1, 0x30C1, 0x11CF, 0xA7, 0xEB, 0x00, 0x00, 0xC0, 0x5B, 0xAE, 0x0B);
  STDMETHOD(GoBack)() = 0;
  STDMETHOD(GoForward)() = 0;
  STDMETHOD(GoHome)() = 0;
  STDMETHOD(GoSearch)() = 0;
  STDMETHOD(Navigate)(BSTR URL, VARIANT* Flags, VARIANT* TargetFrameName, VARIANT* PostData, VARIANT* Headers) = 0;
  STDMETHOD(Refresh)() = 0;
  STDMETHOD(Refresh2)(VARIANT* Level) = 0;
  STDMETHOD(Stop)() = 0;
  STDMETHOD(get_Application)(IDispatch** ppDisp) = 0;
  STDMETHOD(get_Parent)(IDispatch** ppDisp) = 0;
  STDMETHOD(get_Container)(IDispatch** ppDisp) = 0;
  STDMETHOD(get_Document)(IDispatch** ppDisp) = 0;
  STDMETHOD(get_TopLevelContainer)(VARIANT_BOOL* pBool) = 0;
  STDMETHOD(get_Type)(BSTR* Type) = 0;
  STDMETHOD(get_Left)(LONG* pl) = 0;
  STDMETHOD(put_Left)(LONG Left) = 0;
  STDMETHOD(get_Top)(LONG* pl) = 0;
  STDMETHOD(put_Top)(LONG Top) = 0;
  STDMETHOD(get_Width)(LONG* pl) = 0;
  STDMETHOD(put_Width)(LONG Width) = 0;
  STDMETHOD(get_Height)(LONG* pl) = 0;
  STDMETHOD(put_Height)(LONG Height) = 0;
  STDMETHOD(get_LocationName)(BSTR* LocationName) = 0;
  STDMETHOD(get_LocationURL)(BSTR* LocationURL) = 0;
  STDMETHOD(get_Busy)(VARIANT_BOOL* pBool) = 0;

 protected:
  ~IWebBrowser() = default;
};

struct IWebBrowserApp : IWebBrowser {
  KESTNET_INTERFACE_IID(0x0002DF05, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
  STDMETHOD(Quit)() = 0;
  STDMETHOD(ClientToWindow)(int* pcx, int* pcy) = 0;
  STDMETHOD(PutProperty)(BSTR Property, VARIANT vtValue) = 0;
  STDMETHOD(GetProperty)(BSTR Property, VARIANT* pvtValue) = 0;
  STDMETHOD(get_Name)(BSTR* Name) = 0;
  STDMETHOD(get_HWND)(SHANDLE_PTR* pHWND) = 0;
  STDMETHOD(get_FullName)(BSTR* FullName) = 0;
  STDMETHOD(get_Path)(BSTR* Path) = 0;
  STDMETHOD(get_Visible)(VARIANT_BOOL* pBool) = 0;
  STDMETHOD(put_Visible)(VARIANT_BOOL Value) = 0;
  STDMETHOD(get_StatusBar)(VARIANT_BOOL* pBool) = 0;
  STDMETHOD(put_StatusBar)(VARIANT_BOOL Value) = 0;
  STDMETHOD(get_StatusText)(BSTR* StatusText) = 0;
  STDMETHOD(put_StatusText)(BSTR StatusText) = 0;
  STDMETHOD(get_ToolBar)(int* Value) = 0;
  STDMETHOD(put_ToolBar)(int Value) = 0;
  STDMETHOD(get_MenuBar)(VARIANT_BOOL* Value) = 0;
  STDMETHOD(put_MenuBar)(VARIANT_BOOL Value) = 0;
  STDMETHOD(get_FullScreen)(VARIANT_BOOL* pbFullScreen) = 0;
  STDMETHOD(put_FullScreen)(VARIANT_BOOL bFullScreen) = 0;

 protected:
  ~IWebBrowserApp() = default;
};

struct IWebBrowser2 : IWebBrowserApp {
  KESTNET_INTERFACE_IID(0xD30C1661, 0xCDAF, 0x11D0, 0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E);
  STDMETHOD(Navigate2)(VARIANT* URL, VARIANT* Flags, VARIANT* TargetFrameName, VARIANT* PostData,
                       VARIANT* Headers) = 0;
  STDMETHOD(QueryStatusWB)(OLECMDID cmdID, OLECMDF* pcmdf) = 0;
  STDMETHOD(ExecWB)(OLECMDID cmdID, OLECMDEXECOPT cmdexecopt, VARIANT* pvaIn, VARIANT* pvaOut) = 0;
  STDMETHOD(ShowBrowserBar)(VARIANT* pvaClsid, VARIANT* pvarShow, VARIANT* pvarSize) = 0;
  STDMETHOD(get_ReadyState)(READYSTATE* plReadyState) = 0;
  STDMETHOD(get_Offline)(VARIANT_BOOL* pbOffline) = 0;
  STDMETHOD(put_Offline)(VARIANT_BOOL bOffline) = 0;
  STDMETHOD(get_Silent)(VARIANT_BOOL* pbSilent) = 0;
  STDMETHOD(put_Silent)(VARIANT_BOOL bSilent) = 0;
  STDMETHOD(get_RegisterAsBrowser)(VARIANT_BOOL* pbRegister) = 0;
  STDMETHOD(put_RegisterAsBrowser)(VARIANT_BOOL bRegister) = 0;
  STDMETHOD(get_RegisterAsDropTarget)(VARIANT_BOOL* pbRegister) = 0;
  STDMETHOD(put_RegisterAsDropTarget)(VARIANT_BOOL bRegister) = 0;
  STDMETHOD(get_TheaterMode)(VARIANT_BOOL* pbRegister) = 0;
  STDMETHOD(put_TheaterMode)(VARIANT_BOOL bRegister) = 0;
  STDMETHOD(get_AddressBar)(VARIANT_BOOL* Value) = 0;
  STDMETHOD(put_AddressBar)(VARIANT_BOOL Value) = 0;
  STDMETHOD(get_Resizable)(VARIANT_BOOL* Value) = 0;
  STDMETHOD(put_Resizable)(VARIANT_BOOL Value) = 0;

 protected:
  ~IWebBrowser2() = default;
};

inline constexpr IID IID_IWebBrowser = IWebBrowser::kIid;
inline constexpr IID IID_IWebBrowserApp = IWebBrowserApp::kIid;
inline constexpr IID IID_IWebBrowser2 = IWebBrowser2::kIid;
// The service that leads from a control's site to the top-level browser.
inline constexpr GUID SID_STopLevelBrowser = {0x4C96BE40, 0x915C, 0x11CF, {0x99, 0xD3, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37}};
// The top-level browser's own service id is its application interface.
inline constexpr GUID SID_SWebBrowserApp = IID_IWebBrowserApp;
