// HRESULT and the result codes the COM and OLE Automation runtime returns.
//
// Values are the Windows SDK's (winerror.h); callers compare against them and
// scripts see them, so none may change. Codes are defined once, in the table
// below, from which both the constants and HResultName() come.
#pragma once

#include "platform/os/win_types.h"

using HRESULT = LONG;
using SCODE = LONG;

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define HRESULT_CODE(hr) ((hr) & 0xFFFF)
#define HRESULT_FACILITY(hr) (((hr) >> 16) & 0x1FFF)

constexpr LONG FACILITY_ITF = 4;
constexpr LONG FACILITY_DISPATCH = 2;
constexpr LONG FACILITY_WIN32 = 7;

constexpr HRESULT MAKE_HRESULT(unsigned long severity, unsigned long facility, unsigned long code) {
  return static_cast<HRESULT>((severity << 31) | (facility << 16) | code);
}

// A Win32 error number as an HRESULT (0 stays S_OK).
constexpr HRESULT HRESULT_FROM_WIN32(DWORD error) {
  return static_cast<LONG>(error) <= 0
             ? static_cast<HRESULT>(error)
             : static_cast<HRESULT>((error & 0x0000FFFFu) | (FACILITY_WIN32 << 16) | 0x80000000u);
}

// X(name, value)
#define KESTNET_HRESULT_TABLE(X)                          \
  X(S_OK, 0x00000000)                                     \
  X(S_FALSE, 0x00000001)                                  \
  X(E_NOTIMPL, 0x80004001)                                \
  X(E_NOINTERFACE, 0x80004002)                            \
  X(E_POINTER, 0x80004003)                                \
  X(E_ABORT, 0x80004004)                                  \
  X(E_FAIL, 0x80004005)                                   \
  X(E_UNEXPECTED, 0x8000FFFF)                             \
  X(E_ACCESSDENIED, 0x80070005)                           \
  X(E_HANDLE, 0x80070006)                                 \
  X(E_OUTOFMEMORY, 0x8007000E)                            \
  X(E_INVALIDARG, 0x80070057)                             \
  X(CO_E_NOTINITIALIZED, 0x800401F0)                      \
  X(CO_E_ALREADYINITIALIZED, 0x800401F1)                  \
  X(CO_E_CLASSSTRING, 0x800401F3)                         \
  X(CO_E_IIDSTRING, 0x800401F4)                           \
  X(CO_E_DLLNOTFOUND, 0x800401F8)                         \
  X(CO_E_ERRORINDLL, 0x800401F9)                          \
  X(CO_E_APPNOTFOUND, 0x800401F5)                         \
  X(CO_E_SERVER_EXEC_FAILURE, 0x80080005)                 \
  X(CO_E_OBJNOTREG, 0x800401FB)                           \
  X(REGDB_E_READREGDB, 0x80040150)                        \
  X(REGDB_E_WRITEREGDB, 0x80040151)                       \
  X(REGDB_E_KEYMISSING, 0x80040152)                       \
  X(REGDB_E_INVALIDVALUE, 0x80040153)                     \
  X(REGDB_E_CLASSNOTREG, 0x80040154)                      \
  X(REGDB_E_IIDNOTREG, 0x80040155)                        \
  X(CLASS_E_NOAGGREGATION, 0x80040110)                    \
  X(CLASS_E_CLASSNOTAVAILABLE, 0x80040111)                \
  X(CONNECT_E_NOCONNECTION, 0x80040200)                   \
  X(CONNECT_E_ADVISELIMIT, 0x80040201)                    \
  X(CONNECT_E_CANNOTCONNECT, 0x80040202)                  \
  X(CONNECT_E_OVERRIDDEN, 0x80040203)                     \
  X(RPC_E_CHANGED_MODE, 0x80010106)                       \
  X(RPC_E_WRONG_THREAD, 0x8001010E)                       \
  X(STG_E_INVALIDFUNCTION, 0x80030001)                    \
  X(STG_E_INVALIDPOINTER, 0x80030009)                     \
  X(STG_E_MEDIUMFULL, 0x80030070)                         \
  X(STG_E_READFAULT, 0x8003001E)                          \
  X(STG_E_INVALIDPARAMETER, 0x80030057)                   \
  X(TYPE_E_ELEMENTNOTFOUND, 0x8002802B)                   \
  X(TYPE_E_LIBNOTREGISTERED, 0x8002801D)                  \
  X(TYPE_E_CANTLOADLIBRARY, 0x80029C4A)                   \
  X(TYPE_E_INVALIDSTATE, 0x80028029)                      \
  X(TYPE_E_BADMODULEKIND, 0x800288BD)                     \
  X(DISP_E_UNKNOWNINTERFACE, 0x80020001)                  \
  X(DISP_E_MEMBERNOTFOUND, 0x80020003)                    \
  X(DISP_E_PARAMNOTFOUND, 0x80020004)                     \
  X(DISP_E_TYPEMISMATCH, 0x80020005)                      \
  X(DISP_E_UNKNOWNNAME, 0x80020006)                       \
  X(DISP_E_NONAMEDARGS, 0x80020007)                       \
  X(DISP_E_BADVARTYPE, 0x80020008)                        \
  X(DISP_E_EXCEPTION, 0x80020009)                         \
  X(DISP_E_OVERFLOW, 0x8002000A)                          \
  X(DISP_E_BADINDEX, 0x8002000B)                          \
  X(DISP_E_UNKNOWNLCID, 0x8002000C)                       \
  X(DISP_E_ARRAYISLOCKED, 0x8002000D)                     \
  X(DISP_E_BADPARAMCOUNT, 0x8002000E)                     \
  X(DISP_E_PARAMNOTOPTIONAL, 0x8002000F)                  \
  X(DISP_E_BADCALLEE, 0x80020010)                         \
  X(DISP_E_NOTACOLLECTION, 0x80020011)

#define KESTNET_DECLARE_HRESULT(name, value) constexpr HRESULT name = static_cast<HRESULT>(value##u);
KESTNET_HRESULT_TABLE(KESTNET_DECLARE_HRESULT)
#undef KESTNET_DECLARE_HRESULT

namespace kestnet::platform {

// The symbolic name of a known HRESULT ("E_POINTER"), or nullptr. For logs and
// test messages.
const char* HResultName(HRESULT hr);

}  // namespace kestnet::platform
