// The KestNet type library description. Dual interfaces list their members in
// vtable order (see interfaces.h); event interfaces list the dispids and
// argument order their sinks receive.
#include "automation/typelib.h"

#include <mutex>

#include "automation/typelib_ids.h"

namespace KestAXLib {
namespace {

using namespace kestnet::platform;

constexpr ParamDescription kTargetTTLDataSizeTimeout[] = {In(L"Target", VT_BSTR), In(L"TTL", VT_I2), In(L"DataSize", VT_I2), In(L"Timeout", VT_I4)};
constexpr ParamDescription kTarget[] = {In(L"Target", VT_BSTR)};
constexpr ParamDescription kLongOut[] = {RetVal(L"pVal", VT_I4)};
constexpr ParamDescription kLongIn[] = {In(L"newVal", VT_I4)};
constexpr ParamDescription kShortOut[] = {RetVal(L"pVal", VT_I2)};
constexpr ParamDescription kTargetTTLDataSizeTimeoutReturnsBool[] = {In(L"Target", VT_BSTR), In(L"TTL", VT_I2), In(L"DataSize", VT_I2), In(L"Timeout", VT_I4), RetVal(L"pResult", VT_BOOL)};
constexpr ParamDescription kStatusTargetHostTargetAddressResponseAddressResponseTime[] = {In(L"Status", VT_I2), In(L"TargetHost", VT_BSTR), In(L"TargetAddress", VT_BSTR), In(L"ResponseAddress", VT_BSTR), In(L"ResponseTime", VT_I4)};
constexpr ParamDescription kDNSServersDelimiter[] = {In(L"DNSServers", VT_BSTR), Optional(L"Delimiter", VT_BSTR, DefaultText(L","))};
constexpr ParamDescription kDomainName[] = {In(L"DomainName", VT_BSTR)};
constexpr ParamDescription kTextOut[] = {RetVal(L"pVal", VT_BSTR)};
constexpr ParamDescription kTextIn[] = {In(L"newVal", VT_BSTR)};
constexpr ParamDescription kDomainNameFlagsCacheTime[] = {In(L"DomainName", VT_BSTR), In(L"Flags", VT_I4), In(L"CacheTime", VT_I4)};
constexpr ParamDescription kResultDomainNameIPs[] = {In(L"Result", VT_INT), In(L"DomainName", VT_BSTR), In(L"IPs", VT_VARIANT)};
constexpr ParamDescription kBoolOut[] = {RetVal(L"pVal", VT_BOOL)};
constexpr ParamDescription kMessageNumber[] = {In(L"MessageNumber", VT_I4)};
constexpr ParamDescription kStatus[] = {In(L"Status", VT_I4)};
constexpr ParamDescription kStatusResponse[] = {In(L"Status", VT_I4), In(L"Response", VT_BSTR)};
constexpr ParamDescription kStatusResponseMessageCountMailboxSize[] = {In(L"Status", VT_I4), In(L"Response", VT_BSTR), In(L"MessageCount", VT_I4), In(L"MailboxSize", VT_I4)};
constexpr ParamDescription kStatusMessageNumberMessageData[] = {In(L"Status", VT_I4), In(L"MessageNumber", VT_I4), In(L"MessageData", VT_DISPATCH)};
constexpr ParamDescription kStatusResponseMessageNumber[] = {In(L"Status", VT_I4), In(L"Response", VT_BSTR), In(L"MessageNumber", VT_UI4)};
constexpr ParamDescription kBoolIn[] = {In(L"newVal", VT_BOOL)};
constexpr ParamDescription kStatusResponseMessageNumber_LongTextLong[] = {In(L"Status", VT_I4), In(L"Response", VT_BSTR), In(L"MessageNumber", VT_I4)};
constexpr ParamDescription kStatusCertificateIssuerCertificateSubject[] = {In(L"Status", VT_BSTR), In(L"CertificateIssuer", VT_BSTR), In(L"CertificateSubject", VT_BSTR)};
constexpr ParamDescription kMessageData[] = {In(L"MessageData", VT_DISPATCH)};
constexpr ParamDescription kCustomHeader[] = {In(L"CustomHeader", VT_BSTR)};
constexpr ParamDescription kHeaderIndex[] = {In(L"HeaderIndex", VT_I4)};
constexpr ParamDescription kHeaderIndexReturnsText[] = {In(L"HeaderIndex", VT_I4), RetVal(L"pVal", VT_BSTR)};
constexpr ParamDescription kHeaderNameReturnsText[] = {In(L"HeaderName", VT_BSTR), RetVal(L"pVal", VT_BSTR)};
constexpr ParamDescription kHeaderNameHeaderValue[] = {In(L"HeaderName", VT_BSTR), In(L"HeaderValue", VT_BSTR)};
constexpr ParamDescription kTargetPort[] = {In(L"Target", VT_BSTR), In(L"Port", VT_I4)};
constexpr ParamDescription kTargetPortTimeoutReturnsBool[] = {In(L"Target", VT_BSTR), In(L"Port", VT_I4), In(L"Timeout", VT_I4), RetVal(L"pResult", VT_BOOL)};
constexpr ParamDescription kResultTargetHostTargetAddress[] = {In(L"Result", VT_I4), In(L"TargetHost", VT_BSTR), In(L"TargetAddress", VT_BSTR)};
constexpr ParamDescription kResult[] = {In(L"Result", VT_I4)};
constexpr ParamDescription kHostName[] = {In(L"HostName", VT_BSTR)};
constexpr ParamDescription kServerShareNameReturnsText[] = {In(L"Server", VT_BSTR), In(L"ShareName", VT_BSTR), RetVal(L"pLocalPath", VT_BSTR)};
constexpr ParamDescription kAllowSharingReturnsBool[] = {In(L"AllowSharing", VT_BOOL), RetVal(L"pResult", VT_BOOL)};
constexpr ParamDescription kReturnsBool[] = {RetVal(L"pResult", VT_BOOL)};
constexpr ParamDescription kServerNameServerPrinterNameLocalPrinterName[] = {In(L"ServerName", VT_BSTR), In(L"ServerPrinterName", VT_BSTR), In(L"LocalPrinterName", VT_BSTR)};
constexpr ParamDescription kWorkgroupNameReturnsBool[] = {In(L"WorkgroupName", VT_BSTR), RetVal(L"pResult", VT_BOOL)};
constexpr ParamDescription kComputerNameShareNameReturnsLong[] = {In(L"ComputerName", VT_BSTR), In(L"ShareName", VT_BSTR), RetVal(L"pPermission", VT_I4)};
constexpr ParamDescription kComputerNameShareNameReturnsBool[] = {In(L"ComputerName", VT_BSTR), In(L"ShareName", VT_BSTR), RetVal(L"pResult", VT_BOOL)};
constexpr ParamDescription kFileComputerNameShareNameReturnsBool[] = {In(L"File", VT_BSTR), In(L"ComputerName", VT_BSTR), In(L"ShareName", VT_BSTR), RetVal(L"pResult", VT_BOOL)};
constexpr ParamDescription kComputerNamePrinterNameReturnsLong[] = {In(L"ComputerName", VT_BSTR), In(L"PrinterName", VT_BSTR), RetVal(L"pPermission", VT_I4)};
constexpr ParamDescription kComputerNamePrinterNameReturnsBool[] = {In(L"ComputerName", VT_BSTR), In(L"PrinterName", VT_BSTR), RetVal(L"pResult", VT_BOOL)};
constexpr ParamDescription kRemoteShareLocalDrive[] = {In(L"RemoteShare", VT_BSTR), In(L"LocalDrive", VT_BSTR)};
constexpr ParamDescription kLocalDrive[] = {In(L"LocalDrive", VT_BSTR)};
constexpr ParamDescription kFilePathComputerNamePrinterName[] = {In(L"FilePath", VT_BSTR), In(L"ComputerName", VT_BSTR), In(L"PrinterName", VT_BSTR)};
constexpr ParamDescription kLocalDriveReturnsText[] = {In(L"LocalDrive", VT_BSTR), RetVal(L"pRemoteShare", VT_BSTR)};
constexpr ParamDescription kComputerNamePrinterName[] = {In(L"ComputerName", VT_BSTR), In(L"PrinterName", VT_BSTR)};
constexpr ParamDescription kFileNameShareNameCreateReadWriteAccessReturnsBool[] = {In(L"FileName", VT_BSTR), In(L"ShareName", VT_BSTR), In(L"Create", VT_BOOL), Optional(L"ReadWriteAccess", VT_BOOL, DefaultBool(true)), RetVal(L"pResult", VT_BOOL)};
constexpr ParamDescription kShareNameReturnsBool[] = {In(L"ShareName", VT_BSTR), RetVal(L"pResult", VT_BOOL)};
constexpr ParamDescription kIncludeAdminReturnsVariant[] = {In(L"IncludeAdmin", VT_BOOL), RetVal(L"pShares", VT_VARIANT)};
constexpr ParamDescription kReturnsVariant[] = {RetVal(L"pPrinters", VT_VARIANT)};
constexpr ParamDescription kPrinterNameReturnsBool[] = {In(L"PrinterName", VT_BSTR), RetVal(L"pResult", VT_BOOL)};
constexpr ParamDescription kPrinterNameShareNameReturnsBool[] = {In(L"PrinterName", VT_BSTR), In(L"ShareName", VT_BSTR), RetVal(L"pResult", VT_BOOL)};
constexpr ParamDescription kPrinterNameReturnsText[] = {In(L"PrinterName", VT_BSTR), RetVal(L"pShareName", VT_BSTR)};
constexpr ParamDescription kPrinterNameReturnsLong[] = {In(L"PrinterName", VT_BSTR), RetVal(L"pStatus", VT_I4)};
constexpr ParamDescription kFolderIDRoleReturnsBool[] = {In(L"FolderID", VT_I4), In(L"Role", VT_I4), RetVal(L"pResult", VT_BOOL)};
constexpr ParamDescription kFolderIDReturnsBool[] = {In(L"FolderID", VT_I4), RetVal(L"pResult", VT_BOOL)};
constexpr ParamDescription kFolderIDReturnsLong[] = {In(L"FolderID", VT_I4), RetVal(L"pAccess", VT_I4)};
constexpr ParamDescription kEnableReturnsBool[] = {In(L"Enable", VT_BOOL), RetVal(L"pResult", VT_BOOL)};
constexpr ParamDescription kServerNamePrinterName[] = {In(L"ServerName", VT_BSTR), In(L"PrinterName", VT_BSTR)};
constexpr ParamDescription kFileNameShareNameCreateReadWriteAccess[] = {In(L"FileName", VT_BSTR), In(L"ShareName", VT_BSTR), In(L"Create", VT_BOOL), Optional(L"ReadWriteAccess", VT_BOOL, DefaultBool(true))};
constexpr ParamDescription kShareName[] = {In(L"ShareName", VT_BSTR)};
constexpr ParamDescription kShareNameAccess[] = {In(L"ShareName", VT_BSTR), In(L"Access", VT_I4)};
constexpr ParamDescription kShareNameReturnsLong[] = {In(L"ShareName", VT_BSTR), RetVal(L"pPermission", VT_I4)};
constexpr ParamDescription kStatusHostNameHostInfo[] = {In(L"Status", VT_I2), In(L"HostName", VT_BSTR), In(L"HostInfo", VT_DISPATCH)};
constexpr ParamDescription kComputers[] = {In(L"Computers", VT_VARIANT)};
constexpr ParamDescription kFileShares[] = {In(L"FileShares", VT_VARIANT)};
constexpr ParamDescription kPrinterShares[] = {In(L"PrinterShares", VT_VARIANT)};
constexpr ParamDescription kWorkgroups[] = {In(L"Workgroups", VT_VARIANT)};
constexpr ParamDescription kStatusServerNameServerPrinterNameLocalPrinterName[] = {In(L"Status", VT_I2), In(L"ServerName", VT_BSTR), In(L"ServerPrinterName", VT_BSTR), In(L"LocalPrinterName", VT_BSTR)};
constexpr ParamDescription kStatusServerNamePrinterName[] = {In(L"Status", VT_I2), In(L"ServerName", VT_BSTR), In(L"PrinterName", VT_BSTR)};
constexpr ParamDescription kStatusRemoteShareLocalDrive[] = {In(L"Status", VT_I2), In(L"RemoteShare", VT_BSTR), In(L"LocalDrive", VT_BSTR)};
constexpr ParamDescription kStatusLocalDrive[] = {In(L"Status", VT_I2), In(L"LocalDrive", VT_BSTR)};
constexpr ParamDescription kStatusFolderPathShareName[] = {In(L"Status", VT_I2), In(L"FolderPath", VT_BSTR), In(L"ShareName", VT_BSTR)};
constexpr ParamDescription kStatusShareName[] = {In(L"Status", VT_I2), In(L"ShareName", VT_BSTR)};
constexpr ParamDescription kStatusShareNameAccess[] = {In(L"Status", VT_I2), In(L"ShareName", VT_BSTR), In(L"Access", VT_I4)};
constexpr ParamDescription kRemoteShareLocalDriveUsernamePasswordConnectionFlags[] = {In(L"RemoteShare", VT_BSTR), In(L"LocalDrive", VT_BSTR), In(L"Username", VT_BSTR), In(L"Password", VT_BSTR), In(L"ConnectionFlags", VT_I4)};

constexpr MemberDescription kIKestNetPingMembers[] = {
    Method(1, L"Ping", kTargetTTLDataSizeTimeout),
    Method(2, L"Abort", kTarget),
    PropertyGet(3, L"DNSTimeout", kLongOut),
    PropertyPut(3, L"DNSTimeout", kLongIn),
    PropertyGet(4, L"PING_SUCCESS", kShortOut),
    PropertyGet(5, L"PING_DID_NOT_RESPOND", kShortOut),
    PropertyGet(6, L"PING_INVALID_ADDRESS", kShortOut),
    PropertyGet(7, L"PING_INVALID_INTERFACE", kShortOut),
    PropertyGet(8, L"PING_TTL_EXPIRED", kShortOut),
    PropertyGet(9, L"PING_NET_UNREACHABLE", kShortOut),
    PropertyGet(10, L"PING_HOST_UNREACHABLE", kShortOut),
    PropertyGet(11, L"PING_TIMEOUT", kShortOut),
    PropertyGet(12, L"PING_INVALID_OBJECT", kShortOut),
    PropertyGet(13, L"PING_ABORTED", kShortOut),
    PropertyGet(14, L"PING_RESOLVE_NAME_FAILED", kShortOut),
    PropertyGet(15, L"PING_DNS_TIMEOUT", kShortOut),
    PropertyGet(16, L"PING_DNS_NO_RESPONSES", kShortOut),
    PropertyGet(17, L"PING_ERROR", kShortOut),
    Method(18, L"BlockingPing", kTargetTTLDataSizeTimeoutReturnsBool),
};
constexpr InterfaceDescription kIKestNetPing =
    Dual(L"IKestNetPing", IID_IKestNetPing, kIKestNetPingMembers, L"IKestNetPing Interface");

constexpr MemberDescription kIKestNetPingEventsMembers[] = {
    Method(1, L"OnPingComplete", kStatusTargetHostTargetAddressResponseAddressResponseTime),
};
constexpr InterfaceDescription kIKestNetPingEvents =
    Events(L"IKestNetPingEvents", IID_IKestNetPingEvents, kIKestNetPingEventsMembers, L"IKestNetPingEvents Interface");

constexpr MemberDescription kIKestNetDNSMembers[] = {
    PropertyGet(1, L"Timeout", kLongOut),
    PropertyPut(1, L"Timeout", kLongIn),
    Method(2, L"SetDNSServers", kDNSServersDelimiter),
    Method(3, L"ResolveName", kDomainName),
    Method(4, L"Abort", kDomainName),
    Method(5, L"ClearCache"),
    PropertyGet(6, L"VendorID", kTextOut),
    PropertyPut(6, L"VendorID", kTextIn),
    Method(7, L"ResolveNameAdvanced", kDomainNameFlagsCacheTime),
    PropertyGet(8, L"DNS_SUCCESS", kLongOut),
    PropertyGet(9, L"DNS_ERROR_NO_RESPONSES", kLongOut),
    PropertyGet(10, L"DNS_ERROR_INVALID_OBJECT", kLongOut),
    PropertyGet(11, L"DNS_ERROR_TIMEOUT", kLongOut),
    PropertyGet(12, L"DNS_ERROR_ABORT", kLongOut),
    PropertyGet(13, L"DNS_ERROR_NO_SERVERS", kLongOut),
    PropertyGet(14, L"DNS_RESOLVE_NAME_ALWAYS_QUERY", kLongOut),
    PropertyGet(15, L"DNS_RESOLVE_NAME_DONT_CACHE", kLongOut),
    PropertyGet(16, L"DNS_RESOLVE_NAME_SPECIFY_CACHE_TIMEOUT", kLongOut),
};
constexpr InterfaceDescription kIKestNetDNS =
    Dual(L"IKestNetDNS", IID_IKestNetDNS, kIKestNetDNSMembers, L"IKestNetDNS Interface");

constexpr MemberDescription kIKestNetDNSEventsMembers[] = {
    Method(1, L"OnResolveNameComplete", kResultDomainNameIPs),
};
constexpr InterfaceDescription kIKestNetDNSEvents =
    Events(L"IKestNetDNSEvents", IID_IKestNetDNSEvents, kIKestNetDNSEventsMembers, L"IKestNetDNSEvents Interface");

constexpr MemberDescription kIKestNetPOP3Members[] = {
    PropertyGet(1, L"Server", kTextOut),
    PropertyPut(1, L"Server", kTextIn),
    PropertyGet(2, L"Port", kLongOut),
    PropertyPut(2, L"Port", kLongIn),
    PropertyGet(3, L"Username", kTextOut),
    PropertyPut(3, L"Username", kTextIn),
    PropertyGet(4, L"Password", kTextOut),
    PropertyPut(4, L"Password", kTextIn),
    PropertyGet(5, L"Connected", kBoolOut),
    PropertyGet(6, L"Ready", kBoolOut),
    Method(7, L"Connect"),
    Method(8, L"GetMessageCount"),
    Method(9, L"RetrieveMessage", kMessageNumber),
    Method(10, L"DeleteMessage", kMessageNumber),
    Method(11, L"Disconnect"),
    PropertyGet(12, L"POP3_SUCCESS", kLongOut),
    PropertyGet(13, L"POP3_SOCKET_FAILURE", kLongOut),
    PropertyGet(14, L"POP3_AUTH_ERROR", kLongOut),
    PropertyGet(15, L"POP3_CONNECT_ERROR", kLongOut),
    PropertyGet(16, L"POP3_TERMINATED", kLongOut),
    PropertyGet(17, L"POP3_INVALID_ARGS", kLongOut),
    PropertyGet(18, L"POP3_BUSY", kLongOut),
    PropertyGet(19, L"POP3_INVALID_STATE", kLongOut),
    PropertyGet(20, L"POP3_UNEXPECTED", kLongOut),
};
constexpr InterfaceDescription kIKestNetPOP3 =
    Dual(L"IKestNetPOP3", IID_IKestNetPOP3, kIKestNetPOP3Members, L"IKestNetPOP3 Interface");

constexpr MemberDescription kIKestNetPOP3EventsMembers[] = {
    Method(1, L"OnPOP3Connect", kStatus),
    Method(2, L"OnPOP3Header", kStatusResponse),
    Method(3, L"OnPOP3UserName", kStatusResponse),
    Method(4, L"OnPOP3Password", kStatusResponse),
    Method(5, L"OnPOP3Ready"),
    Method(6, L"OnPOP3Quit", kStatusResponse),
    Method(7, L"OnPOP3Disconnect", kStatus),
    Method(8, L"OnPOP3GetMessageCount", kStatusResponseMessageCountMailboxSize),
    Method(9, L"OnPOP3RetrieveMessage", kStatusMessageNumberMessageData),
    Method(10, L"OnPOP3DeleteMessage", kStatusResponseMessageNumber),
};
constexpr InterfaceDescription kIKestNetPOP3Events =
    Events(L"IKestNetPOP3Events", IID_IKestNetPOP3Events, kIKestNetPOP3EventsMembers, L"IKestNetPOP3Events Interface");

constexpr MemberDescription kIKestNetPOP3ExMembers[] = {
    PropertyGet(1, L"UseSSL", kBoolOut),
    PropertyPut(1, L"UseSSL", kBoolIn),
    PropertyGet(2, L"Server", kTextOut),
    PropertyPut(2, L"Server", kTextIn),
    PropertyGet(3, L"Port", kLongOut),
    PropertyPut(3, L"Port", kLongIn),
    PropertyGet(4, L"Username", kTextOut),
    PropertyPut(4, L"Username", kTextIn),
    PropertyGet(5, L"Password", kTextOut),
    PropertyPut(5, L"Password", kTextIn),
    PropertyGet(6, L"CertificateSubject", kTextOut),
    PropertyPut(6, L"CertificateSubject", kTextIn),
    PropertyGet(7, L"CertificateIssuer", kTextOut),
    PropertyPut(7, L"CertificateIssuer", kTextIn),
    PropertyGet(8, L"Connected", kBoolOut),
    PropertyGet(9, L"Ready", kBoolOut),
    Method(10, L"Connect"),
    Method(11, L"GetMessageCount"),
    Method(12, L"RetrieveMessage", kMessageNumber),
    Method(13, L"DeleteMessage", kMessageNumber),
    Method(14, L"Disconnect"),
    PropertyGet(15, L"POP3EX_SUCCESS", kLongOut),
    PropertyGet(16, L"POP3EX_CONNECT_ERROR", kLongOut),
    PropertyGet(17, L"POP3EX_TERMINATED", kLongOut),
    PropertyGet(18, L"POP3EX_INVALID_STATE", kLongOut),
    PropertyGet(19, L"POP3EX_UNEXPECTED", kLongOut),
};
constexpr InterfaceDescription kIKestNetPOP3Ex =
    Dual(L"IKestNetPOP3Ex", IID_IKestNetPOP3Ex, kIKestNetPOP3ExMembers, L"IKestNetPOP3Ex Interface");

constexpr MemberDescription kIKestNetPOP3ExEventsMembers[] = {
    Method(1, L"OnPOP3Connect", kStatus),
    Method(2, L"OnPOP3Ready"),
    Method(3, L"OnPOP3Quit", kStatusResponse),
    Method(4, L"OnPOP3Disconnect", kStatus),
    Method(5, L"OnPOP3GetMessageCount", kStatusResponseMessageCountMailboxSize),
    Method(6, L"OnPOP3RetrieveMessage", kStatusMessageNumberMessageData),
    Method(7, L"OnPOP3DeleteMessage", kStatusResponseMessageNumber_LongTextLong),
    Method(8, L"OnPOP3RejectedServerCertificate", kStatusCertificateIssuerCertificateSubject),
};
constexpr InterfaceDescription kIKestNetPOP3ExEvents =
    Events(L"IKestNetPOP3ExEvents", IID_IKestNetPOP3ExEvents, kIKestNetPOP3ExEventsMembers, L"IKestNetPOP3ExEvents Interface");

constexpr MemberDescription kIKestNetSMTPMembers[] = {
    PropertyGet(1, L"Server", kTextOut),
    PropertyPut(1, L"Server", kTextIn),
    PropertyGet(2, L"Port", kLongOut),
    PropertyPut(2, L"Port", kLongIn),
    PropertyGet(3, L"Username", kTextOut),
    PropertyPut(3, L"Username", kTextIn),
    PropertyGet(4, L"Password", kTextOut),
    PropertyPut(4, L"Password", kTextIn),
    Method(5, L"Connect"),
    PropertyGet(6, L"Connected", kBoolOut),
    PropertyGet(7, L"Ready", kBoolOut),
    Method(8, L"Disconnect"),
    Method(9, L"SendMessage", kMessageData),
    PropertyGet(10, L"SMTP_SUCCESS", kLongOut),
    PropertyGet(11, L"SMTP_SOCKET_FAILURE", kLongOut),
    PropertyGet(12, L"SMTP_CONNECT_ERROR", kLongOut),
    PropertyGet(13, L"SMTP_TERMINATED", kLongOut),
    PropertyGet(14, L"SMTP_INVALID_ARGS", kLongOut),
    PropertyGet(15, L"SMTP_BUSY", kLongOut),
    PropertyGet(16, L"SMTP_INVALID_STATE", kLongOut),
    PropertyGet(17, L"SMTP_UNEXPECTED", kLongOut),
    PropertyGet(18, L"SMTP_AUTH_ERROR", kLongOut),
};
constexpr InterfaceDescription kIKestNetSMTP =
    Dual(L"IKestNetSMTP", IID_IKestNetSMTP, kIKestNetSMTPMembers, L"IKestNetSMTP Interface");

constexpr MemberDescription kIKestNetSMTPEventsMembers[] = {
    Method(1, L"OnSMTPConnect", kStatus),
    Method(2, L"OnSMTPHeader", kStatusResponse),
    Method(3, L"OnSMTPHello", kStatusResponse),
    Method(4, L"OnSMTPReady"),
    Method(5, L"OnSMTPAuthenticationRequest", kStatusResponse),
    Method(6, L"OnSMTPUserName", kStatusResponse),
    Method(7, L"OnSMTPPassword", kStatusResponse),
    Method(8, L"OnSMTPAuthenticated", kStatus),
    Method(9, L"OnSMTPQuit", kStatusResponse),
    Method(10, L"OnSMTPClose", kStatus),
    Method(11, L"OnSMTPSendComplete", kStatus),
};
constexpr InterfaceDescription kIKestNetSMTPEvents =
    Events(L"IKestNetSMTPEvents", IID_IKestNetSMTPEvents, kIKestNetSMTPEventsMembers, L"IKestNetSMTPEvents Interface");

constexpr MemberDescription kIKestNetSMTPExMembers[] = {
    PropertyGet(1, L"UseSSL", kBoolOut),
    PropertyPut(1, L"UseSSL", kBoolIn),
    PropertyGet(2, L"Server", kTextOut),
    PropertyPut(2, L"Server", kTextIn),
    PropertyGet(3, L"Port", kLongOut),
    PropertyPut(3, L"Port", kLongIn),
    PropertyGet(4, L"Username", kTextOut),
    PropertyPut(4, L"Username", kTextIn),
    PropertyGet(5, L"Password", kTextOut),
    PropertyPut(5, L"Password", kTextIn),
    PropertyGet(6, L"CertificateSubject", kTextOut),
    PropertyPut(6, L"CertificateSubject", kTextIn),
    PropertyGet(7, L"CertificateIssuer", kTextOut),
    PropertyPut(7, L"CertificateIssuer", kTextIn),
    Method(8, L"Connect"),
    PropertyGet(9, L"Connected", kBoolOut),
    PropertyGet(10, L"Ready", kBoolOut),
    Method(11, L"Disconnect"),
    Method(12, L"SendMessage", kMessageData),
    PropertyGet(13, L"SMTPEX_SUCCESS", kLongOut),
    PropertyGet(14, L"SMTPEX_CONNECT_ERROR", kLongOut),
    PropertyGet(15, L"SMTPEX_TERMINATED", kLongOut),
    PropertyGet(16, L"SMTPEX_INVALID_STATE", kLongOut),
    PropertyGet(17, L"SMTPEX_UNEXPECTED", kLongOut),
};
constexpr InterfaceDescription kIKestNetSMTPEx =
    Dual(L"IKestNetSMTPEx", IID_IKestNetSMTPEx, kIKestNetSMTPExMembers, L"IKestNetSMTPEx Interface");

constexpr MemberDescription kIKestNetSMTPExEventsMembers[] = {
    Method(1, L"OnSMTPConnect", kStatus),
    Method(2, L"OnSMTPReady"),
    Method(3, L"OnSMTPQuit", kStatusResponse),
    Method(4, L"OnSMTPClose", kStatus),
    Method(5, L"OnSMTPSendComplete", kStatus),
    Method(6, L"OnSMTPRejectedServerCertificate", kStatusCertificateIssuerCertificateSubject),
};
constexpr InterfaceDescription kIKestNetSMTPExEvents =
    Events(L"IKestNetSMTPExEvents", IID_IKestNetSMTPExEvents, kIKestNetSMTPExEventsMembers, L"IKestNetSMTPExEvents Interface");

constexpr MemberDescription kIKestNetMessageDataMembers[] = {
    PropertyGet(1, L"To", kTextOut),
    PropertyPut(1, L"To", kTextIn),
    PropertyGet(2, L"From", kTextOut),
    PropertyPut(2, L"From", kTextIn),
    PropertyGet(3, L"Subject", kTextOut),
    PropertyPut(3, L"Subject", kTextIn),
    PropertyGet(4, L"XMailer", kTextOut),
    PropertyPut(4, L"XMailer", kTextIn),
    PropertyGet(5, L"Cc", kTextOut),
    PropertyPut(5, L"Cc", kTextIn),
    PropertyGet(6, L"Bcc", kTextOut),
    PropertyPut(6, L"Bcc", kTextIn),
    PropertyGet(7, L"Date", kTextOut),
    PropertyPut(7, L"Date", kTextIn),
    PropertyGet(8, L"NumHeaders", kLongOut),
    PropertyGet(9, L"TextMessage", kTextOut),
    PropertyPut(9, L"TextMessage", kTextIn),
    PropertyGet(10, L"HtmlMessage", kTextOut),
    PropertyPut(10, L"HtmlMessage", kTextIn),
    Method(11, L"AddHeader", kCustomHeader),
    Method(12, L"RemoveHeader", kHeaderIndex),
    Method(13, L"GetHeader", kHeaderIndexReturnsText),
    Method(14, L"ClearAllHeaders"),
    Method(15, L"SetDateToNow"),
    Method(16, L"GetHeaderByName", kHeaderNameReturnsText),
    Method(17, L"SetHeaderByName", kHeaderNameHeaderValue),
};
constexpr InterfaceDescription kIKestNetMessageData =
    Dual(L"IKestNetMessageData", IID_IKestNetMessageData, kIKestNetMessageDataMembers, L"IKestNetMessageData Interface");

constexpr MemberDescription kIKestNetTcpClientSocketMembers[] = {
    Method(1, L"Connect", kTargetPort),
    Method(2, L"Close"),
    Method(3, L"BlockingSocketTest", kTargetPortTimeoutReturnsBool),
    PropertyGet(100, L"SOCKET_NO_ERROR", kLongOut),
    PropertyGet(101, L"SOCKET_GENERIC_ERROR", kLongOut),
    PropertyGet(102, L"SOCKET_OS_LAYER_NOT_INITIALIZED", kLongOut),
    PropertyGet(103, L"SOCKET_OS_FAILURE", kLongOut),
    PropertyGet(104, L"SOCKET_ADDR_IN_USE", kLongOut),
    PropertyGet(105, L"SOCKET_INVALID_STATE", kLongOut),
    PropertyGet(106, L"SOCKET_INVALID_ARG", kLongOut),
    PropertyGet(107, L"SOCKET_CONNECT_REFUSED", kLongOut),
    PropertyGet(108, L"SOCKET_DEST_UNREACHABLE", kLongOut),
    PropertyGet(109, L"SOCKET_TIMEOUT", kLongOut),
};
constexpr InterfaceDescription kIKestNetTcpClientSocket =
    Dual(L"IKestNetTcpClientSocket", IID_IKestNetTcpClientSocket, kIKestNetTcpClientSocketMembers, L"IKestNetTcpClientSocket Interface");

constexpr MemberDescription kIKestNetTcpClientSocketEventsMembers[] = {
    Method(1, L"OnConnect", kResultTargetHostTargetAddress),
    Method(2, L"OnClose", kResult),
};
constexpr InterfaceDescription kIKestNetTcpClientSocketEvents =
    Events(L"IKestNetTcpClientSocketEvents", IID_IKestNetTcpClientSocketEvents, kIKestNetTcpClientSocketEventsMembers, L"IKestNetTcpClientSocketEvents Interface");

constexpr MemberDescription kIKestNetWindowsNetworkMembers[] = {
    Method(1, L"GetHostInfo", kHostName),
    Method(2, L"AbortGetHostInfo", kHostName),
    Method(3, L"GetShareLocalPath", kServerShareNameReturnsText),
    Method(4, L"AllowXPFileSharing", kAllowSharingReturnsBool),
    Method(5, L"IsXPFileSharingAllowed", kReturnsBool),
    Method(6, L"MapNetworkPrinter", kServerNameServerPrinterNameLocalPrinterName),
    Method(7, L"GetNetworkComputers", kWorkgroupNameReturnsBool),
    Method(8, L"GetFileShareList", kWorkgroupNameReturnsBool),
    Method(9, L"GetPrinterShareList", kWorkgroupNameReturnsBool),
    Method(10, L"FileSharePermission", kComputerNameShareNameReturnsLong),
    Method(11, L"FileShareExists", kComputerNameShareNameReturnsBool),
    Method(12, L"CopyFileToShare", kFileComputerNameShareNameReturnsBool),
    Method(13, L"DeleteFileFromShare", kFileComputerNameShareNameReturnsBool),
    Method(14, L"PrinterSharePermission", kComputerNamePrinterNameReturnsLong),
    Method(15, L"PrinterShareExists", kComputerNamePrinterNameReturnsBool),
    Method(16, L"AddNetworkPrinter", kComputerNamePrinterNameReturnsBool),
    Method(17, L"DeleteNetworkPrinter", kComputerNamePrinterNameReturnsBool),
    Method(18, L"GetNetworkWorkgroups", kReturnsBool),
    Method(19, L"MapNetworkShare", kRemoteShareLocalDrive),
    Method(20, L"UnMapNetworkShare", kLocalDrive),
    Method(21, L"PrintTestPage", kFilePathComputerNamePrinterName),
    Method(22, L"GetMappedConnection", kLocalDriveReturnsText),
    Method(23, L"ShowPrinterQueue", kComputerNamePrinterName),
    Method(24, L"CreateFileShare", kFileNameShareNameCreateReadWriteAccessReturnsBool),
    Method(25, L"DeleteFileShare", kShareNameReturnsBool),
    Method(26, L"GetLocalFileShares", kIncludeAdminReturnsVariant),
    Method(27, L"GetLocalPrinters", kReturnsVariant),
    Method(28, L"IsLocalPrinterShared", kPrinterNameReturnsBool),
    Method(29, L"CreatePrinterShare", kPrinterNameShareNameReturnsBool),
    Method(30, L"DeletePrinterShare", kShareNameReturnsBool),
    Method(31, L"GetPrinterShareName", kPrinterNameReturnsText),
    Method(32, L"GetLocalPrinterStatus", kPrinterNameReturnsLong),
    Method(33, L"GetConnectedPrinters", kReturnsVariant),
    PropertyGet(34, L"CurrentNetworkLocation", kLongOut),
    PropertyPut(34, L"CurrentNetworkLocation", kLongIn),
    Method(35, L"ArePrintersShared", kReturnsBool),
    Method(36, L"SharePrinters", kReturnsBool),
    Method(37, L"StopSharingPrinters", kReturnsBool),
    Method(38, L"CreateDefaultShare", kFolderIDRoleReturnsBool),
    Method(39, L"DeleteDefaultShare", kFolderIDReturnsBool),
    Method(40, L"DoesDefaultShareExist", kFolderIDReturnsBool),
    Method(41, L"GetDefaultSharePermissions", kFolderIDReturnsLong),
    Method(42, L"SetPasswordProtectedSharing", kEnableReturnsBool),
    Method(43, L"IsPasswordProtectedSharingOn", kReturnsBool),
    Method(44, L"UnMapNetworkPrinter", kServerNamePrinterName),
    Method(45, L"MapNetworkShareAsync", kRemoteShareLocalDrive),
    Method(46, L"UnMapNetworkShareAsync", kLocalDrive),
    Method(47, L"CreateFileShareAsync", kFileNameShareNameCreateReadWriteAccess),
    Method(48, L"DeleteFileShareAsync", kShareName),
    Method(49, L"UpdateFileShareAccess", kShareNameAccess),
    Method(50, L"GetLocalFileSharePermissions", kShareNameReturnsLong),
    Method(51, L"EnableMediaSharing", kEnableReturnsBool),
    Method(52, L"IsMediaSharingEnabled", kReturnsBool),
    Method(53, L"ShowMediaSharingDialog", kReturnsBool),
    PropertyGet(54, L"GETHOSTINFO_SUCCESS", kLongOut),
    PropertyGet(55, L"GETHOSTINFO_ABORTED", kLongOut),
    PropertyGet(56, L"GETHOSTINFO_HOST_NOT_FOUND", kLongOut),
    PropertyGet(57, L"GETHOSTINFO_ERROR", kLongOut),
    PropertyGet(58, L"GETHOSTINFO_INVALIDOBJECT", kLongOut),
    PropertyGet(59, L"MAPNETWORKPRINTER_SUCCESS", kLongOut),
    PropertyGet(60, L"MAPNETWORKPRINTER_ERROR", kLongOut),
    PropertyGet(61, L"MAPNETWORKPRINTER_ABORTED", kLongOut),
    PropertyGet(62, L"MAPNETWORKPRINTER_DRIVER_NOT_FOUND", kLongOut),
    PropertyGet(63, L"MAPNETWORKPRINTER_NETWORK_NOT_FOUND", kLongOut),
    PropertyGet(64, L"MAPNETWORKPRINTER_UNABLE_TO_ACCESS", kLongOut),
    PropertyGet(65, L"MAPNETWORKPRINTER_UNABLE_TO_COPY", kLongOut),
    PropertyGet(66, L"FS_UNKNOWN", kLongOut),
    PropertyGet(67, L"FS_READ", kLongOut),
    PropertyGet(68, L"FS_READ_WRITE", kLongOut),
    PropertyGet(69, L"PS_PRINT", kLongOut),
    PropertyGet(70, L"PS_UNKNOWN", kLongOut),
    PropertyGet(71, L"PS_BUSY", kLongOut),
    PropertyGet(72, L"PS_DOOR_OPEN", kLongOut),
    PropertyGet(73, L"PS_ERROR", kLongOut),
    PropertyGet(74, L"PS_INITIALIZING", kLongOut),
    PropertyGet(75, L"PS_IO_ACTIVE", kLongOut),
    PropertyGet(76, L"PS_MANUAL_FEED", kLongOut),
    PropertyGet(77, L"PS_NOT_AVAILABLE", kLongOut),
    PropertyGet(78, L"PS_NO_TONER", kLongOut),
    PropertyGet(79, L"PS_OFFLINE", kLongOut),
    PropertyGet(80, L"PS_OUTPUT_BIN_FULL", kLongOut),
    PropertyGet(81, L"PS_OUT_OF_MEMORY", kLongOut),
    PropertyGet(82, L"PS_PAGE_PUNT", kLongOut),
    PropertyGet(83, L"PS_PAPER_JAM", kLongOut),
    PropertyGet(84, L"PS_PAPER_OUT", kLongOut),
    PropertyGet(85, L"PS_PAPER_PROBLEM", kLongOut),
    PropertyGet(86, L"PS_PAUSED", kLongOut),
    PropertyGet(87, L"PS_PENDING_DELETION", kLongOut),
    PropertyGet(88, L"PS_POWER_SAVE", kLongOut),
    PropertyGet(89, L"PS_PRINTING", kLongOut),
    PropertyGet(90, L"PS_PROCESSING", kLongOut),
    PropertyGet(91, L"PS_READY", kLongOut),
    PropertyGet(92, L"PS_SERVER_UNKNOWN", kLongOut),
    PropertyGet(93, L"PS_TONER_LOW", kLongOut),
    PropertyGet(94, L"PS_USER_INTERVENTION", kLongOut),
    PropertyGet(95, L"PS_WAITING", kLongOut),
    PropertyGet(96, L"PS_WARMING_UP", kLongOut),
    PropertyGet(97, L"LOCATION_PUBLIC", kLongOut),
    PropertyGet(98, L"LOCATION_PRIVATE", kLongOut),
    PropertyGet(99, L"LOCATION_DOMAIN", kLongOut),
    PropertyGet(100, L"LOCATION_NOT_CONNECTED", kLongOut),
    PropertyGet(101, L"DEFAULT_SHARE_USERS", kLongOut),
    PropertyGet(102, L"DEFAULT_SHARE_PUBLIC", kLongOut),
    PropertyGet(103, L"DEFAULT_SHARE_ROLE_READER", kLongOut),
    PropertyGet(104, L"DEFAULT_SHARE_ROLE_CO_OWNER", kLongOut),
    PropertyGet(105, L"DEFAULT_SHARE_ROLE_INVALID", kLongOut),
    PropertyGet(106, L"ASYNC_OPERATION_SUCCESS", kLongOut),
    PropertyGet(107, L"ASYNC_OPERATION_ABORTED", kLongOut),
    PropertyGet(108, L"ASYNC_OPERATION_ERROR", kLongOut),
    PropertyGet(109, L"ASYNC_NONET_ERROR", kLongOut),
    PropertyGet(110, L"ASYNC_DOESNOTEXIST_ERROR", kLongOut),
    PropertyGet(111, L"ASYNC_DUPLICATE_ERROR", kLongOut),
    PropertyGet(112, L"ASYNC_CREATE_DIR_ERROR", kLongOut),
    PropertyGet(113, L"ASYNC_SECURITY_ERROR", kLongOut),
    PropertyGet(114, L"ASYNC_INVALID_ARG_ERROR", kLongOut),
};
constexpr InterfaceDescription kIKestNetWindowsNetwork =
    Dual(L"IKestNetWindowsNetwork", IID_IKestNetWindowsNetwork, kIKestNetWindowsNetworkMembers, L"IKestNetWindowsNetwork Interface");

constexpr MemberDescription kIKestNetWindowsNetworkEventsMembers[] = {
    Method(1, L"OnGetHostInfoComplete", kStatusHostNameHostInfo),
    Method(2, L"GetNetworkComputersComplete", kComputers),
    Method(3, L"GetFileShareListComplete", kFileShares),
    Method(4, L"GetPrinterShareListComplete", kPrinterShares),
    Method(5, L"GetNetworkWorkgroupsComplete", kWorkgroups),
    Method(6, L"OnMapNetworkPrinterComplete", kStatusServerNameServerPrinterNameLocalPrinterName),
    Method(7, L"OnUnMapNetworkPrinterComplete", kStatusServerNamePrinterName),
    Method(8, L"OnMapNetworkShareComplete", kStatusRemoteShareLocalDrive),
    Method(9, L"OnUnMapNetworkShareComplete", kStatusLocalDrive),
    Method(10, L"OnCreateFileShareComplete", kStatusFolderPathShareName),
    Method(11, L"OnDeleteFileShareComplete", kStatusShareName),
    Method(12, L"OnUpdateFileShareAccessComplete", kStatusShareNameAccess),
};
constexpr InterfaceDescription kIKestNetWindowsNetworkEvents =
    Events(L"IKestNetWindowsNetworkEvents", IID_IKestNetWindowsNetworkEvents, kIKestNetWindowsNetworkEventsMembers, L"IKestNetWindowsNetworkEvents Interface");

constexpr MemberDescription kIKestNetWindowsNetwork2Members[] = {
    Method(1, L"MapNetworkShareAsync", kRemoteShareLocalDriveUsernamePasswordConnectionFlags),
    PropertyGet(2, L"CONNECT_INTERACTIVE", kLongOut),
    PropertyGet(3, L"CONNECT_PROMPT", kLongOut),
    PropertyGet(4, L"CONNECT_UPDATE_PROFILE", kLongOut),
};
constexpr InterfaceDescription kIKestNetWindowsNetwork2 =
    Dual(L"IKestNetWindowsNetwork2", IID_IKestNetWindowsNetwork2, kIKestNetWindowsNetwork2Members, L"IKestNetWindowsNetwork2 Interface");

constexpr MemberDescription kIKestNetWindowsNetwork2EventsMembers[] = {
    Method(1, L"OnMapNetworkShareComplete", kStatusRemoteShareLocalDrive),
};
constexpr InterfaceDescription kIKestNetWindowsNetwork2Events =
    Events(L"IKestNetWindowsNetwork2Events", IID_IKestNetWindowsNetwork2Events, kIKestNetWindowsNetwork2EventsMembers, L"IKestNetWindowsNetwork2Events Interface");

constexpr MemberDescription kIKestNetWindowsNetworkHostMembers[] = {
    PropertyGet(1, L"IPAddress", kTextOut),
    PropertyPut(1, L"IPAddress", kTextIn),
    PropertyGet(2, L"MACAddress", kTextOut),
    PropertyPut(2, L"MACAddress", kTextIn),
    PropertyGet(3, L"Comment", kTextOut),
    PropertyPut(3, L"Comment", kTextIn),
    PropertyGet(4, L"MajorVersion", kLongOut),
    PropertyPut(4, L"MajorVersion", kLongIn),
    PropertyGet(5, L"MinorVersion", kLongOut),
    PropertyPut(5, L"MinorVersion", kLongIn),
    PropertyGet(6, L"PlatformID", kLongOut),
    PropertyPut(6, L"PlatformID", kLongIn),
    PropertyGet(7, L"PLATFORM_WINDOWS_9X", kLongOut),
    PropertyGet(8, L"PLATFORM_WINDOWS_2000", kLongOut),
    PropertyGet(9, L"PLATFORM_WINDOWS_NT40", kLongOut),
    PropertyGet(10, L"PLATFORM_WINDOWS_XP", kLongOut),
    PropertyGet(11, L"PLATFORM_WINDOWS_2003", kLongOut),
    PropertyGet(12, L"PLATFORM_WINDOWS_VISTA", kLongOut),
    PropertyGet(13, L"PLATFORM_WINDOWS_7", kLongOut),
    PropertyGet(14, L"PLATFORM_UNIX", kLongOut),
    PropertyGet(15, L"PLATFORM_UNKNOWN", kLongOut),
};
constexpr InterfaceDescription kIKestNetWindowsNetworkHost =
    Dual(L"IKestNetWindowsNetworkHost", IID_IKestNetWindowsNetworkHost, kIKestNetWindowsNetworkHostMembers, L"IKestNetWindowsNetworkHost Interface");

constexpr const InterfaceDescription* kInterfaces[] = {
    &kIKestNetPing,
    &kIKestNetPingEvents,
    &kIKestNetDNS,
    &kIKestNetDNSEvents,
    &kIKestNetPOP3,
    &kIKestNetPOP3Events,
    &kIKestNetPOP3Ex,
    &kIKestNetPOP3ExEvents,
    &kIKestNetSMTP,
    &kIKestNetSMTPEvents,
    &kIKestNetSMTPEx,
    &kIKestNetSMTPExEvents,
    &kIKestNetMessageData,
    &kIKestNetTcpClientSocket,
    &kIKestNetTcpClientSocketEvents,
    &kIKestNetWindowsNetwork,
    &kIKestNetWindowsNetworkEvents,
    &kIKestNetWindowsNetwork2,
    &kIKestNetWindowsNetwork2Events,
    &kIKestNetWindowsNetworkHost,
};

// The SMTPEx class's help string is "KestNetSMTP Class" in the library,
// although its registry description is "KestNetSMTPEx Class"; clients that
// read the library have always seen the former.
constexpr CoclassDescription kCoclasses[] = {
    {L"KestNetPing", CLSID_KestNetPing, &kIKestNetPing, &kIKestNetPingEvents, L"KestNetPing Class"},
    {L"KestNetDNS", CLSID_KestNetDNS, &kIKestNetDNS, &kIKestNetDNSEvents, L"KestNetDNS Class"},
    {L"KestNetPOP3", CLSID_KestNetPOP3, &kIKestNetPOP3, &kIKestNetPOP3Events, L"KestNetPOP3 Class"},
    {L"KestNetPOP3Ex", CLSID_KestNetPOP3Ex, &kIKestNetPOP3Ex, &kIKestNetPOP3ExEvents, L"KestNetPOP3Ex Class"},
    {L"KestNetSMTP", CLSID_KestNetSMTP, &kIKestNetSMTP, &kIKestNetSMTPEvents, L"KestNetSMTP Class"},
    {L"KestNetSMTPEx", CLSID_KestNetSMTPEx, &kIKestNetSMTPEx, &kIKestNetSMTPExEvents, L"KestNetSMTP Class"},
    {L"KestNetMessageData", CLSID_KestNetMessageData, &kIKestNetMessageData, nullptr, L"KestNetMessageData Class"},
    {L"KestNetTcpClientSocket", CLSID_KestNetTcpClientSocket, &kIKestNetTcpClientSocket,
     &kIKestNetTcpClientSocketEvents, L"KestNetTcpClientSocket Class"},
    {L"KestNetWindowsNetworkHost", CLSID_KestNetWindowsNetworkHost, &kIKestNetWindowsNetworkHost, nullptr,
     L"KestNetWindowsNetworkHost Class"},
    {L"KestNetWindowsNetwork", CLSID_KestNetWindowsNetwork, &kIKestNetWindowsNetwork,
     &kIKestNetWindowsNetworkEvents, L"KestNetWindowsNetwork Class"},
    {L"KestNetWindowsNetwork2", CLSID_KestNetWindowsNetwork2, &kIKestNetWindowsNetwork2,
     &kIKestNetWindowsNetwork2Events, L"KestNetWindowsNetwork2 Class"},
};

constexpr TypeLibDescription kLibrary = {L"KestNet",    LIBID_KestNet, 1, 0, L"KestNet 1.0 Type Library",
                                         kInterfaces, kCoclasses};

}  // namespace

const TypeLibDescription& KestNetTypeLibDescription() { return kLibrary; }

namespace {

// Built on first use; released when the module unloads, before the
// description it refers to goes away with the module's image.
class LibraryHolder {
 public:
  LibraryHolder() {
    if (FAILED(CreateTypeLibFromDescription(&kLibrary, &library_))) library_ = nullptr;
  }
  ~LibraryHolder() {
    if (library_ != nullptr) library_->Release();
  }
  LibraryHolder(const LibraryHolder&) = delete;
  LibraryHolder& operator=(const LibraryHolder&) = delete;

  ITypeLib* NewReference() const {
    if (library_ != nullptr) library_->AddRef();
    return library_;
  }

 private:
  ITypeLib* library_ = nullptr;
};

}  // namespace

ITypeLib* KestNetTypeLib() {
  static LibraryHolder holder;
  return holder.NewReference();
}

}  // namespace KestAXLib
