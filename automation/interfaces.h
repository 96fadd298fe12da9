// The dual interfaces of the KestNet type library as C++ vtables.
//
// Each declares its members in the order of its description in typelib.cpp
// (a property's get before its put): member i of the description is vtable
// slot 7 + i, which is how Invoke reaches the implementation through the type
// information. Change one only together with the other.
#pragma once

#include "automation/typelib_ids.h"
#include "platform/com/dispatch.h"

struct IKestNetPing : IDispatch {
  static constexpr IID kIid = IID_IKestNetPing;
  STDMETHOD(Ping)(BSTR Target, SHORT TTL, SHORT DataSize, LONG Timeout) = 0;
  STDMETHOD(Abort)(BSTR Target) = 0;
  STDMETHOD(get_DNSTimeout)(LONG* pVal) = 0;
  STDMETHOD(put_DNSTimeout)(LONG newVal) = 0;
  STDMETHOD(get_PING_SUCCESS)(SHORT* pVal) = 0;
  STDMETHOD(get_PING_DID_NOT_RESPOND)(SHORT* pVal) = 0;
  STDMETHOD(get_PING_INVALID_ADDRESS)(SHORT* pVal) = 0;
  STDMETHOD(get_PING_INVALID_INTERFACE)(SHORT* pVal) = 0;
  STDMETHOD(get_PING_TTL_EXPIRED)(SHORT* pVal) = 0;
  STDMETHOD(get_PING_NET_UNREACHABLE)(SHORT* pVal) = 0;
  STDMETHOD(get_PING_HOST_UNREACHABLE)(SHORT* pVal) = 0;
  STDMETHOD(get_PING_TIMEOUT)(SHORT* pVal) = 0;
  STDMETHOD(get_PING_INVALID_OBJECT)(SHORT* pVal) = 0;
  STDMETHOD(get_PING_ABORTED)(SHORT* pVal) = 0;
  STDMETHOD(get_PING_RESOLVE_NAME_FAILED)(SHORT* pVal) = 0;
  STDMETHOD(get_PING_DNS_TIMEOUT)(SHORT* pVal) = 0;
  STDMETHOD(get_PING_DNS_NO_RESPONSES)(SHORT* pVal) = 0;
  STDMETHOD(get_PING_ERROR)(SHORT* pVal) = 0;
  STDMETHOD(BlockingPing)(BSTR Target, SHORT TTL, SHORT DataSize, LONG Timeout, VARIANT_BOOL* pResult) = 0;

 protected:
  ~IKestNetPing() = default;
};

struct IKestNetDNS : IDispatch {
  static constexpr IID kIid = IID_IKestNetDNS;
  STDMETHOD(get_Timeout)(LONG* pVal) = 0;
  STDMETHOD(put_Timeout)(LONG newVal) = 0;
  STDMETHOD(SetDNSServers)(BSTR DNSServers, BSTR Delimiter) = 0;
  STDMETHOD(ResolveName)(BSTR DomainName) = 0;
  STDMETHOD(Abort)(BSTR DomainName) = 0;
  STDMETHOD(ClearCache)() = 0;
  STDMETHOD(get_VendorID)(BSTR* pVal) = 0;
  STDMETHOD(put_VendorID)(BSTR newVal) = 0;
  STDMETHOD(ResolveNameAdvanced)(BSTR DomainName, LONG Flags, LONG CacheTime) = 0;
  STDMETHOD(get_DNS_SUCCESS)(LONG* pVal) = 0;
  STDMETHOD(get_DNS_ERROR_NO_RESPONSES)(LONG* pVal) = 0;
  STDMETHOD(get_DNS_ERROR_INVALID_OBJECT)(LONG* pVal) = 0;
  STDMETHOD(get_DNS_ERROR_TIMEOUT)(LONG* pVal) = 0;
  STDMETHOD(get_DNS_ERROR_ABORT)(LONG* pVal) = 0;
  STDMETHOD(get_DNS_ERROR_NO_SERVERS)(LONG* pVal) = 0;
  STDMETHOD(get_DNS_RESOLVE_NAME_ALWAYS_QUERY)(LONG* pVal) = 0;
  STDMETHOD(get_DNS_RESOLVE_NAME_DONT_CACHE)(LONG* pVal) = 0;
  STDMETHOD(get_DNS_RESOLVE_NAME_SPECIFY_CACHE_TIMEOUT)(LONG* pVal) = 0;

 protected:
  ~IKestNetDNS() = default;
};

struct IKestNetPOP3 : IDispatch {
  static constexpr IID kIid = IID_IKestNetPOP3;
  STDMETHOD(get_Server)(BSTR* pVal) = 0;
  STDMETHOD(put_Server)(BSTR newVal) = 0;
  STDMETHOD(get_Port)(LONG* pVal) = 0;
  STDMETHOD(put_Port)(LONG newVal) = 0;
  STDMETHOD(get_Username)(BSTR* pVal) = 0;
  STDMETHOD(put_Username)(BSTR newVal) = 0;
  STDMETHOD(get_Password)(BSTR* pVal) = 0;
  STDMETHOD(put_Password)(BSTR newVal) = 0;
  STDMETHOD(get_Connected)(VARIANT_BOOL* pVal) = 0;
  STDMETHOD(get_Ready)(VARIANT_BOOL* pVal) = 0;
  STDMETHOD(Connect)() = 0;
  STDMETHOD(GetMessageCount)() = 0;
  STDMETHOD(RetrieveMessage)(LONG MessageNumber) = 0;
  STDMETHOD(DeleteMessage)(LONG MessageNumber) = 0;
  STDMETHOD(Disconnect)() = 0;
  STDMETHOD(get_POP3_SUCCESS)(LONG* pVal) = 0;
  STDMETHOD(get_POP3_SOCKET_FAILURE)(LONG* pVal) = 0;
  STDMETHOD(get_POP3_AUTH_ERROR)(LONG* pVal) = 0;
  STDMETHOD(get_POP3_CONNECT_ERROR)(LONG* pVal) = 0;
  STDMETHOD(get_POP3_TERMINATED)(LONG* pVal) = 0;
  STDMETHOD(get_POP3_INVALID_ARGS)(LONG* pVal) = 0;
  STDMETHOD(get_POP3_BUSY)(LONG* pVal) = 0;
  STDMETHOD(get_POP3_INVALID_STATE)(LONG* pVal) = 0;
  STDMETHOD(get_POP3_UNEXPECTED)(LONG* pVal) = 0;

 protected:
  ~IKestNetPOP3() = default;
};

struct IKestNetPOP3Ex : IDispatch {
  static constexpr IID kIid = IID_IKestNetPOP3Ex;
  STDMETHOD(get_UseSSL)(VARIANT_BOOL* pVal) = 0;
  STDMETHOD(put_UseSSL)(VARIANT_BOOL newVal) = 0;
  STDMETHOD(get_Server)(BSTR* pVal) = 0;
  STDMETHOD(put_Server)(BSTR newVal) = 0;
  STDMETHOD(get_Port)(LONG* pVal) = 0;
  STDMETHOD(put_Port)(LONG newVal) = 0;
  STDMETHOD(get_Username)(BSTR* pVal) = 0;
  STDMETHOD(put_Username)(BSTR newVal) = 0;
  STDMETHOD(get_Password)(BSTR* pVal) = 0;
  STDMETHOD(put_Password)(BSTR newVal) = 0;
  STDMETHOD(get_CertificateSubject)(BSTR* pVal) = 0;
  STDMETHOD(put_CertificateSubject)(BSTR newVal) = 0;
  STDMETHOD(get_CertificateIssuer)(BSTR* pVal) = 0;
  STDMETHOD(put_CertificateIssuer)(BSTR newVal) = 0;
  STDMETHOD(get_Connected)(VARIANT_BOOL* pVal) = 0;
  STDMETHOD(get_Ready)(VARIANT_BOOL* pVal) = 0;
  STDMETHOD(Connect)() = 0;
  STDMETHOD(GetMessageCount)() = 0;
  STDMETHOD(RetrieveMessage)(LONG MessageNumber) = 0;
  STDMETHOD(DeleteMessage)(LONG MessageNumber) = 0;
  STDMETHOD(Disconnect)() = 0;
  STDMETHOD(get_POP3EX_SUCCESS)(LONG* pVal) = 0;
  STDMETHOD(get_POP3EX_CONNECT_ERROR)(LONG* pVal) = 0;
  STDMETHOD(get_POP3EX_TERMINATED)(LONG* pVal) = 0;
  STDMETHOD(get_POP3EX_INVALID_STATE)(LONG* pVal) = 0;
  STDMETHOD(get_POP3EX_UNEXPECTED)(LONG* pVal) = 0;

 protected:
  ~IKestNetPOP3Ex() = default;
};

struct IKestNetSMTP : IDispatch {
  static constexpr IID kIid = IID_IKestNetSMTP;
  STDMETHOD(get_Server)(BSTR* pVal) = 0;
  STDMETHOD(put_Server)(BSTR newVal) = 0;
  STDMETHOD(get_Port)(LONG* pVal) = 0;
  STDMETHOD(put_Port)(LONG newVal) = 0;
  STDMETHOD(get_Username)(BSTR* pVal) = 0;
  STDMETHOD(put_Username)(BSTR newVal) = 0;
  STDMETHOD(get_Password)(BSTR* pVal) = 0;
  STDMETHOD(put_Password)(BSTR newVal) = 0;
  STDMETHOD(Connect)() = 0;
  STDMETHOD(get_Connected)(VARIANT_BOOL* pVal) = 0;
  STDMETHOD(get_Ready)(VARIANT_BOOL* pVal) = 0;
  STDMETHOD(Disconnect)() = 0;
  STDMETHOD(SendMessage)(IDispatch* MessageData) = 0;
  STDMETHOD(get_SMTP_SUCCESS)(LONG* pVal) = 0;
  STDMETHOD(get_SMTP_SOCKET_FAILURE)(LONG* pVal) = 0;
  STDMETHOD(get_SMTP_CONNECT_ERROR)(LONG* pVal) = 0;
  STDMETHOD(get_SMTP_TERMINATED)(LONG* pVal) = 0;
  STDMETHOD(get_SMTP_INVALID_ARGS)(LONG* pVal) = 0;
  STDMETHOD(get_SMTP_BUSY)(LONG* pVal) = 0;
  STDMETHOD(get_SMTP_INVALID_STATE)(LONG* pVal) = 0;
  STDMETHOD(get_SMTP_UNEXPECTED)(LONG* pVal) = 0;
  STDMETHOD(get_SMTP_AUTH_ERROR)(LONG* pVal) = 0;

 protected:
  ~IKestNetSMTP() = default;
};

struct IKestNetSMTPEx : IDispatch {
  static constexpr IID kIid = IID_IKestNetSMTPEx;
  STDMETHOD(get_UseSSL)(VARIANT_BOOL* pVal) = 0;
  STDMETHOD(put_UseSSL)(VARIANT_BOOL newVal) = 0;
  STDMETHOD(get_Server)(BSTR* pVal) = 0;
  STDMETHOD(put_Server)(BSTR newVal) = 0;
  STDMETHOD(get_Port)(LONG* pVal) = 0;
  STDMETHOD(put_Port)(LONG newVal) = 0;
  STDMETHOD(get_Username)(BSTR* pVal) = 0;
  STDMETHOD(put_Username)(BSTR newVal) = 0;
  STDMETHOD(get_Password)(BSTR* pVal) = 0;
  STDMETHOD(put_Password)(BSTR newVal) = 0;
  STDMETHOD(get_CertificateSubject)(BSTR* pVal) = 0;
  STDMETHOD(put_CertificateSubject)(BSTR newVal) = 0;
  STDMETHOD(get_CertificateIssuer)(BSTR* pVal) = 0;
  STDMETHOD(put_CertificateIssuer)(BSTR newVal) = 0;
  STDMETHOD(Connect)() = 0;
  STDMETHOD(get_Connected)(VARIANT_BOOL* pVal) = 0;
  STDMETHOD(get_Ready)(VARIANT_BOOL* pVal) = 0;
  STDMETHOD(Disconnect)() = 0;
  STDMETHOD(SendMessage)(IDispatch* MessageData) = 0;
  STDMETHOD(get_SMTPEX_SUCCESS)(LONG* pVal) = 0;
  STDMETHOD(get_SMTPEX_CONNECT_ERROR)(LONG* pVal) = 0;
  STDMETHOD(get_SMTPEX_TERMINATED)(LONG* pVal) = 0;
  STDMETHOD(get_SMTPEX_INVALID_STATE)(LONG* pVal) = 0;
  STDMETHOD(get_SMTPEX_UNEXPECTED)(LONG* pVal) = 0;

 protected:
  ~IKestNetSMTPEx() = default;
};

struct IKestNetMessageData : IDispatch {
  static constexpr IID kIid = IID_IKestNetMessageData;
  STDMETHOD(get_To)(BSTR* pVal) = 0;
  STDMETHOD(put_To)(BSTR newVal) = 0;
  STDMETHOD(get_From)(BSTR* pVal) = 0;
  STDMETHOD(put_From)(BSTR newVal) = 0;
  STDMETHOD(get_Subject)(BSTR* pVal) = 0;
  STDMETHOD(put_Subject)(BSTR newVal) = 0;
  STDMETHOD(get_XMailer)(BSTR* pVal) = 0;
  STDMETHOD(put_XMailer)(BSTR newVal) = 0;
  STDMETHOD(get_Cc)(BSTR* pVal) = 0;
  STDMETHOD(put_Cc)(BSTR newVal) = 0;
  STDMETHOD(get_Bcc)(BSTR* pVal) = 0;
  STDMETHOD(put_Bcc)(BSTR newVal) = 0;
  STDMETHOD(get_Date)(BSTR* pVal) = 0;
  STDMETHOD(put_Date)(BSTR newVal) = 0;
  STDMETHOD(get_NumHeaders)(LONG* pVal) = 0;
  STDMETHOD(get_TextMessage)(BSTR* pVal) = 0;
  STDMETHOD(put_TextMessage)(BSTR newVal) = 0;
  STDMETHOD(get_HtmlMessage)(BSTR* pVal) = 0;
  STDMETHOD(put_HtmlMessage)(BSTR newVal) = 0;
  STDMETHOD(AddHeader)(BSTR CustomHeader) = 0;
  STDMETHOD(RemoveHeader)(LONG HeaderIndex) = 0;
  STDMETHOD(GetHeader)(LONG HeaderIndex, BSTR* pVal) = 0;
  STDMETHOD(ClearAllHeaders)() = 0;
  STDMETHOD(SetDateToNow)() = 0;
  STDMETHOD(GetHeaderByName)(BSTR HeaderName, BSTR* pVal) = 0;
  STDMETHOD(SetHeaderByName)(BSTR HeaderName, BSTR HeaderValue) = 0;

 protected:
  ~IKestNetMessageData() = default;
};

struct IKestNetTcpClientSocket : IDispatch {
  static constexpr IID kIid = IID_IKestNetTcpClientSocket;
  STDMETHOD(Connect)(BSTR Target, LONG Port) = 0;
  STDMETHOD(Close)() = 0;
  STDMETHOD(BlockingSocketTest)(BSTR Target, LONG Port, LONG Timeout, VARIANT_BOOL* pResult) = 0;
  STDMETHOD(get_SOCKET_NO_ERROR)(LONG* pVal) = 0;
  STDMETHOD(get_SOCKET_GENERIC_ERROR)(LONG* pVal) = 0;
  STDMETHOD(get_SOCKET_OS_LAYER_NOT_INITIALIZED)(LONG* pVal) = 0;
  STDMETHOD(get_SOCKET_OS_FAILURE)(LONG* pVal) = 0;
  STDMETHOD(get_SOCKET_ADDR_IN_USE)(LONG* pVal) = 0;
  STDMETHOD(get_SOCKET_INVALID_STATE)(LONG* pVal) = 0;
  STDMETHOD(get_SOCKET_INVALID_ARG)(LONG* pVal) = 0;
  STDMETHOD(get_SOCKET_CONNECT_REFUSED)(LONG* pVal) = 0;
  STDMETHOD(get_SOCKET_DEST_UNREACHABLE)(LONG* pVal) = 0;
  STDMETHOD(get_SOCKET_TIMEOUT)(LONG* pVal) = 0;

 protected:
  ~IKestNetTcpClientSocket() = default;
};

struct IKestNetWindowsNetwork : IDispatch {
  static constexpr IID kIid = IID_IKestNetWindowsNetwork;
  STDMETHOD(GetHostInfo)(BSTR HostName) = 0;
  STDMETHOD(AbortGetHostInfo)(BSTR HostName) = 0;
  STDMETHOD(GetShareLocalPath)(BSTR Server, BSTR ShareName, BSTR* pLocalPath) = 0;
  STDMETHOD(AllowXPFileSharing)(VARIANT_BOOL AllowSharing, VARIANT_BOOL* pResult) = 0;
  STDMETHOD(IsXPFileSharingAllowed)(VARIANT_BOOL* pResult) = 0;
  STDMETHOD(MapNetworkPrinter)(BSTR ServerName, BSTR ServerPrinterName, BSTR LocalPrinterName) = 0;
  STDMETHOD(GetNetworkComputers)(BSTR WorkgroupName, VARIANT_BOOL* pResult) = 0;
  STDMETHOD(GetFileShareList)(BSTR WorkgroupName, VARIANT_BOOL* pResult) = 0;
  STDMETHOD(GetPrinterShareList)(BSTR WorkgroupName, VARIANT_BOOL* pResult) = 0;
  STDMETHOD(FileSharePermission)(BSTR ComputerName, BSTR ShareName, LONG* pPermission) = 0;
  STDMETHOD(FileShareExists)(BSTR ComputerName, BSTR ShareName, VARIANT_BOOL* pResult) = 0;
  STDMETHOD(CopyFileToShare)(BSTR File, BSTR ComputerName, BSTR ShareName, VARIANT_BOOL* pResult) = 0;
  STDMETHOD(DeleteFileFromShare)(BSTR File, BSTR ComputerName, BSTR ShareName, VARIANT_BOOL* pResult) = 0;
  STDMETHOD(PrinterSharePermission)(BSTR ComputerName, BSTR PrinterName, LONG* pPermission) = 0;
  STDMETHOD(PrinterShareExists)(BSTR ComputerName, BSTR PrinterName, VARIANT_BOOL* pResult) = 0;
  STDMETHOD(AddNetworkPrinter)(BSTR ComputerName, BSTR PrinterName, VARIANT_BOOL* pResult) = 0;
  STDMETHOD(DeleteNetworkPrinter)(BSTR ComputerName, BSTR PrinterName, VARIANT_BOOL* pResult) = 0;
  STDMETHOD(GetNetworkWorkgroups)(VARIANT_BOOL* pResult) = 0;
  STDMETHOD(MapNetworkShare)(BSTR RemoteShare, BSTR LocalDrive) = 0;
  STDMETHOD(UnMapNetworkShare)(BSTR LocalDrive) = 0;
  STDMETHOD(PrintTestPage)(BSTR FilePath, BSTR ComputerName, BSTR PrinterName) = 0;
  STDMETHOD(GetMappedConnection)(BSTR LocalDrive, BSTR* pRemoteShare) = 0;
  STDMETHOD(ShowPrinterQueue)(BSTR ComputerName, BSTR PrinterName) = 0;
  STDMETHOD(CreateFileShare)(BSTR FileName, BSTR ShareName, VARIANT_BOOL Create, VARIANT_BOOL ReadWriteAccess, VARIANT_BOOL* pResult) = 0;
  STDMETHOD(DeleteFileShare)(BSTR ShareName, VARIANT_BOOL* pResult) = 0;
  STDMETHOD(GetLocalFileShares)(VARIANT_BOOL IncludeAdmin, VARIANT* pShares) = 0;
  STDMETHOD(GetLocalPrinters)(VARIANT* pPrinters) = 0;
  STDMETHOD(IsLocalPrinterShared)(BSTR PrinterName, VARIANT_BOOL* pResult) = 0;
  STDMETHOD(CreatePrinterShare)(BSTR PrinterName, BSTR ShareName, VARIANT_BOOL* pResult) = 0;
  STDMETHOD(DeletePrinterShare)(BSTR ShareName, VARIANT_BOOL* pResult) = 0;
  STDMETHOD(GetPrinterShareName)(BSTR PrinterName, BSTR* pShareName) = 0;
  STDMETHOD(GetLocalPrinterStatus)(BSTR PrinterName, LONG* pStatus) = 0;
  STDMETHOD(GetConnectedPrinters)(VARIANT* pPrinters) = 0;
  STDMETHOD(get_CurrentNetworkLocation)(LONG* pVal) = 0;
  STDMETHOD(put_CurrentNetworkLocation)(LONG newVal) = 0;
  STDMETHOD(ArePrintersShared)(VARIANT_BOOL* pResult) = 0;
  STDMETHOD(SharePrinters)(VARIANT_BOOL* pResult) = 0;
  STDMETHOD(StopSharingPrinters)(VARIANT_BOOL* pResult) = 0;
  STDMETHOD(CreateDefaultShare)(LONG FolderID, LONG Role, VARIANT_BOOL* pResult) = 0;
  STDMETHOD(DeleteDefaultShare)(LONG FolderID, VARIANT_BOOL* pResult) = 0;
  STDMETHOD(DoesDefaultShareExist)(LONG FolderID, VARIANT_BOOL* pResult) = 0;
  STDMETHOD(GetDefaultSharePermissions)(LONG FolderID, LONG* pAccess) = 0;
  STDMETHOD(SetPasswordProtectedSharing)(VARIANT_BOOL Enable, VARIANT_BOOL* pResult) = 0;
  STDMETHOD(IsPasswordProtectedSharingOn)(VARIANT_BOOL* pResult) = 0;
  STDMETHOD(UnMapNetworkPrinter)(BSTR ServerName, BSTR PrinterName) = 0;
  STDMETHOD(MapNetworkShareAsync)(BSTR RemoteShare, BSTR LocalDrive) = 0;
  STDMETHOD(UnMapNetworkShareAsync)(BSTR LocalDrive) = 0;
  STDMETHOD(CreateFileShareAsync)(BSTR FileName, BSTR ShareName, VARIANT_BOOL Create, VARIANT_BOOL ReadWriteAccess) = 0;
  STDMETHOD(DeleteFileShareAsync)(BSTR ShareName) = 0;
  STDMETHOD(UpdateFileShareAccess)(BSTR ShareName, LONG Access) = 0;
  STDMETHOD(GetLocalFileSharePermissions)(BSTR ShareName, LONG* pPermission) = 0;
  STDMETHOD(EnableMediaSharing)(VARIANT_BOOL Enable, VARIANT_BOOL* pResult) = 0;
  STDMETHOD(IsMediaSharingEnabled)(VARIANT_BOOL* pResult) = 0;
  STDMETHOD(ShowMediaSharingDialog)(VARIANT_BOOL* pResult) = 0;
  STDMETHOD(get_GETHOSTINFO_SUCCESS)(LONG* pVal) = 0;
  STDMETHOD(get_GETHOSTINFO_ABORTED)(LONG* pVal) = 0;
  STDMETHOD(get_GETHOSTINFO_HOST_NOT_FOUND)(LONG* pVal) = 0;
  STDMETHOD(get_GETHOSTINFO_ERROR)(LONG* pVal) = 0;
  STDMETHOD(get_GETHOSTINFO_INVALIDOBJECT)(LONG* pVal) = 0;
  STDMETHOD(get_MAPNETWORKPRINTER_SUCCESS)(LONG* pVal) = 0;
  STDMETHOD(get_MAPNETWORKPRINTER_ERROR)(LONG* pVal) = 0;
  STDMETHOD(get_MAPNETWORKPRINTER_ABORTED)(LONG* pVal) = 0;
  STDMETHOD(get_MAPNETWORKPRINTER_DRIVER_NOT_FOUND)(LONG* pVal) = 0;
  STDMETHOD(get_MAPNETWORKPRINTER_NETWORK_NOT_FOUND)(LONG* pVal) = 0;
  STDMETHOD(get_MAPNETWORKPRINTER_UNABLE_TO_ACCESS)(LONG* pVal) = 0;
  STDMETHOD(get_MAPNETWORKPRINTER_UNABLE_TO_COPY)(LONG* pVal) = 0;
  STDMETHOD(get_FS_UNKNOWN)(LONG* pVal) = 0;
  STDMETHOD(get_FS_READ)(LONG* pVal) = 0;
  STDMETHOD(get_FS_READ_WRITE)(LONG* pVal) = 0;
  STDMETHOD(get_PS_PRINT)(LONG* pVal) = 0;
  STDMETHOD(get_PS_UNKNOWN)(LONG* pVal) = 0;
  STDMETHOD(get_PS_BUSY)(LONG* pVal) = 0;
  STDMETHOD(get_PS_DOOR_OPEN)(LONG* pVal) = 0;
  STDMETHOD(get_PS_ERROR)(LONG* pVal) = 0;
  STDMETHOD(get_PS_INITIALIZING)(LONG* pVal) = 0;
  STDMETHOD(get_PS_IO_ACTIVE)(LONG* pVal) = 0;
  STDMETHOD(get_PS_MANUAL_FEED)(LONG* pVal) = 0;
  STDMETHOD(get_PS_NOT_AVAILABLE)(LONG* pVal) = 0;
  STDMETHOD(get_PS_NO_TONER)(LONG* pVal) = 0;
  STDMETHOD(get_PS_OFFLINE)(LONG* pVal) = 0;
  STDMETHOD(get_PS_OUTPUT_BIN_FULL)(LONG* pVal) = 0;
  STDMETHOD(get_PS_OUT_OF_MEMORY)(LONG* pVal) = 0;
  STDMETHOD(get_PS_PAGE_PUNT)(LONG* pVal) = 0;
  STDMETHOD(get_PS_PAPER_JAM)(LONG* pVal) = 0;
  STDMETHOD(get_PS_PAPER_OUT)(LONG* pVal) = 0;
  STDMETHOD(get_PS_PAPER_PROBLEM)(LONG* pVal) = 0;
  STDMETHOD(get_PS_PAUSED)(LONG* pVal) = 0;
  STDMETHOD(get_PS_PENDING_DELETION)(LONG* pVal) = 0;
  STDMETHOD(get_PS_POWER_SAVE)(LONG* pVal) = 0;
  STDMETHOD(get_PS_PRINTING)(LONG* pVal) = 0;
  STDMETHOD(get_PS_PROCESSING)(LONG* pVal) = 0;
  STDMETHOD(get_PS_READY)(LONG* pVal) = 0;
  STDMETHOD(get_PS_SERVER_UNKNOWN)(LONG* pVal) = 0;
  STDMETHOD(get_PS_TONER_LOW)(LONG* pVal) = 0;
  STDMETHOD(get_PS_USER_INTERVENTION)(LONG* pVal) = 0;
  STDMETHOD(get_PS_WAITING)(LONG* pVal) = 0;
  STDMETHOD(get_PS_WARMING_UP)(LONG* pVal) = 0;
  STDMETHOD(get_LOCATION_PUBLIC)(LONG* pVal) = 0;
  STDMETHOD(get_LOCATION_PRIVATE)(LONG* pVal) = 0;
  STDMETHOD(get_LOCATION_DOMAIN)(LONG* pVal) = 0;
  STDMETHOD(get_LOCATION_NOT_CONNECTED)(LONG* pVal) = 0;
  STDMETHOD(get_DEFAULT_SHARE_USERS)(LONG* pVal) = 0;
  STDMETHOD(get_DEFAULT_SHARE_PUBLIC)(LONG* pVal) = 0;
  STDMETHOD(get_DEFAULT_SHARE_ROLE_READER)(LONG* pVal) = 0;
  STDMETHOD(get_DEFAULT_SHARE_ROLE_CO_OWNER)(LONG* pVal) = 0;
  STDMETHOD(get_DEFAULT_SHARE_ROLE_INVALID)(LONG* pVal) = 0;
  STDMETHOD(get_ASYNC_OPERATION_SUCCESS)(LONG* pVal) = 0;
  STDMETHOD(get_ASYNC_OPERATION_ABORTED)(LONG* pVal) = 0;
  STDMETHOD(get_ASYNC_OPERATION_ERROR)(LONG* pVal) = 0;
  STDMETHOD(get_ASYNC_NONET_ERROR)(LONG* pVal) = 0;
  STDMETHOD(get_ASYNC_DOESNOTEXIST_ERROR)(LONG* pVal) = 0;
  STDMETHOD(get_ASYNC_DUPLICATE_ERROR)(LONG* pVal) = 0;
  STDMETHOD(get_ASYNC_CREATE_DIR_ERROR)(LONG* pVal) = 0;
  STDMETHOD(get_ASYNC_SECURITY_ERROR)(LONG* pVal) = 0;
  STDMETHOD(get_ASYNC_INVALID_ARG_ERROR)(LONG* pVal) = 0;

 protected:
  ~IKestNetWindowsNetwork() = default;
};

struct IKestNetWindowsNetwork2 : IDispatch {
  static constexpr IID kIid = IID_IKestNetWindowsNetwork2;
  STDMETHOD(MapNetworkShareAsync)(BSTR RemoteShare, BSTR LocalDrive, BSTR Username, BSTR Password, LONG ConnectionFlags) = 0;
  STDMETHOD(get_CONNECT_INTERACTIVE)(LONG* pVal) = 0;
  STDMETHOD(get_CONNECT_PROMPT)(LONG* pVal) = 0;
  STDMETHOD(get_CONNECT_UPDATE_PROFILE)(LONG* pVal) = 0;

 protected:
  ~IKestNetWindowsNetwork2() = default;
};

struct IKestNetWindowsNetworkHost : IDispatch {
  static constexpr IID kIid = IID_IKestNetWindowsNetworkHost;
  STDMETHOD(get_IPAddress)(BSTR* pVal) = 0;
  STDMETHOD(put_IPAddress)(BSTR newVal) = 0;
  STDMETHOD(get_MACAddress)(BSTR* pVal) = 0;
  STDMETHOD(put_MACAddress)(BSTR newVal) = 0;
  STDMETHOD(get_Comment)(BSTR* pVal) = 0;
  STDMETHOD(put_Comment)(BSTR newVal) = 0;
  STDMETHOD(get_MajorVersion)(LONG* pVal) = 0;
  STDMETHOD(put_MajorVersion)(LONG newVal) = 0;
  STDMETHOD(get_MinorVersion)(LONG* pVal) = 0;
  STDMETHOD(put_MinorVersion)(LONG newVal) = 0;
  STDMETHOD(get_PlatformID)(LONG* pVal) = 0;
  STDMETHOD(put_PlatformID)(LONG newVal) = 0;
  STDMETHOD(get_PLATFORM_WINDOWS_9X)(LONG* pVal) = 0;
  STDMETHOD(get_PLATFORM_WINDOWS_2000)(LONG* pVal) = 0;
  STDMETHOD(get_PLATFORM_WINDOWS_NT40)(LONG* pVal) = 0;
  STDMETHOD(get_PLATFORM_WINDOWS_XP)(LONG* pVal) = 0;
  STDMETHOD(get_PLATFORM_WINDOWS_2003)(LONG* pVal) = 0;
  STDMETHOD(get_PLATFORM_WINDOWS_VISTA)(LONG* pVal) = 0;
  STDMETHOD(get_PLATFORM_WINDOWS_7)(LONG* pVal) = 0;
  STDMETHOD(get_PLATFORM_UNIX)(LONG* pVal) = 0;
  STDMETHOD(get_PLATFORM_UNKNOWN)(LONG* pVal) = 0;

 protected:
  ~IKestNetWindowsNetworkHost() = default;
};
