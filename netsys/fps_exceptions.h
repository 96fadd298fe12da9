// The failures of the share and printer operations (network neighbourhood,
// local shares, printers, drive mapping): one class per kind, each carrying
// its error name, which the automation layer reports as the error
// description.
#pragma once

#include "runtime/exceptions.h"

#define KESTSYS_FPS_EXCEPTIONS(X)                                                              \
  X(KestSys, FPSGetMappedConnectionException, L"KESTSYSFPS_GETMAPPEDCONN_ERROR")              \
  X(KestSys, FPSNoNetworkException, L"KESTSYSFPS_NONET_ERROR")                                \
  X(KestSys, FPSPrintPageException, L"KESTSYSFPS_PRINTPAGE_ERROR")                            \
  X(KestSys, FPSOpenFileException, L"KESTSYSFPS_OPENFILE_ERROR")                              \
  X(KestSys, FPSMapShareException, L"KESTSYSFPS_MAPSHARE_ERROR")                              \
  X(KestSys, FPSUnMapShareException, L"KESTSYSFPS_UNMAPSHARE_ERROR")                          \
  X(KestSys, FPSOpenPrinterException, L"KESTSYSFPS_OPENPRINTER_ERROR")                        \
  X(KestSys, FPSGetPrinterException, L"KESTSYSFPS_GETPRINTER_ERROR")                          \
  X(KestSys, FPSOpenEnumException, L"KESTSYSFPS_OPENENUM_ERROR")                              \
  X(KestSys, FPSGetWorkgroupException, L"KESTSYSFPS_GETWORKGROUP_ERROR")                      \
  X(KestSys, FPSGetComputerNameException, L"KESTSYSFPS_GETCOMPUTERNAME_ERROR")                \
  X(KestSys, FPSPrinterShareExistsException, L"KESTSYSFPS_PRINTERSHAREEXISTS_ERROR")          \
  X(KestSys, FPSAddPrinterException, L"KESTSYSFPS_ADDPRINTER_ERROR")                          \
  X(KestSys, FPSEnumPrinterDriverException, L"KESTSYSFPS_ENUMPRINTERDRIVER_ERROR")            \
  X(KestSys, FPSDeletePrinterException, L"KESTSYSFPS_DELETEPRINTER_ERROR")                    \
  X(KestSys, FPSShareDoesNotExistException, L"KESTSYSFPS_SHAREDOESNOTEXIST_ERROR")            \
  X(KestSys, FPSDuplicateShareException, L"KESTSYSFPS_DUPLICATESHARE_ERROR")                  \
  X(KestSys, FPSShowPrinterQueueException, L"KESTSYSFPS_SHOWPRINTQUEUE_ERROR")                \
  X(KestSys, FPSSecurityOpException, L"KESTSYSFPS_SECURITYOP_ERROR")                          \
  X(KestSys, FPSLoadLibraryException, L"KESTSYSFPS_LOADLIBRARY_ERROR")                        \
  X(KestSys, FPSGetProcAddressException, L"KESTSYSFPS_GETPROCADDRESS_ERROR")                  \
  X(KestSys, FPSServerDoesNotExistException, L"KESTSYSFPS_SERVERDOESNOTEXIST_ERROR")          \
  X(KestSys, FPSInsufficientPrivilegeException, L"KESTSYSFPS_INSUFFICIENT_PRIVILEGE_ERROR")   \
  X(KestSys, FPSEnumPrintersException, L"KESTSYSFPS_ENUMPRINTERS_ERROR")                      \
  X(KestSys, FPSSetPrinterException, L"KESTSYSFPS_SETPRINTER_ERROR")

namespace KestSys {
KESTSYS_FPS_EXCEPTIONS(KEST_DECLARE_SIMPLE_EXCEPTION)
}  // namespace KestSys
