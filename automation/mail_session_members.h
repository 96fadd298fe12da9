// The members the four mail objects forward to their clients in the same
// way, written once: Server, Port, Username, Password, Connected, Ready,
// Connect and Disconnect, each inside the method guard.
//
// An object passes this template to TolLock in place of its interface:
//
//   class CPOP3 : ..., public TolLock<CPOP3, MailSessionMembers<CPOP3, IKestNetPOP3>, &IID_IKestNetPOP3, ...>
//
// It adds no virtual member of its own, so the interface's vtable is
// unchanged. T supplies Identity() (its log class, source file and CLSID),
// Client() (its client, or InvalidObjectException when it has none) and the
// guard names of its Server property (kGetServerName, kPutServerName).
//
// Server and Port are one setting of the clients: each put keeps the other
// half as the client holds it. The clients refuse changes while connected
// and values they cannot use; the guard turns that into E_FAIL with the
// error's name.
#pragma once

#include <memory>
#include <string>

#include "automation/mail_object_support.h"
#include "automation/method_guard.h"
#include "net/sockets/set_manager.h"
#include "runtime/exceptions.h"

namespace KestAXLib {

// A client's settings, whichever way it hands them out: the plain clients
// fill out-parameters, the secure ones return their values.
struct MailServerSetting {
  std::string host;
  DWORD port = 0;
};

template <class Client>
MailServerSetting ServerOf(Client& client) {
  MailServerSetting setting;
  if constexpr (requires { client.GetPort(); }) {
    setting.host = client.GetServer();
    setting.port = client.GetPort();
  } else {
    client.GetServer(setting.host, setting.port);
  }
  return setting;
}

template <class Client>
std::string UserOf(Client& client) {
  if constexpr (requires { client.GetUser().size(); }) {
    return client.GetUser();
  } else {
    std::string user;
    client.GetUser(user);
    return user;
  }
}

template <class Client>
std::string PasswordOf(Client& client) {
  if constexpr (requires { client.GetPassword().size(); }) {
    return client.GetPassword();
  } else {
    std::string password;
    client.GetPassword(password);
    return password;
  }
}

// A mail object's client and the socket layer it runs on: made with the
// object, started by FinalConstruct, stopped by FinalRelease.
template <class Client>
class MailClientHolder {
 public:
  MailClientHolder() = default;
  ~MailClientHolder() { Stop(); }
  MailClientHolder(const MailClientHolder&) = delete;
  MailClientHolder& operator=(const MailClientHolder&) = delete;

  void Create() { m_client = std::make_unique<Client>(); }

  // Starts the socket layer and registers listener with the client. S_FALSE,
  // with nothing registered, when the socket layer does not start: the
  // object is still made, and its commands then fail in the client.
  template <class Listener>
  HRESULT Start(Listener* listener) {
    m_bSocketsInitialized = KestNet::InitializeSockets();
    if (!m_bSocketsInitialized) return S_FALSE;
    if (m_client != nullptr) m_client->SetListener(listener);
    return S_OK;
  }

  // Destroys the client, which closes a connection still open, then lets
  // the socket layer go. Doing it again does nothing.
  void Stop() {
    m_client.reset();
    if (m_bSocketsInitialized) {
      m_bSocketsInitialized = false;
      KestNet::UninitializeSockets();
    }
  }

  // Throws InvalidObjectException when the client could not be made.
  Client& Get() {
    if (m_client == nullptr) throw KestBase::InvalidObjectException();
    return *m_client;
  }

 private:
  std::unique_ptr<Client> m_client;
  bool m_bSocketsInitialized = false;
};

template <class T, class Interface>
class MailSessionMembers : public Interface {
 public:
  STDMETHODIMP get_Server(BSTR* pVal) override {
    return Get(T::kGetServerName, pVal, [](auto& client) { return NewPropertyText(ServerOf(client).host); });
  }
  STDMETHODIMP put_Server(BSTR newVal) override {
    return Run(T::kPutServerName,
               [&](auto& client) { client.SetServer(NarrowText(newVal), ServerOf(client).port); });
  }
  STDMETHODIMP get_Port(LONG* pVal) override {
    return Get("get_Port", pVal, [](auto& client) { return static_cast<LONG>(ServerOf(client).port); });
  }
  STDMETHODIMP put_Port(LONG newVal) override {
    // A negative port becomes a number far beyond 65535, which the client refuses.
    return Run("put_Port", [&](auto& client) { client.SetServer(ServerOf(client).host, static_cast<DWORD>(newVal)); });
  }
  STDMETHODIMP get_Username(BSTR* pVal) override {
    return Get("get_Username", pVal, [](auto& client) { return NewPropertyText(UserOf(client)); });
  }
  STDMETHODIMP put_Username(BSTR newVal) override {
    return Run("put_Username", [&](auto& client) { client.SetUser(NarrowText(newVal)); });
  }
  STDMETHODIMP get_Password(BSTR* pVal) override {
    return Get("get_Password", pVal, [](auto& client) { return NewPropertyText(PasswordOf(client)); });
  }
  STDMETHODIMP put_Password(BSTR newVal) override {
    return Run("put_Password", [&](auto& client) { client.SetPassword(NarrowText(newVal)); });
  }
  STDMETHODIMP get_Connected(VARIANT_BOOL* pVal) override {
    return Get("get_Connected", pVal,
               [](auto& client) { return client.IsConnected() ? VARIANT_TRUE : VARIANT_FALSE; });
  }
  STDMETHODIMP get_Ready(VARIANT_BOOL* pVal) override {
    return Get("get_Ready", pVal, [](auto& client) { return client.IsReady() ? VARIANT_TRUE : VARIANT_FALSE; });
  }
  STDMETHODIMP Connect() override {
    return Run("Connect", [](auto& client) { client.Connect(); });
  }
  STDMETHODIMP Disconnect() override {
    return Run("Disconnect", [](auto& client) { client.Disconnect(); });
  }

 protected:
  ~MailSessionMembers() = default;

  // A member's body with the object's client, inside the guard.
  template <typename Body>
  HRESULT Run(const char* methodName, Body&& body) {
    return GuardedMethod(T::Identity(), methodName, [&] { body(static_cast<T*>(this)->Client()); });
  }

  // A getter: the output check, then the value read from the client.
  template <typename Value, typename Read>
  HRESULT Get(const char* methodName, Value* pVal, Read&& read) {
    return Run(methodName, [&](auto& client) {
      CheckOutputPointer(T::Identity(), methodName, pVal);
      *pVal = read(client);
    });
  }

  // A constant getter: the output check, then the value.
  HRESULT GetConstant(const char* methodName, DWORD value, LONG* pVal) {
    return GuardedMethod(T::Identity(), methodName, [&] {
      CheckOutputPointer(T::Identity(), methodName, pVal);
      *pVal = static_cast<LONG>(value);
    });
  }
};

// The secure objects' members besides: the TLS mode and the certificate
// names the client checks the server's certificate against.
template <class T, class Interface>
class SecureMailSessionMembers : public MailSessionMembers<T, Interface> {
 public:
  STDMETHODIMP get_UseSSL(VARIANT_BOOL* pVal) override {
    return this->Get("get_UseSSL", pVal, [](auto& client) { return client.GetUseSSL() ? VARIANT_TRUE : VARIANT_FALSE; });
  }
  // TLS from the first byte only for VARIANT_TRUE itself: scripts that pass
  // 1 for true have always had the plain protocol (upgraded when offered).
  STDMETHODIMP put_UseSSL(VARIANT_BOOL newVal) override {
    return this->Run("put_UseSSL", [&](auto& client) { client.SetUseSSL(newVal == VARIANT_TRUE); });
  }
  STDMETHODIMP get_CertificateSubject(BSTR* pVal) override {
    return this->Get("get_CertificateSubject", pVal,
                     [](auto& client) { return NewPropertyText(client.GetCertificateSubject()); });
  }
  STDMETHODIMP put_CertificateSubject(BSTR newVal) override {
    return this->Run("put_CertificateSubject", [&](auto& client) { client.SetCertificateSubject(NarrowText(newVal)); });
  }
  STDMETHODIMP get_CertificateIssuer(BSTR* pVal) override {
    return this->Get("get_CertificateIssuer", pVal,
                     [](auto& client) { return NewPropertyText(client.GetCertificateIssuer()); });
  }
  STDMETHODIMP put_CertificateIssuer(BSTR newVal) override {
    return this->Run("put_CertificateIssuer", [&](auto& client) { client.SetCertificateIssuer(NarrowText(newVal)); });
  }

 protected:
  ~SecureMailSessionMembers() = default;
};

}  // namespace KestAXLib
