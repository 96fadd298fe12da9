// The event proxies: one Fire_ operation per event of each event interface,
// with the dispids and argument order of the type library (typelib.cpp).
//
// An object holds its proxy as a base and builds it with its own
// IConnectionPointContainer; the proxy owns the connection point (the
// standard one, or KestConnectionPointImplMT for the objects whose events may
// be fired from another apartment or forwarded to a proxy control).
//
// Each Fire_ builds the arguments last parameter first, calls every sink and
// returns the last sink's HRESULT (S_OK without sinks); a sink's failure never
// stops the others. A text that cannot be allocated throws
// ATL::CAtlException(E_OUTOFMEMORY), which the caller's method guard turns
// into E_FAIL.
#pragma once

#include "automation/event_arguments.h"
#include "automation/event_connection_points.h"
#include "automation/typelib_ids.h"

template <class T, class ConnectionPoint = KestAXLib::KestConnectionPointImplMT<T, &IID_IKestNetPingEvents>>
class CProxy_IKestNetPingEvents {
 public:
  explicit CProxy_IKestNetPingEvents(IConnectionPointContainer* container) : m_connectionPoint(container) {}

  HRESULT Fire_OnPingComplete(SHORT Status, BSTR TargetHost, BSTR TargetAddress, BSTR ResponseAddress, LONG ResponseTime) {
    KestAXLib::EventArguments arguments;
    arguments.AddShort(Status);
    arguments.AddBstr(TargetHost);
    arguments.AddBstr(TargetAddress);
    arguments.AddBstr(ResponseAddress);
    arguments.AddLong(ResponseTime);
    return KestAXLib::FireToSinks(m_connectionPoint, 1, arguments.Params());
  }

  ConnectionPoint& EventConnectionPoint() { return m_connectionPoint; }

 protected:
  ConnectionPoint m_connectionPoint;
};

template <class T, class ConnectionPoint = ATL::IConnectionPointImpl<T, &IID_IKestNetDNSEvents>>
class CProxy_IKestNetDNSEvents {
 public:
  explicit CProxy_IKestNetDNSEvents(IConnectionPointContainer* container) : m_connectionPoint(container) {}

  HRESULT Fire_OnResolveNameComplete(INT Result, BSTR DomainName, const VARIANT& IPs) {
    KestAXLib::EventArguments arguments;
    arguments.AddInt(Result);
    arguments.AddBstr(DomainName);
    arguments.AddVariant(IPs);
    return KestAXLib::FireToSinks(m_connectionPoint, 1, arguments.Params());
  }

  ConnectionPoint& EventConnectionPoint() { return m_connectionPoint; }

 protected:
  ConnectionPoint m_connectionPoint;
};

template <class T, class ConnectionPoint = ATL::IConnectionPointImpl<T, &IID_IKestNetPOP3Events>>
class CProxy_IKestNetPOP3Events {
 public:
  explicit CProxy_IKestNetPOP3Events(IConnectionPointContainer* container) : m_connectionPoint(container) {}

  HRESULT Fire_OnPOP3Connect(LONG Status) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    return KestAXLib::FireToSinks(m_connectionPoint, 1, arguments.Params());
  }

  HRESULT Fire_OnPOP3Header(LONG Status, BSTR Response) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    arguments.AddBstr(Response);
    return KestAXLib::FireToSinks(m_connectionPoint, 2, arguments.Params());
  }

  HRESULT Fire_OnPOP3UserName(LONG Status, BSTR Response) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    arguments.AddBstr(Response);
    return KestAXLib::FireToSinks(m_connectionPoint, 3, arguments.Params());
  }

  HRESULT Fire_OnPOP3Password(LONG Status, BSTR Response) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    arguments.AddBstr(Response);
    return KestAXLib::FireToSinks(m_connectionPoint, 4, arguments.Params());
  }

  HRESULT Fire_OnPOP3Ready() {
    KestAXLib::EventArguments arguments;
    return KestAXLib::FireToSinks(m_connectionPoint, 5, arguments.Params());
  }

  HRESULT Fire_OnPOP3Quit(LONG Status, BSTR Response) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    arguments.AddBstr(Response);
    return KestAXLib::FireToSinks(m_connectionPoint, 6, arguments.Params());
  }

  HRESULT Fire_OnPOP3Disconnect(LONG Status) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    return KestAXLib::FireToSinks(m_connectionPoint, 7, arguments.Params());
  }

  HRESULT Fire_OnPOP3GetMessageCount(LONG Status, BSTR Response, LONG MessageCount, LONG MailboxSize) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    arguments.AddBstr(Response);
    arguments.AddLong(MessageCount);
    arguments.AddLong(MailboxSize);
    return KestAXLib::FireToSinks(m_connectionPoint, 8, arguments.Params());
  }

  HRESULT Fire_OnPOP3RetrieveMessage(LONG Status, LONG MessageNumber, IDispatch* MessageData) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    arguments.AddLong(MessageNumber);
    arguments.AddDispatch(MessageData);
    return KestAXLib::FireToSinks(m_connectionPoint, 9, arguments.Params());
  }

  HRESULT Fire_OnPOP3DeleteMessage(LONG Status, BSTR Response, ULONG MessageNumber) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    arguments.AddBstr(Response);
    arguments.AddULong(MessageNumber);
    return KestAXLib::FireToSinks(m_connectionPoint, 10, arguments.Params());
  }

  ConnectionPoint& EventConnectionPoint() { return m_connectionPoint; }

 protected:
  ConnectionPoint m_connectionPoint;
};

template <class T, class ConnectionPoint = KestAXLib::KestConnectionPointImplMT<T, &IID_IKestNetPOP3ExEvents>>
class CProxy_IKestNetPOP3ExEvents {
 public:
  explicit CProxy_IKestNetPOP3ExEvents(IConnectionPointContainer* container) : m_connectionPoint(container) {}

  HRESULT Fire_OnPOP3Connect(LONG Status) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    return KestAXLib::FireToSinks(m_connectionPoint, 1, arguments.Params());
  }

  HRESULT Fire_OnPOP3Ready() {
    KestAXLib::EventArguments arguments;
    return KestAXLib::FireToSinks(m_connectionPoint, 2, arguments.Params());
  }

  HRESULT Fire_OnPOP3Quit(LONG Status, BSTR Response) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    arguments.AddBstr(Response);
    return KestAXLib::FireToSinks(m_connectionPoint, 3, arguments.Params());
  }

  HRESULT Fire_OnPOP3Disconnect(LONG Status) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    return KestAXLib::FireToSinks(m_connectionPoint, 4, arguments.Params());
  }

  HRESULT Fire_OnPOP3GetMessageCount(LONG Status, BSTR Response, LONG MessageCount, LONG MailboxSize) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    arguments.AddBstr(Response);
    arguments.AddLong(MessageCount);
    arguments.AddLong(MailboxSize);
    return KestAXLib::FireToSinks(m_connectionPoint, 5, arguments.Params());
  }

  HRESULT Fire_OnPOP3RetrieveMessage(LONG Status, LONG MessageNumber, IDispatch* MessageData) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    arguments.AddLong(MessageNumber);
    arguments.AddDispatch(MessageData);
    return KestAXLib::FireToSinks(m_connectionPoint, 6, arguments.Params());
  }

  HRESULT Fire_OnPOP3DeleteMessage(LONG Status, BSTR Response, LONG MessageNumber) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    arguments.AddBstr(Response);
    arguments.AddLong(MessageNumber);
    return KestAXLib::FireToSinks(m_connectionPoint, 7, arguments.Params());
  }

  HRESULT Fire_OnPOP3RejectedServerCertificate(BSTR Status, BSTR CertificateIssuer, BSTR CertificateSubject) {
    KestAXLib::EventArguments arguments;
    arguments.AddBstr(Status);
    arguments.AddBstr(CertificateIssuer);
    arguments.AddBstr(CertificateSubject);
    return KestAXLib::FireToSinks(m_connectionPoint, 8, arguments.Params());
  }

  ConnectionPoint& EventConnectionPoint() { return m_connectionPoint; }

 protected:
  ConnectionPoint m_connectionPoint;
};

template <class T, class ConnectionPoint = ATL::IConnectionPointImpl<T, &IID_IKestNetSMTPEvents>>
class CProxy_IKestNetSMTPEvents {
 public:
  explicit CProxy_IKestNetSMTPEvents(IConnectionPointContainer* container) : m_connectionPoint(container) {}

  HRESULT Fire_OnSMTPConnect(LONG Status) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    return KestAXLib::FireToSinks(m_connectionPoint, 1, arguments.Params());
  }

  HRESULT Fire_OnSMTPHeader(LONG Status, BSTR Response) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    arguments.AddBstr(Response);
    return KestAXLib::FireToSinks(m_connectionPoint, 2, arguments.Params());
  }

  HRESULT Fire_OnSMTPHello(LONG Status, BSTR Response) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    arguments.AddBstr(Response);
    return KestAXLib::FireToSinks(m_connectionPoint, 3, arguments.Params());
  }

  HRESULT Fire_OnSMTPReady() {
    KestAXLib::EventArguments arguments;
    return KestAXLib::FireToSinks(m_connectionPoint, 4, arguments.Params());
  }

  HRESULT Fire_OnSMTPAuthenticationRequest(LONG Status, BSTR Response) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    arguments.AddBstr(Response);
    return KestAXLib::FireToSinks(m_connectionPoint, 5, arguments.Params());
  }

  HRESULT Fire_OnSMTPUserName(LONG Status, BSTR Response) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    arguments.AddBstr(Response);
    return KestAXLib::FireToSinks(m_connectionPoint, 6, arguments.Params());
  }

  HRESULT Fire_OnSMTPPassword(LONG Status, BSTR Response) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    arguments.AddBstr(Response);
    return KestAXLib::FireToSinks(m_connectionPoint, 7, arguments.Params());
  }

  HRESULT Fire_OnSMTPAuthenticated(LONG Status) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    return KestAXLib::FireToSinks(m_connectionPoint, 8, arguments.Params());
  }

  HRESULT Fire_OnSMTPQuit(LONG Status, BSTR Response) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    arguments.AddBstr(Response);
    return KestAXLib::FireToSinks(m_connectionPoint, 9, arguments.Params());
  }

  HRESULT Fire_OnSMTPClose(LONG Status) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    return KestAXLib::FireToSinks(m_connectionPoint, 10, arguments.Params());
  }

  HRESULT Fire_OnSMTPSendComplete(LONG Status) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    return KestAXLib::FireToSinks(m_connectionPoint, 11, arguments.Params());
  }

  ConnectionPoint& EventConnectionPoint() { return m_connectionPoint; }

 protected:
  ConnectionPoint m_connectionPoint;
};

template <class T, class ConnectionPoint = KestAXLib::KestConnectionPointImplMT<T, &IID_IKestNetSMTPExEvents>>
class CProxy_IKestNetSMTPExEvents {
 public:
  explicit CProxy_IKestNetSMTPExEvents(IConnectionPointContainer* container) : m_connectionPoint(container) {}

  HRESULT Fire_OnSMTPConnect(LONG Status) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    return KestAXLib::FireToSinks(m_connectionPoint, 1, arguments.Params());
  }

  HRESULT Fire_OnSMTPReady() {
    KestAXLib::EventArguments arguments;
    return KestAXLib::FireToSinks(m_connectionPoint, 2, arguments.Params());
  }

  HRESULT Fire_OnSMTPQuit(LONG Status, BSTR Response) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    arguments.AddBstr(Response);
    return KestAXLib::FireToSinks(m_connectionPoint, 3, arguments.Params());
  }

  HRESULT Fire_OnSMTPClose(LONG Status) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    return KestAXLib::FireToSinks(m_connectionPoint, 4, arguments.Params());
  }

  HRESULT Fire_OnSMTPSendComplete(LONG Status) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Status);
    return KestAXLib::FireToSinks(m_connectionPoint, 5, arguments.Params());
  }

  HRESULT Fire_OnSMTPRejectedServerCertificate(BSTR Status, BSTR CertificateIssuer, BSTR CertificateSubject) {
    KestAXLib::EventArguments arguments;
    arguments.AddBstr(Status);
    arguments.AddBstr(CertificateIssuer);
    arguments.AddBstr(CertificateSubject);
    return KestAXLib::FireToSinks(m_connectionPoint, 6, arguments.Params());
  }

  ConnectionPoint& EventConnectionPoint() { return m_connectionPoint; }

 protected:
  ConnectionPoint m_connectionPoint;
};

template <class T, class ConnectionPoint = ATL::IConnectionPointImpl<T, &IID_IKestNetTcpClientSocketEvents>>
class CProxy_IKestNetTcpClientSocketEvents {
 public:
  explicit CProxy_IKestNetTcpClientSocketEvents(IConnectionPointContainer* container) : m_connectionPoint(container) {}

  HRESULT Fire_OnConnect(LONG Result, BSTR TargetHost, BSTR TargetAddress) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Result);
    arguments.AddBstr(TargetHost);
    arguments.AddBstr(TargetAddress);
    return KestAXLib::FireToSinks(m_connectionPoint, 1, arguments.Params());
  }

  HRESULT Fire_OnClose(LONG Result) {
    KestAXLib::EventArguments arguments;
    arguments.AddLong(Result);
    return KestAXLib::FireToSinks(m_connectionPoint, 2, arguments.Params());
  }

  ConnectionPoint& EventConnectionPoint() { return m_connectionPoint; }

 protected:
  ConnectionPoint m_connectionPoint;
};

template <class T, class ConnectionPoint = KestAXLib::KestConnectionPointImplMT<T, &IID_IKestNetWindowsNetworkEvents>>
class CProxy_IKestNetWindowsNetworkEvents {
 public:
  explicit CProxy_IKestNetWindowsNetworkEvents(IConnectionPointContainer* container) : m_connectionPoint(container) {}

  HRESULT Fire_OnGetHostInfoComplete(SHORT Status, BSTR HostName, IDispatch* HostInfo) {
    KestAXLib::EventArguments arguments;
    arguments.AddShort(Status);
    arguments.AddBstr(HostName);
    arguments.AddDispatch(HostInfo);
    return KestAXLib::FireToSinks(m_connectionPoint, 1, arguments.Params());
  }

  HRESULT Fire_GetNetworkComputersComplete(const VARIANT& Computers) {
    KestAXLib::EventArguments arguments;
    arguments.AddVariant(Computers);
    return KestAXLib::FireToSinks(m_connectionPoint, 2, arguments.Params());
  }

  HRESULT Fire_GetFileShareListComplete(const VARIANT& FileShares) {
    KestAXLib::EventArguments arguments;
    arguments.AddVariant(FileShares);
    return KestAXLib::FireToSinks(m_connectionPoint, 3, arguments.Params());
  }

  HRESULT Fire_GetPrinterShareListComplete(const VARIANT& PrinterShares) {
    KestAXLib::EventArguments arguments;
    arguments.AddVariant(PrinterShares);
    return KestAXLib::FireToSinks(m_connectionPoint, 4, arguments.Params());
  }

  HRESULT Fire_GetNetworkWorkgroupsComplete(const VARIANT& Workgroups) {
    KestAXLib::EventArguments arguments;
    arguments.AddVariant(Workgroups);
    return KestAXLib::FireToSinks(m_connectionPoint, 5, arguments.Params());
  }

  HRESULT Fire_OnMapNetworkPrinterComplete(SHORT Status, BSTR ServerName, BSTR ServerPrinterName, BSTR LocalPrinterName) {
    KestAXLib::EventArguments arguments;
    arguments.AddShort(Status);
    arguments.AddBstr(ServerName);
    arguments.AddBstr(ServerPrinterName);
    arguments.AddBstr(LocalPrinterName);
    return KestAXLib::FireToSinks(m_connectionPoint, 6, arguments.Params());
  }

  HRESULT Fire_OnUnMapNetworkPrinterComplete(SHORT Status, BSTR ServerName, BSTR PrinterName) {
    KestAXLib::EventArguments arguments;
    arguments.AddShort(Status);
    arguments.AddBstr(ServerName);
    arguments.AddBstr(PrinterName);
    return KestAXLib::FireToSinks(m_connectionPoint, 7, arguments.Params());
  }

  HRESULT Fire_OnMapNetworkShareComplete(SHORT Status, BSTR RemoteShare, BSTR LocalDrive) {
    KestAXLib::EventArguments arguments;
    arguments.AddShort(Status);
    arguments.AddBstr(RemoteShare);
    arguments.AddBstr(LocalDrive);
    return KestAXLib::FireToSinks(m_connectionPoint, 8, arguments.Params());
  }

  HRESULT Fire_OnUnMapNetworkShareComplete(SHORT Status, BSTR LocalDrive) {
    KestAXLib::EventArguments arguments;
    arguments.AddShort(Status);
    arguments.AddBstr(LocalDrive);
    return KestAXLib::FireToSinks(m_connectionPoint, 9, arguments.Params());
  }

  HRESULT Fire_OnCreateFileShareComplete(SHORT Status, BSTR FolderPath, BSTR ShareName) {
    KestAXLib::EventArguments arguments;
    arguments.AddShort(Status);
    arguments.AddBstr(FolderPath);
    arguments.AddBstr(ShareName);
    return KestAXLib::FireToSinks(m_connectionPoint, 10, arguments.Params());
  }

  HRESULT Fire_OnDeleteFileShareComplete(SHORT Status, BSTR ShareName) {
    KestAXLib::EventArguments arguments;
    arguments.AddShort(Status);
    arguments.AddBstr(ShareName);
    return KestAXLib::FireToSinks(m_connectionPoint, 11, arguments.Params());
  }

  HRESULT Fire_OnUpdateFileShareAccessComplete(SHORT Status, BSTR ShareName, LONG Access) {
    KestAXLib::EventArguments arguments;
    arguments.AddShort(Status);
    arguments.AddBstr(ShareName);
    arguments.AddLong(Access);
    return KestAXLib::FireToSinks(m_connectionPoint, 12, arguments.Params());
  }

  ConnectionPoint& EventConnectionPoint() { return m_connectionPoint; }

 protected:
  ConnectionPoint m_connectionPoint;
};

template <class T, class ConnectionPoint = KestAXLib::KestConnectionPointImplMT<T, &IID_IKestNetWindowsNetwork2Events>>
class CProxy_IKestNetWindowsNetwork2Events {
 public:
  explicit CProxy_IKestNetWindowsNetwork2Events(IConnectionPointContainer* container) : m_connectionPoint(container) {}

  HRESULT Fire_OnMapNetworkShareComplete(SHORT Status, BSTR RemoteShare, BSTR LocalDrive) {
    KestAXLib::EventArguments arguments;
    arguments.AddShort(Status);
    arguments.AddBstr(RemoteShare);
    arguments.AddBstr(LocalDrive);
    return KestAXLib::FireToSinks(m_connectionPoint, 1, arguments.Params());
  }

  ConnectionPoint& EventConnectionPoint() { return m_connectionPoint; }

 protected:
  ConnectionPoint m_connectionPoint;
};
