// Apartments: which threading model a thread has entered COM in.
//
// CoInitializeEx counts per thread: the first call enters the apartment and
// returns S_OK, later calls with the same model return S_FALSE, a call with the
// other model returns RPC_E_CHANGED_MODE and counts nothing. Every successful
// call (S_OK or S_FALSE) is paired with one CoUninitialize; the last one
// leaves the apartment and empties the thread's error information.
//
// An apartment-threaded (single-threaded) thread owns a message queue from its
// first CoInitializeEx: objects living there receive their posted work through
// it, so the thread must pump messages while it waits.
//
// Differences from Windows, on purpose: there are no cross-apartment proxies.
// An object is created on, and called from, whatever thread asks for it; an
// apartment-threaded object handed to another thread (through the Global
// Interface Table or marshalling) is the object itself. Threads that never
// called CoInitializeEx may use COM while any thread of the process is in the
// multithreaded apartment (the implicit MTA), otherwise activation gives
// CO_E_NOTINITIALIZED.
#pragma once

#include "platform/com/unknown.h"

enum COINIT : DWORD {
  COINIT_MULTITHREADED = 0x0,
  COINIT_APARTMENTTHREADED = 0x2,
  COINIT_DISABLE_OLE1DDE = 0x4,
  COINIT_SPEED_OVER_MEMORY = 0x8,
};

enum APTTYPE { APTTYPE_CURRENT = -1, APTTYPE_STA = 0, APTTYPE_MTA = 1, APTTYPE_NA = 2, APTTYPE_MAINSTA = 3 };
enum APTTYPEQUALIFIER {
  APTTYPEQUALIFIER_NONE = 0,
  APTTYPEQUALIFIER_IMPLICIT_MTA = 1,
};

// pvReserved must be null (E_INVALIDARG otherwise). Unknown flag bits give E_INVALIDARG.
HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
// CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED).
HRESULT CoInitialize(LPVOID pvReserved);
// Without a matching successful CoInitializeEx it does nothing.
void CoUninitialize();
// CO_E_NOTINITIALIZED when the thread is in no apartment and no implicit MTA exists.
HRESULT CoGetApartmentType(APTTYPE* pAptType, APTTYPEQUALIFIER* pAptQualifier);

namespace kestnet::platform {

// S_OK when the calling thread may use COM (its own apartment or the
// implicit MTA), CO_E_NOTINITIALIZED otherwise.
HRESULT CheckComInitialized();

}  // namespace kestnet::platform
