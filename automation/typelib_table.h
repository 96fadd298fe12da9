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
//
// Changing a row changes a published interface: clients compiled against it
// and scripts that call it by dispid see the change.
#pragma once

// IKestNetPing Interface
#define KESTNET_MEMBERS_IKestNetPing(X) \
  X(Method, 1, Ping, (In, BSTR, Target), (In, SHORT, TTL), (In, SHORT, DataSize), (In, LONG, Timeout)) \
  X(Method, 2, Abort, (In, BSTR, Target)) \
  X(PropertyGet, 3, DNSTimeout, (RetVal, LONG, pVal)) \
  X(PropertyPut, 3, DNSTimeout, (In, LONG, newVal)) \
  X(PropertyGet, 4, PING_SUCCESS, (RetVal, SHORT, pVal)) \
  X(PropertyGet, 5, PING_DID_NOT_RESPOND, (RetVal, SHORT, pVal)) \
  X(PropertyGet, 6, PING_INVALID_ADDRESS, (RetVal, SHORT, pVal)) \
  X(PropertyGet, 7, PING_INVALID_INTERFACE, (RetVal, SHORT, pVal)) \
  X(PropertyGet, 8, PING_TTL_EXPIRED, (RetVal, SHORT, pVal)) \
  X(PropertyGet, 9, PING_NET_UNREACHABLE, (RetVal, SHORT, pVal)) \
  X(PropertyGet, 10, PING_HOST_UNREACHABLE, (RetVal, SHORT, pVal)) \
  X(PropertyGet, 11, PING_TIMEOUT, (RetVal, SHORT, pVal)) \
  X(PropertyGet, 12, PING_INVALID_OBJECT, (RetVal, SHORT, pVal)) \
  X(PropertyGet, 13, PING_ABORTED, (RetVal, SHORT, pVal)) \
  X(PropertyGet, 14, PING_RESOLVE_NAME_FAILED, (RetVal, SHORT, pVal)) \
  X(PropertyGet, 15, PING_DNS_TIMEOUT, (RetVal, SHORT, pVal)) \
  X(PropertyGet, 16, PING_DNS_NO_RESPONSES, (RetVal, SHORT, pVal)) \
  X(PropertyGet, 17, PING_ERROR, (RetVal, SHORT, pVal)) \
  X(Method, 18, BlockingPing, (In, BSTR, Target), (In, SHORT, TTL), (In, SHORT, DataSize), (In, LONG, Timeout), (RetVal, VARIANT_BOOL, pResult))

// IKestNetPingEvents Interface
#define KESTNET_EVENTS_IKestNetPingEvents(X) \
  X(1, OnPingComplete, (In, SHORT, Status), (In, BSTR, TargetHost), (In, BSTR, TargetAddress), (In, BSTR, ResponseAddress), (In, LONG, ResponseTime))

// IKestNetDNS Interface
#define KESTNET_MEMBERS_IKestNetDNS(X) \
  X(PropertyGet, 1, Timeout, (RetVal, LONG, pVal)) \
  X(PropertyPut, 1, Timeout, (In, LONG, newVal)) \
  X(Method, 2, SetDNSServers, (In, BSTR, DNSServers), (Optional, BSTR, Delimiter, DefaultText(L","))) \
  X(Method, 3, ResolveName, (In, BSTR, DomainName)) \
  X(Method, 4, Abort, (In, BSTR, DomainName)) \
  X(Method, 5, ClearCache) \
  X(PropertyGet, 6, VendorID, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 6, VendorID, (In, BSTR, newVal)) \
  X(Method, 7, ResolveNameAdvanced, (In, BSTR, DomainName), (In, LONG, Flags), (In, LONG, CacheTime)) \
  X(PropertyGet, 8, DNS_SUCCESS, (RetVal, LONG, pVal)) \
  X(PropertyGet, 9, DNS_ERROR_NO_RESPONSES, (RetVal, LONG, pVal)) \
  X(PropertyGet, 10, DNS_ERROR_INVALID_OBJECT, (RetVal, LONG, pVal)) \
  X(PropertyGet, 11, DNS_ERROR_TIMEOUT, (RetVal, LONG, pVal)) \
  X(PropertyGet, 12, DNS_ERROR_ABORT, (RetVal, LONG, pVal)) \
  X(PropertyGet, 13, DNS_ERROR_NO_SERVERS, (RetVal, LONG, pVal)) \
  X(PropertyGet, 14, DNS_RESOLVE_NAME_ALWAYS_QUERY, (RetVal, LONG, pVal)) \
  X(PropertyGet, 15, DNS_RESOLVE_NAME_DONT_CACHE, (RetVal, LONG, pVal)) \
  X(PropertyGet, 16, DNS_RESOLVE_NAME_SPECIFY_CACHE_TIMEOUT, (RetVal, LONG, pVal))

// IKestNetDNSEvents Interface
#define KESTNET_EVENTS_IKestNetDNSEvents(X) \
  X(1, OnResolveNameComplete, (In, INT, Result), (In, BSTR, DomainName), (In, VARIANT, IPs))

// IKestNetPOP3 Interface
#define KESTNET_MEMBERS_IKestNetPOP3(X) \
  X(PropertyGet, 1, Server, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 1, Server, (In, BSTR, newVal)) \
  X(PropertyGet, 2, Port, (RetVal, LONG, pVal)) \
  X(PropertyPut, 2, Port, (In, LONG, newVal)) \
  X(PropertyGet, 3, Username, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 3, Username, (In, BSTR, newVal)) \
  X(PropertyGet, 4, Password, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 4, Password, (In, BSTR, newVal)) \
  X(PropertyGet, 5, Connected, (RetVal, VARIANT_BOOL, pVal)) \
  X(PropertyGet, 6, Ready, (RetVal, VARIANT_BOOL, pVal)) \
  X(Method, 7, Connect) \
  X(Method, 8, GetMessageCount) \
  X(Method, 9, RetrieveMessage, (In, LONG, MessageNumber)) \
  X(Method, 10, DeleteMessage, (In, LONG, MessageNumber)) \
  X(Method, 11, Disconnect) \
  X(PropertyGet, 12, POP3_SUCCESS, (RetVal, LONG, pVal)) \
  X(PropertyGet, 13, POP3_SOCKET_FAILURE, (RetVal, LONG, pVal)) \
  X(PropertyGet, 14, POP3_AUTH_ERROR, (RetVal, LONG, pVal)) \
  X(PropertyGet, 15, POP3_CONNECT_ERROR, (RetVal, LONG, pVal)) \
  X(PropertyGet, 16, POP3_TERMINATED, (RetVal, LONG, pVal)) \
  X(PropertyGet, 17, POP3_INVALID_ARGS, (RetVal, LONG, pVal)) \
  X(PropertyGet, 18, POP3_BUSY, (RetVal, LONG, pVal)) \
  X(PropertyGet, 19, POP3_INVALID_STATE, (RetVal, LONG, pVal)) \
  X(PropertyGet, 20, POP3_UNEXPECTED, (RetVal, LONG, pVal))

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

// IKestNetPOP3Ex Interface
#define KESTNET_MEMBERS_IKestNetPOP3Ex(X) \
  X(PropertyGet, 1, UseSSL, (RetVal, VARIANT_BOOL, pVal)) \
  X(PropertyPut, 1, UseSSL, (In, VARIANT_BOOL, newVal)) \
  X(PropertyGet, 2, Server, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 2, Server, (In, BSTR, newVal)) \
  X(PropertyGet, 3, Port, (RetVal, LONG, pVal)) \
  X(PropertyPut, 3, Port, (In, LONG, newVal)) \
  X(PropertyGet, 4, Username, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 4, Username, (In, BSTR, newVal)) \
  X(PropertyGet, 5, Password, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 5, Password, (In, BSTR, newVal)) \
  X(PropertyGet, 6, CertificateSubject, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 6, CertificateSubject, (In, BSTR, newVal)) \
  X(PropertyGet, 7, CertificateIssuer, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 7, CertificateIssuer, (In, BSTR, newVal)) \
  X(PropertyGet, 8, Connected, (RetVal, VARIANT_BOOL, pVal)) \
  X(PropertyGet, 9, Ready, (RetVal, VARIANT_BOOL, pVal)) \
  X(Method, 10, Connect) \
  X(Method, 11, GetMessageCount) \
  X(Method, 12, RetrieveMessage, (In, LONG, MessageNumber)) \
  X(Method, 13, DeleteMessage, (In, LONG, MessageNumber)) \
  X(Method, 14, Disconnect) \
  X(PropertyGet, 15, POP3EX_SUCCESS, (RetVal, LONG, pVal)) \
  X(PropertyGet, 16, POP3EX_CONNECT_ERROR, (RetVal, LONG, pVal)) \
  X(PropertyGet, 17, POP3EX_TERMINATED, (RetVal, LONG, pVal)) \
  X(PropertyGet, 18, POP3EX_INVALID_STATE, (RetVal, LONG, pVal)) \
  X(PropertyGet, 19, POP3EX_UNEXPECTED, (RetVal, LONG, pVal))

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
  X(PropertyGet, 1, Server, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 1, Server, (In, BSTR, newVal)) \
  X(PropertyGet, 2, Port, (RetVal, LONG, pVal)) \
  X(PropertyPut, 2, Port, (In, LONG, newVal)) \
  X(PropertyGet, 3, Username, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 3, Username, (In, BSTR, newVal)) \
  X(PropertyGet, 4, Password, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 4, Password, (In, BSTR, newVal)) \
  X(Method, 5, Connect) \
  X(PropertyGet, 6, Connected, (RetVal, VARIANT_BOOL, pVal)) \
  X(PropertyGet, 7, Ready, (RetVal, VARIANT_BOOL, pVal)) \
  X(Method, 8, Disconnect) \
  X(Method, 9, SendMessage, (In, LPDISPATCH, MessageData)) \
  X(PropertyGet, 10, SMTP_SUCCESS, (RetVal, LONG, pVal)) \
  X(PropertyGet, 11, SMTP_SOCKET_FAILURE, (RetVal, LONG, pVal)) \
  X(PropertyGet, 12, SMTP_CONNECT_ERROR, (RetVal, LONG, pVal)) \
  X(PropertyGet, 13, SMTP_TERMINATED, (RetVal, LONG, pVal)) \
  X(PropertyGet, 14, SMTP_INVALID_ARGS, (RetVal, LONG, pVal)) \
  X(PropertyGet, 15, SMTP_BUSY, (RetVal, LONG, pVal)) \
  X(PropertyGet, 16, SMTP_INVALID_STATE, (RetVal, LONG, pVal)) \
  X(PropertyGet, 17, SMTP_UNEXPECTED, (RetVal, LONG, pVal)) \
  X(PropertyGet, 18, SMTP_AUTH_ERROR, (RetVal, LONG, pVal))

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
  X(PropertyGet, 1, UseSSL, (RetVal, VARIANT_BOOL, pVal)) \
  X(PropertyPut, 1, UseSSL, (In, VARIANT_BOOL, newVal)) \
  X(PropertyGet, 2, Server, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 2, Server, (In, BSTR, newVal)) \
  X(PropertyGet, 3, Port, (RetVal, LONG, pVal)) \
  X(PropertyPut, 3, Port, (In, LONG, newVal)) \
  X(PropertyGet, 4, Username, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 4, Username, (In, BSTR, newVal)) \
  X(PropertyGet, 5, Password, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 5, Password, (In, BSTR, newVal)) \
  X(PropertyGet, 6, CertificateSubject, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 6, CertificateSubject, (In, BSTR, newVal)) \
  X(PropertyGet, 7, CertificateIssuer, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 7, CertificateIssuer, (In, BSTR, newVal)) \
  X(Method, 8, Connect) \
  X(PropertyGet, 9, Connected, (RetVal, VARIANT_BOOL, pVal)) \
  X(PropertyGet, 10, Ready, (RetVal, VARIANT_BOOL, pVal)) \
  X(Method, 11, Disconnect) \
  X(Method, 12, SendMessage, (In, LPDISPATCH, MessageData)) \
  X(PropertyGet, 13, SMTPEX_SUCCESS, (RetVal, LONG, pVal)) \
  X(PropertyGet, 14, SMTPEX_CONNECT_ERROR, (RetVal, LONG, pVal)) \
  X(PropertyGet, 15, SMTPEX_TERMINATED, (RetVal, LONG, pVal)) \
  X(PropertyGet, 16, SMTPEX_INVALID_STATE, (RetVal, LONG, pVal)) \
  X(PropertyGet, 17, SMTPEX_UNEXPECTED, (RetVal, LONG, pVal))

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
  X(PropertyGet, 1, To, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 1, To, (In, BSTR, newVal)) \
  X(PropertyGet, 2, From, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 2, From, (In, BSTR, newVal)) \
  X(PropertyGet, 3, Subject, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 3, Subject, (In, BSTR, newVal)) \
  X(PropertyGet, 4, XMailer, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 4, XMailer, (In, BSTR, newVal)) \
  X(PropertyGet, 5, Cc, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 5, Cc, (In, BSTR, newVal)) \
  X(PropertyGet, 6, Bcc, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 6, Bcc, (In, BSTR, newVal)) \
  X(PropertyGet, 7, Date, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 7, Date, (In, BSTR, newVal)) \
  X(PropertyGet, 8, NumHeaders, (RetVal, LONG, pVal)) \
  X(PropertyGet, 9, TextMessage, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 9, TextMessage, (In, BSTR, newVal)) \
  X(PropertyGet, 10, HtmlMessage, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 10, HtmlMessage, (In, BSTR, newVal)) \
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
  X(PropertyGet, 100, SOCKET_NO_ERROR, (RetVal, LONG, pVal)) \
  X(PropertyGet, 101, SOCKET_GENERIC_ERROR, (RetVal, LONG, pVal)) \
  X(PropertyGet, 102, SOCKET_OS_LAYER_NOT_INITIALIZED, (RetVal, LONG, pVal)) \
  X(PropertyGet, 103, SOCKET_OS_FAILURE, (RetVal, LONG, pVal)) \
  X(PropertyGet, 104, SOCKET_ADDR_IN_USE, (RetVal, LONG, pVal)) \
  X(PropertyGet, 105, SOCKET_INVALID_STATE, (RetVal, LONG, pVal)) \
  X(PropertyGet, 106, SOCKET_INVALID_ARG, (RetVal, LONG, pVal)) \
  X(PropertyGet, 107, SOCKET_CONNECT_REFUSED, (RetVal, LONG, pVal)) \
  X(PropertyGet, 108, SOCKET_DEST_UNREACHABLE, (RetVal, LONG, pVal)) \
  X(PropertyGet, 109, SOCKET_TIMEOUT, (RetVal, LONG, pVal))

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
  X(PropertyGet, 34, CurrentNetworkLocation, (RetVal, LONG, pVal)) \
  X(PropertyPut, 34, CurrentNetworkLocation, (In, LONG, newVal)) \
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
  X(PropertyGet, 54, GETHOSTINFO_SUCCESS, (RetVal, LONG, pVal)) \
  X(PropertyGet, 55, GETHOSTINFO_ABORTED, (RetVal, LONG, pVal)) \
  X(PropertyGet, 56, GETHOSTINFO_HOST_NOT_FOUND, (RetVal, LONG, pVal)) \
  X(PropertyGet, 57, GETHOSTINFO_ERROR, (RetVal, LONG, pVal)) \
  X(PropertyGet, 58, GETHOSTINFO_INVALIDOBJECT, (RetVal, LONG, pVal)) \
  X(PropertyGet, 59, MAPNETWORKPRINTER_SUCCESS, (RetVal, LONG, pVal)) \
  X(PropertyGet, 60, MAPNETWORKPRINTER_ERROR, (RetVal, LONG, pVal)) \
  X(PropertyGet, 61, MAPNETWORKPRINTER_ABORTED, (RetVal, LONG, pVal)) \
  X(PropertyGet, 62, MAPNETWORKPRINTER_DRIVER_NOT_FOUND, (RetVal, LONG, pVal)) \
  X(PropertyGet, 63, MAPNETWORKPRINTER_NETWORK_NOT_FOUND, (RetVal, LONG, pVal)) \
  X(PropertyGet, 64, MAPNETWORKPRINTER_UNABLE_TO_ACCESS, (RetVal, LONG, pVal)) \
  X(PropertyGet, 65, MAPNETWORKPRINTER_UNABLE_TO_COPY, (RetVal, LONG, pVal)) \
  X(PropertyGet, 66, FS_UNKNOWN, (RetVal, LONG, pVal)) \
  X(PropertyGet, 67, FS_READ, (RetVal, LONG, pVal)) \
  X(PropertyGet, 68, FS_READ_WRITE, (RetVal, LONG, pVal)) \
  X(PropertyGet, 69, PS_PRINT, (RetVal, LONG, pVal)) \
  X(PropertyGet, 70, PS_UNKNOWN, (RetVal, LONG, pVal)) \
  X(PropertyGet, 71, PS_BUSY, (RetVal, LONG, pVal)) \
  X(PropertyGet, 72, PS_DOOR_OPEN, (RetVal, LONG, pVal)) \
  X(PropertyGet, 73, PS_ERROR, (RetVal, LONG, pVal)) \
  X(PropertyGet, 74, PS_INITIALIZING, (RetVal, LONG, pVal)) \
  X(PropertyGet, 75, PS_IO_ACTIVE, (RetVal, LONG, pVal)) \
  X(PropertyGet, 76, PS_MANUAL_FEED, (RetVal, LONG, pVal)) \
  X(PropertyGet, 77, PS_NOT_AVAILABLE, (RetVal, LONG, pVal)) \
  X(PropertyGet, 78, PS_NO_TONER, (RetVal, LONG, pVal)) \
  X(PropertyGet, 79, PS_OFFLINE, (RetVal, LONG, pVal)) \
  X(PropertyGet, 80, PS_OUTPUT_BIN_FULL, (RetVal, LONG, pVal)) \
  X(PropertyGet, 81, PS_OUT_OF_MEMORY, (RetVal, LONG, pVal)) \
  X(PropertyGet, 82, PS_PAGE_PUNT, (RetVal, LONG, pVal)) \
  X(PropertyGet, 83, PS_PAPER_JAM, (RetVal, LONG, pVal)) \
  X(PropertyGet, 84, PS_PAPER_OUT, (RetVal, LONG, pVal)) \
  X(PropertyGet, 85, PS_PAPER_PROBLEM, (RetVal, LONG, pVal)) \
  X(PropertyGet, 86, PS_PAUSED, (RetVal, LONG, pVal)) \
  X(PropertyGet, 87, PS_PENDING_DELETION, (RetVal, LONG, pVal)) \
  X(PropertyGet, 88, PS_POWER_SAVE, (RetVal, LONG, pVal)) \
  X(PropertyGet, 89, PS_PRINTING, (RetVal, LONG, pVal)) \
  X(PropertyGet, 90, PS_PROCESSING, (RetVal, LONG, pVal)) \
  X(PropertyGet, 91, PS_READY, (RetVal, LONG, pVal)) \
  X(PropertyGet, 92, PS_SERVER_UNKNOWN, (RetVal, LONG, pVal)) \
  X(PropertyGet, 93, PS_TONER_LOW, (RetVal, LONG, pVal)) \
  X(PropertyGet, 94, PS_USER_INTERVENTION, (RetVal, LONG, pVal)) \
  X(PropertyGet, 95, PS_WAITING, (RetVal, LONG, pVal)) \
  X(PropertyGet, 96, PS_WARMING_UP, (RetVal, LONG, pVal)) \
  X(PropertyGet, 97, LOCATION_PUBLIC, (RetVal, LONG, pVal)) \
  X(PropertyGet, 98, LOCATION_PRIVATE, (RetVal, LONG, pVal)) \
  X(PropertyGet, 99, LOCATION_DOMAIN, (RetVal, LONG, pVal)) \
  X(PropertyGet, 100, LOCATION_NOT_CONNECTED, (RetVal, LONG, pVal)) \
  X(PropertyGet, 101, DEFAULT_SHARE_USERS, (RetVal, LONG, pVal)) \
  X(PropertyGet, 102, DEFAULT_SHARE_PUBLIC, (RetVal, LONG, pVal)) \
  X(PropertyGet, 103, DEFAULT_SHARE_ROLE_READER, (RetVal, LONG, pVal)) \
  X(PropertyGet, 104, DEFAULT_SHARE_ROLE_CO_OWNER, (RetVal, LONG, pVal)) \
  X(PropertyGet, 105, DEFAULT_SHARE_ROLE_INVALID, (RetVal, LONG, pVal)) \
  X(PropertyGet, 106, ASYNC_OPERATION_SUCCESS, (RetVal, LONG, pVal)) \
  X(PropertyGet, 107, ASYNC_OPERATION_ABORTED, (RetVal, LONG, pVal)) \
  X(PropertyGet, 108, ASYNC_OPERATION_ERROR, (RetVal, LONG, pVal)) \
  X(PropertyGet, 109, ASYNC_NONET_ERROR, (RetVal, LONG, pVal)) \
  X(PropertyGet, 110, ASYNC_DOESNOTEXIST_ERROR, (RetVal, LONG, pVal)) \
  X(PropertyGet, 111, ASYNC_DUPLICATE_ERROR, (RetVal, LONG, pVal)) \
  X(PropertyGet, 112, ASYNC_CREATE_DIR_ERROR, (RetVal, LONG, pVal)) \
  X(PropertyGet, 113, ASYNC_SECURITY_ERROR, (RetVal, LONG, pVal)) \
  X(PropertyGet, 114, ASYNC_INVALID_ARG_ERROR, (RetVal, LONG, pVal))

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
  X(PropertyGet, 2, CONNECT_INTERACTIVE, (RetVal, LONG, pVal)) \
  X(PropertyGet, 3, CONNECT_PROMPT, (RetVal, LONG, pVal)) \
  X(PropertyGet, 4, CONNECT_UPDATE_PROFILE, (RetVal, LONG, pVal))

// IKestNetWindowsNetwork2Events Interface
#define KESTNET_EVENTS_IKestNetWindowsNetwork2Events(X) \
  X(1, OnMapNetworkShareComplete, (In, SHORT, Status), (In, BSTR, RemoteShare), (In, BSTR, LocalDrive))

// IKestNetWindowsNetworkHost Interface
#define KESTNET_MEMBERS_IKestNetWindowsNetworkHost(X) \
  X(PropertyGet, 1, IPAddress, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 1, IPAddress, (In, BSTR, newVal)) \
  X(PropertyGet, 2, MACAddress, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 2, MACAddress, (In, BSTR, newVal)) \
  X(PropertyGet, 3, Comment, (RetVal, BSTR, pVal)) \
  X(PropertyPut, 3, Comment, (In, BSTR, newVal)) \
  X(PropertyGet, 4, MajorVersion, (RetVal, LONG, pVal)) \
  X(PropertyPut, 4, MajorVersion, (In, LONG, newVal)) \
  X(PropertyGet, 5, MinorVersion, (RetVal, LONG, pVal)) \
  X(PropertyPut, 5, MinorVersion, (In, LONG, newVal)) \
  X(PropertyGet, 6, PlatformID, (RetVal, LONG, pVal)) \
  X(PropertyPut, 6, PlatformID, (In, LONG, newVal)) \
  X(PropertyGet, 7, PLATFORM_WINDOWS_9X, (RetVal, LONG, pVal)) \
  X(PropertyGet, 8, PLATFORM_WINDOWS_2000, (RetVal, LONG, pVal)) \
  X(PropertyGet, 9, PLATFORM_WINDOWS_NT40, (RetVal, LONG, pVal)) \
  X(PropertyGet, 10, PLATFORM_WINDOWS_XP, (RetVal, LONG, pVal)) \
  X(PropertyGet, 11, PLATFORM_WINDOWS_2003, (RetVal, LONG, pVal)) \
  X(PropertyGet, 12, PLATFORM_WINDOWS_VISTA, (RetVal, LONG, pVal)) \
  X(PropertyGet, 13, PLATFORM_WINDOWS_7, (RetVal, LONG, pVal)) \
  X(PropertyGet, 14, PLATFORM_UNIX, (RetVal, LONG, pVal)) \
  X(PropertyGet, 15, PLATFORM_UNKNOWN, (RetVal, LONG, pVal))

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
