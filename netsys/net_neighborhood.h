// KestSys::CNetNeighborhood: the Windows network as the shell's network
// neighbourhood shows it.
//
// The listings (workgroups, computers of a workgroup, file or printer shares
// of a workgroup) each run on a CNetworkHelper thread that reports to a
// CNetworkListener; this object owns the helpers it started, destroys each
// once it has reported, and aborts and waits for the rest when it is
// destroyed. The share questions (exists, permission, copy, delete) run on
// the caller's thread and may block for the span of the network calls.
//
// Computer names are empty (this computer) or "\\NAME"; share names are plain
// names. Failures are thrown as KestBase and FPS exceptions after being
// logged under "CNetNeighborhood".
//
// Locks: m_helpersLock guards the helper list only; it is never held while a
// helper is started, aborted or destroyed.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "netsys/fps_exceptions.h"
#include "netsys/network_listener.h"
#include "platform/os/win_types.h"

namespace KestSys {

class CNetworkHelper;

// File-share permissions (FS_* of the scripting interface).
inline constexpr LONG FS_UNKNOWN = 0;
inline constexpr LONG FS_READ = 1;
inline constexpr LONG FS_READ_WRITE = 2;

class CNetNeighborhood {
 public:
  CNetNeighborhood();
  virtual ~CNetNeighborhood();

  CNetNeighborhood(const CNetNeighborhood&) = delete;
  CNetNeighborhood& operator=(const CNetNeighborhood&) = delete;

  // Listings: true when the listing thread started; the listener (not owned,
  // must outlive the listing) then hears exactly once. A null listener throws
  // InvalidParameterException. An empty workgroup name means this computer's
  // workgroup; names match without regard to case.
  virtual bool GetNetworkWorkgroups(CNetworkListener* p_pListener);
  virtual bool GetNetworkComputers(const std::wstring& p_cstrwWorkgroupName, CNetworkListener* p_pListener);
  virtual bool GetFileShareList(const std::wstring& p_cstrwWorkgroupName, CNetworkListener* p_pListener);
  virtual bool GetPrinterShareList(const std::wstring& p_cstrwWorkgroupName, CNetworkListener* p_pListener);

  // "\\" + this computer's name; FPSGetComputerNameException when it cannot be read.
  virtual void GetCurrentHostName(std::wstring& p_cstrwName);

  // Whether the computer has a disk share of that name. This computer's own
  // (an empty name, or GetCurrentHostName's exact name) are looked up in its
  // share table on Vista and later, other computers' over the network.
  virtual bool FileShareExists(const std::wstring& p_cstrwComputerName, const std::wstring& p_cstrwShareName);
  // Sets *p_pnPermissions to FS_READ_WRITE when a scratch file can be copied
  // to the share and deleted again, FS_READ when the share can be listed but
  // not written, FS_UNKNOWN otherwise. Nothing is left on the share or
  // locally. Windows 9x answers for this computer's own shares from its
  // share table instead (FPSLoadLibraryException where its server API is
  // missing).
  virtual void FileSharePermission(const std::wstring& p_cstrwComputerName, const std::wstring& p_cstrwShareName,
                                   LONG* p_pnPermissions);
  // Copies p_cstrwFile (a local path) into the share under its last path
  // element, overwriting; on failure *p_pdwError is the Win32 error.
  virtual bool CopyFileToShare(const std::wstring& p_cstrwFile, const std::wstring& p_cstrwComputerName,
                               const std::wstring& p_cstrwShareName, DWORD* p_pdwError);
  // Deletes p_cstrwFile (a path inside the share) from the share; on failure
  // *p_pdwError is the Win32 error.
  virtual bool DeleteFileFromShare(const std::wstring& p_cstrwFile, const std::wstring& p_cstrwComputerName,
                                   const std::wstring& p_cstrwShareName, DWORD* p_pdwError);

 private:
  // The computer a share question asks: p_cstrwComputerName, or this
  // computer's name when it is empty; logged. *p_pbLocal, when asked for,
  // tells whether it is this computer (empty, or GetCurrentHostName's exact
  // name).
  std::wstring ComputerToAsk(const char* p_szOperation, const std::wstring& p_cstrwComputerName, bool* p_pbLocal);
  // The argument checks CopyFileToShare and DeleteFileFromShare share; returns
  // the computer name used (this computer's for an empty one), logged.
  std::wstring ShareFileComputer(const char* p_szOperation, const std::wstring& p_cstrwFile,
                                 const std::wstring& p_cstrwComputerName, const std::wstring& p_cstrwShareName,
                                 const DWORD* p_pdwError);
  bool StartListing(const char* p_szOperation, const std::wstring& p_cstrwWorkgroupName, DWORD p_dwListType,
                    CNetworkListener* p_pListener);
  // Destroys the helpers that have reported.
  void ReapHelpers();

  std::mutex m_helpersLock;
  std::vector<std::unique_ptr<CNetworkHelper>> m_helpers;
};

}  // namespace KestSys
