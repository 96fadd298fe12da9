// The KestNet type library, version 1.0, written once: every dual interface
// with its members in vtable order (member i is vtable slot 7 + i, after
// IUnknown's 3 and IDispatch's 4; a property's get comes before its put) and
// every event interface with the dispids and argument order its sinks receive.
// interfaces.h declares the C++ interfaces from these tables, typelib.cpp
// describes the library clients read, and event_proxies.h writes the Fire_
// operations; typelib_macros.h says how a row reads.
//
// Dual rows: X(Kind, Dispid, Name, Parameters...) with Kind Method,
// PropertyGet or PropertyPut. Event rows: X(Dispid, Name, Parameters...).
// Parameters: (In|RetVal, Type, Name) or (Optional, Type, Name, Default).
// KESTNET_TL_PROPERTY(X, Dispid, Name, Type) stands for a property's get and
// put rows, KESTNET_TL_READ_ONLY(X, Dispid, Name, Type) for a get row alone
// (the constants).
//
// Changing a row changes a published interface: clients compiled against it
// and scripts that call it by dispid see the change.
#pragma once

// IKestNetPing Interface
#define KESTNET_MEMBERS_IKestNetPing(X) \
  X(Method, 1, Ping, (In, BSTR, Target), (In, SHORT, TTL), (In, SHORT, DataSize), (In, LONG, Timeout)) \
  X(Method, 2, Abort, (In, BSTR, Target)) \
  KESTNET_TL_PROPERTY(X, 3, DNSTimeout, LONG) \
  KESTNET_TL_READ_ONLY(X, 4, PING_SUCCESS, SHORT) \
  KESTNET_TL_READ_ONLY(X, 5, PING_DID_NOT_RESPOND, SHORT) \
  KESTNET_TL_READ_ONLY(X, 6, PING_INVALID_ADDRESS, SHORT) \
  KESTNET_TL_READ_ONLY(X, 7, PING_INVALID_INTERFACE, SHORT) \
  KESTNET_TL_READ_ONLY(X, 8, PING_TTL_EXPIRED, SHORT) \
  KESTNET_TL_READ_ONLY(X, 9, PING_NET_UNREACHABLE, SHORT) \
  KESTNET_TL_READ_ONLY(X, 10, PING_HOST_UNREACHABLE, SHORT) \
  KESTNET_TL_READ_ONLY(X, 11, PING_TIMEOUT, SHORT) \
  KESTNET_TL_READ_ONLY(X, 12, PING_INVALID_OBJECT, SHORT) \
  KESTNET_TL_READ_ONLY(X, 13, PING_ABORTED, SHORT) \
  KESTNET_TL_READ_ONLY(X, 14, PING_RESOLVE_NAME_FAILED, SHORT) \
  KESTNET_TL_READ_ONLY(X, 15, PING_DNS_TIMEOUT, SHORT) \
  KESTNET_TL_READ_ONLY(X, 16, PING_DNS_NO_RESPONSES, SHORT) \
  KESTNET_TL_READ_ONLY(X, 17, PING_ERROR, SHORT) \
  X(Method, 18, BlockingPing, (In, BSTR, Target), (In, SHORT, TTL), (In, SHORT, DataSize), (In, LONG, Timeout), (RetVal, VARIANT_BOOL, pResult))

// IKestNetPingEvents Interface
#define KESTNET_EVENTS_IKestNetPingEvents(X) \
  X(1, OnPingComplete, (In, SHORT, Status), (In, BSTR, TargetHost), (In, BSTR, TargetAddress), (In, BSTR, ResponseAddress), (In, LONG, ResponseTime))

// IKestNetDNS Interface
#define KESTNET_MEMBERS_IKestNetDNS(X) \
  KESTNET_TL_PROPERTY(X, 1, Timeout, LONG) \
  X(Method, 2, SetDNSServers, (In, BSTR, DNSServers), (Optional, BSTR, Delimiter, DefaultText(L","))) \
  X(Method, 3, ResolveName, (In, BSTR, DomainName)) \
  X(Method, 4, Abort, (In, BSTR, DomainName)) \
  X(Method, 5, ClearCache) \
  KESTNET_TL_PROPERTY(X, 6, VendorID, BSTR) \
  X(Method, 7, ResolveNameAdvanced, (In, BSTR, DomainName), (In, LONG, Flags), (In, LONG, CacheTime)) \
  KESTNET_TL_READ_ONLY(X, 8, DNS_SUCCESS, LONG) \
  KESTNET_TL_READ_ONLY(X, 9, DNS_ERROR_NO_RESPONSES, LONG) \
  KESTNET_TL_READ_ONLY(X, 10, DNS_ERROR_INVALID_OBJECT, LONG) \
  KESTNET_TL_READ_ONLY(X, 11, DNS_ERROR_TIMEOUT, LONG) \
  KESTNET_TL_READ_ONLY(X, 12, DNS_ERROR_ABORT, LONG) \
  KESTNET_TL_READ_ONLY(X, 13, DNS_ERROR_NO_SERVERS, LONG) \
  KESTNET_TL_READ_ONLY(X, 14, DNS_RESOLVE_NAME_ALWAYS_QUERY, LONG) \
  KESTNET_TL_READ_ONLY(X, 15, DNS_RESOLVE_NAME_DONT_CACHE, LONG) \
  KESTNET_TL_READ_ONLY(X, 16, DNS_RESOLVE_NAME_SPECIFY_CACHE_TIMEOUT, LONG)

// IKestNetDNSEvents Interface
#define KESTNET_EVENTS_IKestNetDNSEvents(X) \
  X(1, OnResolveNameComplete, (In, INT, Result), (In, BSTR, DomainName), (In, VARIANT, IPs))

// IKestNetPOP3 Interface
#define KESTNET_MEMBERS_IKestNetPOP3(X) \
  KESTNET_TL_PROPERTY(X, 1, Server, BSTR) \
  KESTNET_TL_PROPERTY(X, 2, Port, LONG) \
  KESTNET_TL_PROPERTY(X, 3, Username, BSTR) \
  KESTNET_TL_PROPERTY(X, 4, Password, BSTR) \
  KESTNET_TL_READ_ONLY(X, 5, Connected, VARIANT_BOOL) \
  KESTNET_TL_READ_ONLY(X, 6, Ready, VARIANT_BOOL) \
  X(Method, 7, Connect) \
  X(Method, 8, GetMessageCount) \
  X(Method, 9, RetrieveMessage, (In, LONG, MessageNumber)) \
  X(Method, 10, DeleteMessage, (In, LONG, MessageNumber)) \
  X(Method, 11, Disconnect) \
  KESTNET_TL_READ_ONLY(X, 12, POP3_SUCCESS, LONG) \
  KESTNET_TL_READ_ONLY(X, 13, POP3_SOCKET_FAILURE, LONG) \
  KESTNET_TL_READ_ONLY(X, 14, POP3_AUTH_ERROR, LONG) \
  KESTNET_TL_READ_ONLY(X, 15, POP3_CONNECT_ERROR, LONG) \
  KESTNET_TL_READ_ONLY(X, 16, POP3_TERMINATED, LONG) \
  KESTNET_TL_READ_ONLY(X, 17, POP3_INVALID_ARGS, LONG) \
  KESTNET_TL_READ_ONLY(X, 18, POP3_BUSY, LONG) \
  KESTNET_TL_READ_ONLY(X, 19, POP3_INVALID_STATE, LONG) \
  KESTNET_TL_READ_ONLY(X, 20, POP3_UNEXPECTED, LONG)

// IKestNetPOP3Events Interface
#define KESTNET_EVENTS_IKestNetPOP3Events(X) \
  X(1, OnPOP3Connect, (In, LONG, Status)) \
  X(2, OnPOP3Header, (In, LONG, Status), (In, BSTR, Response)) \
  X(3, OnPOP3UserName, (In, LONG, Status), (In, BSTR, Response)) \
  X(4, OnPOP3Password, (In, LONG, Status), (In, BSTR, Response)) \
  X(5, OnPOP3Ready) \
  X(6, OnPOP3Quit, (In, LONG, Status), (In, BSTR, Response)) \
  X(7, OnPOP3Disconnect, (In, LONG, Status)) \
  X(8, OnPOP3GetMessageCount, (In, LONG, Status), (In, BSTR, Response), (In, LONG, MessageCount), (In, LONG, MailboxSize)) \
  X(9, OnPOP3RetrieveMessage, (In, LONG, Status), (In, LONG, MessageNumber), (In, LPDISPATCH, MessageData)) \
  X(10, OnPOP3DeleteMessage, (In, LONG, Status), (In, BSTR, Response), (In, ULONG, MessageNumber))

// The settings both secure mail interfaces begin with, at the same dispids.
#define KESTNET_SECURE_MAIL_SETTINGS(X) \
  KESTNET_TL_PROPERTY(X, 1, UseSSL, VARIANT_BOOL) \
  KESTNET_TL_PROPERTY(X, 2, Server, BSTR) \
  KESTNET_TL_PROPERTY(X, 3, Port, LONG) \
  KESTNET_TL_PROPERTY(X, 4, Username, BSTR) \
  KESTNET_TL_PROPERTY(X, 5, Password, BSTR) \
  KESTNET_TL_PROPERTY(X, 6, CertificateSubject, BSTR) \
  KESTNET_TL_PROPERTY(X, 7, CertificateIssuer, BSTR)

// IKestNetPOP3Ex Interface
#define KESTNET_MEMBERS_IKestNetPOP3Ex(X) \
  KESTNET_SECURE_MAIL_SETTINGS(X) \
  KESTNET_TL_READ_ONLY(X, 8, Connected, VARIANT_BOOL) \
  KESTNET_TL_READ_ONLY(X, 9, Ready, VARIANT_BOOL) \
  X(Method, 10, Connect) \
  X(Method, 11, GetMessageCount) \
  X(Method, 12, RetrieveMessage, (In, LONG, MessageNumber)) \
  X(Method, 13, DeleteMessage, (In, LONG, MessageNumber)) \
  X(Method, 14, Disconnect) \
  KESTNET_TL_READ_ONLY(X, 15, POP3EX_SUCCESS, LONG) \
  KESTNET_TL_READ_ONLY(X, 16, POP3EX_CONNECT_ERROR, LONG) \
  KESTNET_TL_READ_ONLY(X, 17, POP3EX_TERMINATED, LONG) \
  KESTNET_TL_READ_ONLY(X, 18, POP3EX_INVALID_STATE, LONG) \
  KESTNET_TL_READ_ONLY(X, 19, POP3EX_UNEXPECTED, LONG)

// IKestNetPOP3ExEvents Interface
#define KESTNET_EVENTS_IKestNetPOP3ExEvents(X) \
  X(1, OnPOP3Connect, (In, LONG, Status)) \
  X(2, OnPOP3Ready) \
  X(3, OnPOP3Quit, (In, LONG, Status), (In, BSTR, Response)) \
  X(4, OnPOP3Disconnect, (In, LONG, Status)) \
  X(5, OnPOP3GetMessageCount, (In, LONG, Status), (In, BSTR, Response), (In, LONG, MessageCount), (In, LONG, MailboxSize)) \
  X(6, OnPOP3RetrieveMessage, (In, LONG, Status), (In, LONG, MessageNumber), (In, LPDISPATCH, MessageData)) \
  X(7, OnPOP3DeleteMessage, (In, LONG, Status), (In, BSTR, Response), (In, LONG, MessageNumber)) \
  X(8, OnPOP3RejectedServerCertificate, (In, BSTR, Status), (In, BSTR, CertificateIssuer), (In, BSTR, CertificateSubject))

// IKestNetSMTP Interface
#define KESTNET_MEMBERS_IKestNetSMTP(X) \
  KESTNET_TL_PROPERTY(X, 1, Server, BSTR) \
  KESTNET_TL_PROPERTY(X, 2, Port, LONG) \
  KESTNET_TL_PROPERTY(X, 3, Username, BSTR) \
  KESTNET_TL_PROPERTY(X, 4, Password, BSTR) \
  X(Method, 5, Connect) \
  KESTNET_TL_READ_ONLY(X, 6, Connected, VARIANT_BOOL) \
  KESTNET_TL_READ_ONLY(X, 7, Ready, VARIANT_BOOL) \
  X(Method, 8, Disconnect) \
  X(Method, 9, SendMessage, (In, LPDISPATCH, MessageData)) \
  KESTNET_TL_READ_ONLY(X, 10, SMTP_SUCCESS, LONG) \
  KESTNET_TL_READ_ONLY(X, 11, SMTP_SOCKET_FAILURE, LONG) \
  KESTNET_TL_READ_ONLY(X, 12, SMTP_CONNECT_ERROR, LONG) \
  KESTNET_TL_READ_ONLY(X, 13, SMTP_TERMINATED, LONG) \
  KESTNET_TL_READ_ONLY(X, 14, SMTP_INVALID_ARGS, LONG) \
  KESTNET_TL_READ_ONLY(X, 15, SMTP_BUSY, LONG) \
  KESTNET_TL_READ_ONLY(X, 16, SMTP_INVALID_STATE, LONG) \
  KESTNET_TL_READ_ONLY(X, 17, SMTP_UNEXPECTED, LONG) \
  KESTNET_TL_READ_ONLY(X, 18, SMTP_AUTH_ERROR, LONG)

// IKestNetSMTPEvents Interface
#define KESTNET_EVENTS_IKestNetSMTPEvents(X) \
  X(1, OnSMTPConnect, (In, LONG, Status)) \
  X(2, OnSMTPHeader, (In, LONG, Status), (In, BSTR, Response)) \
  X(3, OnSMTPHello, (In, LONG, Status), (In, BSTR, Response)) \
  X(4, OnSMTPReady) \
  X(5, OnSMTPAuthenticationRequest, (In, LONG, Status), (In, BSTR, Response)) \
  X(6, OnSMTPUserName, (In, LONG, Status), (In, BSTR, Response)) \
  X(7, OnSMTPPassword, (In, LONG, Status), (In, BSTR, Response)) \
  X(8, OnSMTPAuthenticated, (In, LONG, Status)) \
  X(9, OnSMTPQuit, (In, LONG, Status), (In, BSTR, Response)) \
  X(10, OnSMTPClose, (In, LONG, Status)) \
  X(11, OnSMTPSendComplete, (In, LONG, Status))

// IKestNetSMTPEx Interface
#define KESTNET_MEMBERS_IKestNetSMTPEx(X) \
  KESTNET_SECURE_MAIL_SETTINGS(X) \
  X(Method, 8, Connect) \
  KESTNET_TL_READ_ONLY(X, 9, Connected, VARIANT_BOOL) \
  KESTNET_TL_READ_ONLY(X, 10, Ready, VARIANT_BOOL) \
  X(Method, 11, Disconnect) \
  X(Method, 12, SendMessage, (In, LPDISPATCH, MessageData)) \
  KESTNET_TL_READ_ONLY(X, 13, SMTPEX_SUCCESS, LONG) \
  KESTNET_TL_READ_ONLY(X, 14, SMTPEX_CONNECT_ERROR, LONG) \
  KESTNET_TL_READ_ONLY(X, 15, SMTPEX_TERMINATED, LONG) \
  KESTNET_TL_READ_ONLY(X, 16, SMTPEX_INVALID_STATE, LONG) \
  KESTNET_TL_READ_ONLY(X, 17, SMTPEX_UNEXPECTED, LONG)

// IKestNetSMTPExEvents Interface
#define KESTNET_EVENTS_IKestNetSMTPExEvents(X) \
  X(1, OnSMTPConnect, (In, LONG, Status)) \
  X(2, OnSMTPReady) \
  X(3, OnSMTPQuit, (In, LONG, Status), (In, BSTR, Response)) \
  X(4, OnSMTPClose, (In, LONG, Status)) \
  X(5, OnSMTPSendComplete, (In, LONG, Status)) \
  X(6, OnSMTPRejectedServerCertificate, (In, BSTR, Status), (In, BSTR, CertificateIssuer), (In, BSTR, CertificateSubject))

// IKestNetMessageData Interface
#define KESTNET_MEMBERS_IKestNetMessageData(X) \
  KESTNET_TL_PROPERTY(X, 1, To, BSTR) \
  KESTNET_TL_PROPERTY(X, 2, From, BSTR) \
  KESTNET_TL_PROPERTY(X, 3, Subject, BSTR) \
  KESTNET_TL_PROPERTY(X, 4, XMailer, BSTR) \
  KESTNET_TL_PROPERTY(X, 5, Cc, BSTR) \
  KESTNET_TL_PROPERTY(X, 6, Bcc, BSTR) \
  KESTNET_TL_PROPERTY(X, 7, Date, BSTR) \
  KESTNET_TL_READ_ONLY(X, 8, NumHeaders, LONG) \
  KESTNET_TL_PROPERTY(X, 9, TextMessage, BSTR) \
  KESTNET_TL_PROPERTY(X, 10, HtmlMessage, BSTR) \
  X(Method, 11, AddHeader, (In, BSTR, CustomHeader)) \
  X(Method, 12, RemoveHeader, (In, LONG, HeaderIndex)) \
  X(Method, 13, GetHeader, (In, LONG, HeaderIndex), (RetVal, BSTR, pVal)) \
  X(Method, 14, ClearAllHeaders) \
  X(Method, 15, SetDateToNow) \
  X(Method, 16, GetHeaderByName, (In, BSTR, HeaderName), (RetVal, BSTR, pVal)) \
  X(Method, 17, SetHeaderByName, (In, BSTR, HeaderName), (In, BSTR, HeaderValue))

// IKestNetTcpClientSocket Interface
#define KESTNET_MEMBERS_IKestNetTcpClientSocket(X) \
  X(Method, 1, Connect, (In, BSTR, Target), (In, LONG, Port)) \
  X(Method, 2, Close) \
  X(Method, 3, BlockingSocketTest, (In, BSTR, Target), (In, LONG, Port), (In, LONG, Timeout), (RetVal, VARIANT_BOOL, pResult)) \
  KESTNET_TL_READ_ONLY(X, 100, SOCKET_NO_ERROR, LONG) \
  KESTNET_TL_READ_ONLY(X, 101, SOCKET_GENERIC_ERROR, LONG) \
  KESTNET_TL_READ_ONLY(X, 102, SOCKET_OS_LAYER_NOT_INITIALIZED, LONG) \
  KESTNET_TL_READ_ONLY(X, 103, SOCKET_OS_FAILURE, LONG) \
  KESTNET_TL_READ_ONLY(X, 104, SOCKET_ADDR_IN_USE, LONG) \
  KESTNET_TL_READ_ONLY(X, 105, SOCKET_INVALID_STATE, LONG) \
  KESTNET_TL_READ_ONLY(X, 106, SOCKET_INVALID_ARG, LONG) \
  KESTNET_TL_READ_ONLY(X, 107, SOCKET_CONNECT_REFUSED, LONG) \
  KESTNET_TL_READ_ONLY(X, 108, SOCKET_DEST_UNREACHABLE, LONG) \
  KESTNET_TL_READ_ONLY(X, 109, SOCKET_TIMEOUT, LONG)

// IKestNetTcpClientSocketEvents Interface
#define KESTNET_EVENTS_IKestNetTcpClientSocketEvents(X) \
  X(1, OnConnect, (In, LONG, Result), (In, BSTR, TargetHost), (In, BSTR, TargetAddress)) \
  X(2, OnClose, (In, LONG, Result))

// IKestNetWindowsNetwork Interface
#define KESTNET_MEMBERS_IKestNetWindowsNetwork(X) \
  X(Method, 1, GetHostInfo, (In, BSTR, HostName)) \
  X(Method, 2, AbortGetHostInfo, (In, BSTR, HostName)) \
  X(Method, 3, GetShareLocalPath, (In, BSTR, Server), (In, BSTR, ShareName), (RetVal, BSTR, pLocalPath)) \
  X(Method, 4, AllowXPFileSharing, (In, VARIANT_BOOL, AllowSharing), (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 5, IsXPFileSharingAllowed, (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 6, MapNetworkPrinter, (In, BSTR, ServerName), (In, BSTR, ServerPrinterName), (In, BSTR, LocalPrinterName)) \
  X(Method, 7, GetNetworkComputers, (In, BSTR, WorkgroupName), (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 8, GetFileShareList, (In, BSTR, WorkgroupName), (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 9, GetPrinterShareList, (In, BSTR, WorkgroupName), (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 10, FileSharePermission, (In, BSTR, ComputerName), (In, BSTR, ShareName), (RetVal, LONG, pPermission)) \
  X(Method, 11, FileShareExists, (In, BSTR, ComputerName), (In, BSTR, ShareName), (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 12, CopyFileToShare, (In, BSTR, File), (In, BSTR, ComputerName), (In, BSTR, ShareName), (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 13, DeleteFileFromShare, (In, BSTR, File), (In, BSTR, ComputerName), (In, BSTR, ShareName), (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 14, PrinterSharePermission, (In, BSTR, ComputerName), (In, BSTR, PrinterName), (RetVal, LONG, pPermission)) \
  X(Method, 15, PrinterShareExists, (In, BSTR, ComputerName), (In, BSTR, PrinterName), (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 16, AddNetworkPrinter, (In, BSTR, ComputerName), (In, BSTR, PrinterName), (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 17, DeleteNetworkPrinter, (In, BSTR, ComputerName), (In, BSTR, PrinterName), (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 18, GetNetworkWorkgroups, (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 19, MapNetworkShare, (In, BSTR, RemoteShare), (In, BSTR, LocalDrive)) \
  X(Method, 20, UnMapNetworkShare, (In, BSTR, LocalDrive)) \
  X(Method, 21, PrintTestPage, (In, BSTR, FilePath), (In, BSTR, ComputerName), (In, BSTR, PrinterName)) \
  X(Method, 22, GetMappedConnection, (In, BSTR, LocalDrive), (RetVal, BSTR, pRemoteShare)) \
  X(Method, 23, ShowPrinterQueue, (In, BSTR, ComputerName), (In, BSTR, PrinterName)) \
  X(Method, 24, CreateFileShare, (In, BSTR, FileName), (In, BSTR, ShareName), (In, VARIANT_BOOL, Create), (Optional, VARIANT_BOOL, ReadWriteAccess, DefaultBool(true)), (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 25, DeleteFileShare, (In, BSTR, ShareName), (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 26, GetLocalFileShares, (In, VARIANT_BOOL, IncludeAdmin), (RetVal, VARIANT, pShares)) \
  X(Method, 27, GetLocalPrinters, (RetVal, VARIANT, pPrinters)) \
  X(Method, 28, IsLocalPrinterShared, (In, BSTR, PrinterName), (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 29, CreatePrinterShare, (In, BSTR, PrinterName), (In, BSTR, ShareName), (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 30, DeletePrinterShare, (In, BSTR, ShareName), (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 31, GetPrinterShareName, (In, BSTR, PrinterName), (RetVal, BSTR, pShareName)) \
  X(Method, 32, GetLocalPrinterStatus, (In, BSTR, PrinterName), (RetVal, LONG, pStatus)) \
  X(Method, 33, GetConnectedPrinters, (RetVal, VARIANT, pPrinters)) \
  KESTNET_TL_PROPERTY(X, 34, CurrentNetworkLocation, LONG) \
  X(Method, 35, ArePrintersShared, (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 36, SharePrinters, (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 37, StopSharingPrinters, (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 38, CreateDefaultShare, (In, LONG, FolderID), (In, LONG, Role), (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 39, DeleteDefaultShare, (In, LONG, FolderID), (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 40, DoesDefaultShareExist, (In, LONG, FolderID), (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 41, GetDefaultSharePermissions, (In, LONG, FolderID), (RetVal, LONG, pAccess)) \
  X(Method, 42, SetPasswordProtectedSharing, (In, VARIANT_BOOL, Enable), (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 43, IsPasswordProtectedSharingOn, (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 44, UnMapNetworkPrinter, (In, BSTR, ServerName), (In, BSTR, PrinterName)) \
  X(Method, 45, MapNetworkShareAsync, (In, BSTR, RemoteShare), (In, BSTR, LocalDrive)) \
  X(Method, 46, UnMapNetworkShareAsync, (In, BSTR, LocalDrive)) \
  X(Method, 47, CreateFileShareAsync, (In, BSTR, FileName), (In, BSTR, ShareName), (In, VARIANT_BOOL, Create), (Optional, VARIANT_BOOL, ReadWriteAccess, DefaultBool(true))) \
  X(Method, 48, DeleteFileShareAsync, (In, BSTR, ShareName)) \
  X(Method, 49, UpdateFileShareAccess, (In, BSTR, ShareName), (In, LONG, Access)) \
  X(Method, 50, GetLocalFileSharePermissions, (In, BSTR, ShareName), (RetVal, LONG, pPermission)) \
  X(Method, 51, EnableMediaSharing, (In, VARIANT_BOOL, Enable), (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 52, IsMediaSharingEnabled, (RetVal, VARIANT_BOOL, pResult)) \
  X(Method, 53, ShowMediaSharingDialog, (RetVal, VARIANT_BOOL, pResult)) \
  KESTNET_TL_READ_ONLY(X, 54, GETHOSTINFO_SUCCESS, LONG) \
  KESTNET_TL_READ_ONLY(X, 55, GETHOSTINFO_ABORTED, LONG) \
  KESTNET_TL_READ_ONLY(X, 56, GETHOSTINFO_HOST_NOT_FOUND, LONG) \
  KESTNET_TL_READ_ONLY(X, 57, GETHOSTINFO_ERROR, LONG) \
  KESTNET_TL_READ_ONLY(X, 58, GETHOSTINFO_INVALIDOBJECT, LONG) \
  KESTNET_TL_READ_ONLY(X, 59, MAPNETWORKPRINTER_SUCCESS, LONG) \
  KESTNET_TL_READ_ONLY(X, 60, MAPNETWORKPRINTER_ERROR, LONG) \
  KESTNET_TL_READ_ONLY(X, 61, MAPNETWORKPRINTER_ABORTED, LONG) \
  KESTNET_TL_READ_ONLY(X, 62, MAPNETWORKPRINTER_DRIVER_NOT_FOUND, LONG) \
  KESTNET_TL_READ_ONLY(X, 63, MAPNETWORKPRINTER_NETWORK_NOT_FOUND, LONG) \
  KESTNET_TL_READ_ONLY(X, 64, MAPNETWORKPRINTER_UNABLE_TO_ACCESS, LONG) \
  KESTNET_TL_READ_ONLY(X, 65, MAPNETWORKPRINTER_UNABLE_TO_COPY, LONG) \
  KESTNET_TL_READ_ONLY(X, 66, FS_UNKNOWN, LONG) \
  KESTNET_TL_READ_ONLY(X, 67, FS_READ, LONG) \
  KESTNET_TL_READ_ONLY(X, 68, FS_READ_WRITE, LONG) \
  KESTNET_TL_READ_ONLY(X, 69, PS_PRINT, LONG) \
  KESTNET_TL_READ_ONLY(X, 70, PS_UNKNOWN, LONG) \
  KESTNET_TL_READ_ONLY(X, 71, PS_BUSY, LONG) \
  KESTNET_TL_READ_ONLY(X, 72, PS_DOOR_OPEN, LONG) \
  KESTNET_TL_READ_ONLY(X, 73, PS_ERROR, LONG) \
  KESTNET_TL_READ_ONLY(X, 74, PS_INITIALIZING, LONG) \
  KESTNET_TL_READ_ONLY(X, 75, PS_IO_ACTIVE, LONG) \
  KESTNET_TL_READ_ONLY(X, 76, PS_MANUAL_FEED, LONG) \
  KESTNET_TL_READ_ONLY(X, 77, PS_NOT_AVAILABLE, LONG) \
  KESTNET_TL_READ_ONLY(X, 78, PS_NO_TONER, LONG) \
  KESTNET_TL_READ_ONLY(X, 79, PS_OFFLINE, LONG) \
  KESTNET_TL_READ_ONLY(X, 80, PS_OUTPUT_BIN_FULL, LONG) \
  KESTNET_TL_READ_ONLY(X, 81, PS_OUT_OF_MEMORY, LONG) \
  KESTNET_TL_READ_ONLY(X, 82, PS_PAGE_PUNT, LONG) \
  KESTNET_TL_READ_ONLY(X, 83, PS_PAPER_JAM, LONG) \
  KESTNET_TL_READ_ONLY(X, 84, PS_PAPER_OUT, LONG) \
  KESTNET_TL_READ_ONLY(X, 85, PS_PAPER_PROBLEM, LONG) \
  KESTNET_TL_READ_ONLY(X, 86, PS_PAUSED, LONG) \
  KESTNET_TL_READ_ONLY(X, 87, PS_PENDING_DELETION, LONG) \
  KESTNET_TL_READ_ONLY(X, 88, PS_POWER_SAVE, LONG) \
  KESTNET_TL_READ_ONLY(X, 89, PS_PRINTING, LONG) \
  KESTNET_TL_READ_ONLY(X, 90, PS_PROCESSING, LONG) \
  KESTNET_TL_READ_ONLY(X, 91, PS_READY, LONG) \
  KESTNET_TL_READ_ONLY(X, 92, PS_SERVER_UNKNOWN, LONG) \
  KESTNET_TL_READ_ONLY(X, 93, PS_TONER_LOW, LONG) \
  KESTNET_TL_READ_ONLY(X, 94, PS_USER_INTERVENTION, LONG) \
  KESTNET_TL_READ_ONLY(X, 95, PS_WAITING, LONG) \
  KESTNET_TL_READ_ONLY(X, 96, PS_WARMING_UP, LONG) \
  KESTNET_TL_READ_ONLY(X, 97, LOCATION_PUBLIC, LONG) \
  KESTNET_TL_READ_ONLY(X, 98, LOCATION_PRIVATE, LONG) \
  KESTNET_TL_READ_ONLY(X, 99, LOCATION_DOMAIN, LONG) \
  KESTNET_TL_READ_ONLY(X, 100, LOCATION_NOT_CONNECTED, LONG) \
  KESTNET_TL_READ_ONLY(X, 101, DEFAULT_SHARE_USERS, LONG) \
  KESTNET_TL_READ_ONLY(X, 102, DEFAULT_SHARE_PUBLIC, LONG) \
  KESTNET_TL_READ_ONLY(X, 103, DEFAULT_SHARE_ROLE_READER, LONG) \
  KESTNET_TL_READ_ONLY(X, 104, DEFAULT_SHARE_ROLE_CO_OWNER, LONG) \
  KESTNET_TL_READ_ONLY(X, 105, DEFAULT_SHARE_ROLE_INVALID, LONG) \
  KESTNET_TL_READ_ONLY(X, 106, ASYNC_OPERATION_SUCCESS, LONG) \
  KESTNET_TL_READ_ONLY(X, 107, ASYNC_OPERATION_ABORTED, LONG) \
  KESTNET_TL_READ_ONLY(X, 108, ASYNC_OPERATION_ERROR, LONG) \
  KESTNET_TL_READ_ONLY(X, 109, ASYNC_NONET_ERROR, LONG) \
  KESTNET_TL_READ_ONLY(X, 110, ASYNC_DOESNOTEXIST_ERROR, LONG) \
  KESTNET_TL_READ_ONLY(X, 111, ASYNC_DUPLICATE_ERROR, LONG) \
  KESTNET_TL_READ_ONLY(X, 112, ASYNC_CREATE_DIR_ERROR, LONG) \
  KESTNET_TL_READ_ONLY(X, 113, ASYNC_SECURITY_ERROR, LONG) \
  KESTNET_TL_READ_ONLY(X, 114, ASYNC_INVALID_ARG_ERROR, LONG)

// IKestNetWindowsNetworkEvents Interface
#define KESTNET_EVENTS_IKestNetWindowsNetworkEvents(X) \
  X(1, OnGetHostInfoComplete, (In, SHORT, Status), (In, BSTR, HostName), (In, LPDISPATCH, HostInfo)) \
  X(2, GetNetworkComputersComplete, (In, VARIANT, Computers)) \
  X(3, GetFileShareListComplete, (In, VARIANT, FileShares)) \
  X(4, GetPrinterShareListComplete, (In, VARIANT, PrinterShares)) \
  X(5, GetNetworkWorkgroupsComplete, (In, VARIANT, Workgroups)) \
  X(6, OnMapNetworkPrinterComplete, (In, SHORT, Status), (In, BSTR, ServerName), (In, BSTR, ServerPrinterName), (In, BSTR, LocalPrinterName)) \
  X(7, OnUnMapNetworkPrinterComplete, (In, SHORT, Status), (In, BSTR, ServerName), (In, BSTR, PrinterName)) \
  X(8, OnMapNetworkShareComplete, (In, SHORT, Status), (In, BSTR, RemoteShare), (In, BSTR, LocalDrive)) \
  X(9, OnUnMapNetworkShareComplete, (In, SHORT, Status), (In, BSTR, LocalDrive)) \
  X(10, OnCreateFileShareComplete, (In, SHORT, Status), (In, BSTR, FolderPath), (In, BSTR, ShareName)) \
  X(11, OnDeleteFileShareComplete, (In, SHORT, Status), (In, BSTR, ShareName)) \
  X(12, OnUpdateFileShareAccessComplete, (In, SHORT, Status), (In, BSTR, ShareName), (In, LONG, Access))

// IKestNetWindowsNetwork2 Interface
#define KESTNET_MEMBERS_IKestNetWindowsNetwork2(X) \
  X(Method, 1, MapNetworkShareAsync, (In, BSTR, RemoteShare), (In, BSTR, LocalDrive), (In, BSTR, Username), (In, BSTR, Password), (In, LONG, ConnectionFlags)) \
  KESTNET_TL_READ_ONLY(X, 2, CONNECT_INTERACTIVE, LONG) \
  KESTNET_TL_READ_ONLY(X, 3, CONNECT_PROMPT, LONG) \
  KESTNET_TL_READ_ONLY(X, 4, CONNECT_UPDATE_PROFILE, LONG)

// IKestNetWindowsNetwork2Events Interface
#define KESTNET_EVENTS_IKestNetWindowsNetwork2Events(X) \
  X(1, OnMapNetworkShareComplete, (In, SHORT, Status), (In, BSTR, RemoteShare), (In, BSTR, LocalDrive))

// IKestNetWindowsNetworkHost Interface
#define KESTNET_MEMBERS_IKestNetWindowsNetworkHost(X) \
  KESTNET_TL_PROPERTY(X, 1, IPAddress, BSTR) \
  KESTNET_TL_PROPERTY(X, 2, MACAddress, BSTR) \
  KESTNET_TL_PROPERTY(X, 3, Comment, BSTR) \
  KESTNET_TL_PROPERTY(X, 4, MajorVersion, LONG) \
  KESTNET_TL_PROPERTY(X, 5, MinorVersion, LONG) \
  KESTNET_TL_PROPERTY(X, 6, PlatformID, LONG) \
  KESTNET_TL_READ_ONLY(X, 7, PLATFORM_WINDOWS_9X, LONG) \
  KESTNET_TL_READ_ONLY(X, 8, PLATFORM_WINDOWS_2000, LONG) \
  KESTNET_TL_READ_ONLY(X, 9, PLATFORM_WINDOWS_NT40, LONG) \
  KESTNET_TL_READ_ONLY(X, 10, PLATFORM_WINDOWS_XP, LONG) \
  KESTNET_TL_READ_ONLY(X, 11, PLATFORM_WINDOWS_2003, LONG) \
  KESTNET_TL_READ_ONLY(X, 12, PLATFORM_WINDOWS_VISTA, LONG) \
  KESTNET_TL_READ_ONLY(X, 13, PLATFORM_WINDOWS_7, LONG) \
  KESTNET_TL_READ_ONLY(X, 14, PLATFORM_UNIX, LONG) \
  KESTNET_TL_READ_ONLY(X, 15, PLATFORM_UNKNOWN, LONG)

// Every interface of the library in its order. Event interfaces name the
// connection point their proxy uses by default: MultiThreaded where the
// object may fire from another apartment or forward events to a proxy
// control, Apartment otherwise.
#define KESTNET_INTERFACES(DUAL, EVENTS) \
  DUAL(IKestNetPing) \
  EVENTS(IKestNetPingEvents, MultiThreaded) \
  DUAL(IKestNetDNS) \
  EVENTS(IKestNetDNSEvents, Apartment) \
  DUAL(IKestNetPOP3) \
  EVENTS(IKestNetPOP3Events, Apartment) \
  DUAL(IKestNetPOP3Ex) \
  EVENTS(IKestNetPOP3ExEvents, MultiThreaded) \
  DUAL(IKestNetSMTP) \
  EVENTS(IKestNetSMTPEvents, Apartment) \
  DUAL(IKestNetSMTPEx) \
  EVENTS(IKestNetSMTPExEvents, MultiThreaded) \
  DUAL(IKestNetMessageData) \
  DUAL(IKestNetTcpClientSocket) \
  EVENTS(IKestNetTcpClientSocketEvents, Apartment) \
  DUAL(IKestNetWindowsNetwork) \
  EVENTS(IKestNetWindowsNetworkEvents, MultiThreaded) \
  DUAL(IKestNetWindowsNetwork2) \
  EVENTS(IKestNetWindowsNetwork2Events, MultiThreaded) \
  DUAL(IKestNetWindowsNetworkHost)
