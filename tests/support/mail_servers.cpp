#include "tests/support/mail_servers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <thread>

namespace kestnet::testing {
namespace {

namespace fs = std::filesystem;

// The account that owns the Maildirs: dovecot reads them and postfix's
// virtual delivery agent writes them as this user, never as root.
constexpr const char* kMailOwner = "nobody";
// Postfix's own account (created by its package), which owns the data
// directory and reaches dovecot's authentication socket.
constexpr const char* kPostfixOwner = "postfix";
constexpr auto kPollInterval = std::chrono::milliseconds(50);
// Starts on ports another process took in the meantime, before Start gives up.
constexpr int kStartAttempts = 3;

struct Owner {
  uid_t uid = 0;
  gid_t gid = 0;
};

bool LookUpOwner(const char* p_name, Owner& p_owner) {
  const passwd* entry = getpwnam(p_name);
  if (entry == nullptr) return false;
  p_owner = {entry->pw_uid, entry->pw_gid};
  return true;
}

bool WriteFile(const fs::path& p_path, const std::string& p_text) {
  std::ofstream file(p_path, std::ios::binary | std::ios::trunc);
  file << p_text;
  file.flush();
  return static_cast<bool>(file);
}

bool ChangeOwner(const fs::path& p_path, const Owner& p_owner) {
  return chown(p_path.c_str(), p_owner.uid, p_owner.gid) == 0;
}

// Ports no one listens on now, all different: each probe socket stays bound
// until every port is picked. Another process can still take one before the
// server binds it (the fixtures of tests run at once pick theirs at the same
// moment); that server then fails to start, and Start tries again.
bool PickFreePorts(std::initializer_list<std::uint16_t*> p_ports) {
  std::vector<int> probes;
  for (std::uint16_t* port : p_ports) {
    *port = 0;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) break;
    probes.push_back(fd);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      break;
    }
    *port = ntohs(address.sin_port);
  }
  for (const int fd : probes) close(fd);
  return std::none_of(p_ports.begin(), p_ports.end(), [](const std::uint16_t* p_port) { return *p_port == 0; });
}

// What these servers, and no others, say in their greetings: the name of
// their directory is unique on the machine. A port taken by another
// fixture's server then never passes for this fixture's.
std::string Signature(const fs::path& p_root) { return "KestNet test servers " + p_root.filename().string(); }

// True when a client connecting to the port is greeted with a line that
// starts with p_greeting ("+OK", "220").
bool Greets(std::uint16_t p_port, const std::string& p_greeting) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(p_port);
  std::string received;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    pollfd readable{fd, POLLIN, 0};
    char buffer[256];
    while (received.find('\n') == std::string::npos && poll(&readable, 1, 1000) == 1) {
      const ssize_t length = recv(fd, buffer, sizeof buffer, 0);
      if (length <= 0) break;
      received.append(buffer, static_cast<std::size_t>(length));
    }
  }
  close(fd);
  return received.rfind(p_greeting, 0) == 0;
}

bool IsPlainName(const std::string& p_name) {
  return !p_name.empty() && std::all_of(p_name.begin(), p_name.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '.' || c == '_' || c == '-';
  });
}

// The TLS part of a server's configuration: the ports, and the certificates
// by address.
struct TlsSetup {
  std::uint16_t pop3sPort = 0;
  std::uint16_t smtpsPort = 0;
  std::uint16_t submissionPort = 0;
  const TestCertificates* certificates = nullptr;
};

std::string ListenAddresses() {
  std::string addresses;
  for (ServerCertificate which : kAllServerCertificates) {
    addresses += (addresses.empty() ? "" : ", ") + TestCertificates::Address(which);
  }
  return addresses;
}

std::string DovecotTlsConfiguration(const TlsSetup& p_tls) {
  const TestCertificates& certificates = *p_tls.certificates;
  const auto files = [&](ServerCertificate p_which, const std::string& p_indent) {
    return p_indent + "ssl_cert = <" + certificates.CertificateFile(p_which).string() + "\n" + p_indent +
           "ssl_key = <" + certificates.KeyFile(p_which).string() + "\n";
  };
  std::string text = "ssl = yes\n" + files(ServerCertificate::kValid, "") + "auth_verbose = yes\n";
  for (ServerCertificate which : kAllServerCertificates) {
    if (which == ServerCertificate::kValid) continue;
    text += "local " + TestCertificates::Address(which) + " {\n" + files(which, "  ") + "}\n";
  }
  return text;
}

std::string DovecotConfiguration(const fs::path& p_root, std::uint16_t p_pop3Port, const Owner& p_mailOwner,
                                 const TlsSetup* p_pTls) {
  const std::string root = p_root.string();
  const std::string addresses = p_pTls != nullptr ? ListenAddresses() : "127.0.0.1";
  return "# POP3 on loopback for the accounts of dovecot/passwd, nothing else.\n"
         "base_dir = " + root + "/dovecot/run\n"
         "state_dir = " + root + "/dovecot/state\n"
         "instance_name = kestnet-test-" + std::to_string(p_pop3Port) + "\n"
         "login_greeting = " + Signature(p_root) + "\n"
         "log_path = " + root + "/dovecot.log\n"
         "protocols = pop3\n"
         "listen = " + addresses + "\n" +
         (p_pTls != nullptr ? DovecotTlsConfiguration(*p_pTls) : "ssl = no\n") +
         "disable_plaintext_auth = no\n"
         "auth_mechanisms = plain login\n"
         // A refused password is answered at once: tests try wrong ones on purpose.
         "auth_failure_delay = 0\n"
         "mail_location = maildir:" + root + "/mail/%n/Maildir\n"
         "passdb {\n"
         "  driver = passwd-file\n"
         "  args = scheme=PLAIN username_format=%n " + root + "/dovecot/passwd\n"
         "}\n"
         "userdb {\n"
         "  driver = static\n"
         "  args = uid=" + std::to_string(p_mailOwner.uid) + " gid=" + std::to_string(p_mailOwner.gid) +
         " home=" + root + "/mail/%n\n"
         "}\n"
         "service pop3-login {\n"
         "  inet_listener pop3 {\n"
         "    address = " + addresses + "\n"
         "    port = " + std::to_string(p_pop3Port) + "\n"
         "  }\n" +
         (p_pTls != nullptr ? "  inet_listener pop3s {\n"
                              "    address = " + addresses + "\n"
                              "    port = " + std::to_string(p_pTls->pop3sPort) + "\n"
                              "    ssl = yes\n"
                              "  }\n"
                            : "") +
         "}\n"
         // Nor are later log-ins from the same address slowed down (the
         // authentication penalty is off without its anvil socket).
         "service anvil {\n"
         "  unix_listener anvil-auth-penalty {\n"
         "    mode = 0\n"
         "  }\n"
         "}\n"
         "service auth {\n"
         "  unix_listener auth-postfix {\n"
         "    mode = 0660\n"
         "    user = " + kPostfixOwner + "\n"
         "    group = " + kPostfixOwner + "\n"
         "  }\n"
         "}\n";
}

std::string PostfixMainConfiguration(const fs::path& p_root, const Owner& p_mailOwner) {
  const std::string root = p_root.string();
  const std::string domain = MailServers::kDomain;
  return "# Accepts mail for " + domain + " on loopback and delivers it into\n"
         "# the Maildirs dovecot serves; relays nothing, looks nothing up in DNS.\n"
         "compatibility_level = 3.6\n"
         "queue_directory = " + root + "/postfix/queue\n"
         "data_directory = " + root + "/postfix/data\n"
         "maillog_file = " + root + "/postfix.log\n"
         "maillog_file_prefixes = " + root + "\n"
         "myhostname = mail." + domain + "\n"
         "smtpd_banner = $myhostname ESMTP " + Signature(p_root) + "\n"
         "mydomain = " + domain + "\n"
         "myorigin = " + domain + "\n"
         // The test domain is a virtual mailbox domain: postfix delivers
         // into Maildirs of its own choosing, without system accounts.
         "mydestination =\n"
         "inet_interfaces = loopback-only\n"
         "inet_protocols = ipv4\n"
         "mynetworks =\n"
         "smtp_dns_support_level = disabled\n"
         "smtpd_peername_lookup = no\n"
         "alias_maps =\n"
         "alias_database =\n"
         "local_recipient_maps =\n"
         "biff = no\n"
         "default_transport = error:this server delivers nowhere else\n"
         "relay_transport = error:this server delivers nowhere else\n"
         "virtual_mailbox_domains = " + domain + "\n"
         "virtual_mailbox_base = " + root + "/mail\n"
         "virtual_mailbox_maps = texthash:" + root + "/postfix/conf/mailboxes\n"
         "virtual_uid_maps = static:" + std::to_string(p_mailOwner.uid) + "\n"
         "virtual_gid_maps = static:" + std::to_string(p_mailOwner.gid) + "\n"
         // The round trip sends messages of several MiB.
         "message_size_limit = 0\n"
         "virtual_mailbox_limit = 0\n"
         "smtpd_sasl_auth_enable = yes\n"
         "smtpd_sasl_type = dovecot\n"
         "smtpd_sasl_path = " + root + "/dovecot/run/auth-postfix\n"
         "smtpd_relay_restrictions = permit_sasl_authenticated, reject_unauth_destination\n"
         "smtpd_tls_security_level = none\n"
         // A TLS session of the services that have one is logged.
         "smtpd_tls_loglevel = 1\n";
}

// Only the services smtpd and virtual delivery need, none chrooted (the
// chroot would lack the sockets and Maildirs outside the queue).
// SMTPS (wrapper mode) and submission with STARTTLS on every address of the
// test certificates, each with its own certificate.
std::string PostfixTlsServices(const TlsSetup& p_tls) {
  const TestCertificates& certificates = *p_tls.certificates;
  std::string text;
  for (ServerCertificate which : kAllServerCertificates) {
    const std::string files = " -o smtpd_tls_cert_file=" + certificates.CertificateFile(which).string() +
                              " -o smtpd_tls_key_file=" + certificates.KeyFile(which).string() + "\n";
    const std::string address = TestCertificates::Address(which);
    text += address + ":" + std::to_string(p_tls.smtpsPort) +
            " inet n - n - - smtpd -o smtpd_tls_wrappermode=yes -o smtpd_tls_security_level=encrypt" + files;
    text += address + ":" + std::to_string(p_tls.submissionPort) +
            " inet n - n - - smtpd -o smtpd_tls_security_level=may" + files;
  }
  return text + "tlsmgr    unix - - n 1000? 1 tlsmgr\n";
}

std::string PostfixMasterConfiguration(std::uint16_t p_smtpPort, const TlsSetup* p_pTls) {
  return (p_pTls != nullptr ? PostfixTlsServices(*p_pTls) : std::string()) + "127.0.0.1:" +
         std::to_string(p_smtpPort) +
         " inet n - n - - smtpd\n"
         "cleanup   unix n - n -   0 cleanup\n"
         "qmgr      unix n - n 300 1 qmgr\n"
         "rewrite   unix - - n -   - trivial-rewrite\n"
         "bounce    unix - - n -   0 bounce\n"
         "defer     unix - - n -   0 bounce\n"
         "trace     unix - - n -   0 bounce\n"
         "verify    unix - - n -   1 verify\n"
         "proxymap  unix - - n -   - proxymap\n"
         "showq     unix n - n -   - showq\n"
         "error     unix - - n -   - error\n"
         "retry     unix - - n -   - error\n"
         "discard   unix - - n -   - discard\n"
         "virtual   unix - n n -   - virtual\n"
         "anvil     unix - - n -   1 anvil\n"
         "scache    unix - - n -   1 scache\n"
         "postlog   unix-dgram n - n - 1 postlogd\n";
}

}  // namespace

MailServers::MailServers() : m_directory("kestnet-mail") {}

MailServers::~MailServers() { Stop(); }

std::string MailServers::Unavailable() {
  if (geteuid() != 0) return "the mail servers run as root (they bind, change users and own Maildirs)";
  return {};
}

fs::path MailServers::Maildir(const std::string& p_user) const { return m_directory.Path() / "mail" / p_user / "Maildir"; }

bool MailServers::WriteConfiguration(const std::vector<MailAccount>& p_accounts, std::string& p_error) const {
  Owner mailOwner;
  Owner postfixOwner;
  if (!LookUpOwner(kMailOwner, mailOwner) || !LookUpOwner(kPostfixOwner, postfixOwner)) {
    p_error = std::string("the accounts ") + kMailOwner + " and " + kPostfixOwner + " must exist";
    return false;
  }
  const fs::path& root = m_directory.Path();
  TlsSetup tlsSetup{m_pop3sPort, m_smtpsPort, m_submissionPort, &m_certificates};
  const TlsSetup* tls = m_bTls ? &tlsSetup : nullptr;
  std::string passwords;
  std::string mailboxes;
  for (const MailAccount& account : p_accounts) {
    if (!IsPlainName(account.user) || account.password.find_first_of(std::string(":\r\n\0", 4)) != std::string::npos) {
      p_error = "unusable mail account <" + account.user + ">";
      return false;
    }
    passwords += account.user + ":{PLAIN}" + account.password + "::::::\n";
    mailboxes += Address(account.user) + " " + account.user + "/Maildir/\n";
  }
  std::error_code error;
  for (const char* directory : {"dovecot/run", "dovecot/state", "postfix/conf", "postfix/queue", "postfix/data"}) {
    fs::create_directories(root / directory, error);
  }
  for (const MailAccount& account : p_accounts) {
    for (const char* directory : {"new", "cur", "tmp"}) fs::create_directories(Maildir(account.user) / directory, error);
  }
  // The servers' unprivileged processes must reach their parts of the tree.
  fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec, error);
  bool owned = !error && ChangeOwner(root / "postfix/data", postfixOwner);
  for (const auto& entry : fs::recursive_directory_iterator(root / "mail", error)) {
    owned = owned && ChangeOwner(entry.path(), mailOwner);
  }
  owned = owned && ChangeOwner(root / "mail", mailOwner);
  if (!owned || error) {
    p_error = "the mail servers' directories could not be prepared";
    return false;
  }
  if (!WriteFile(root / "dovecot/passwd", passwords) ||
      !WriteFile(root / "dovecot/dovecot.conf", DovecotConfiguration(root, m_pop3Port, mailOwner, tls)) ||
      !WriteFile(root / "postfix/conf/main.cf", PostfixMainConfiguration(root, mailOwner)) ||
      !WriteFile(root / "postfix/conf/master.cf", PostfixMasterConfiguration(m_smtpPort, tls)) ||
      !WriteFile(root / "postfix/conf/mailboxes", mailboxes)) {
    p_error = "the mail servers' configuration could not be written";
    return false;
  }
  return true;
}

bool MailServers::Start(const std::vector<MailAccount>& p_accounts, std::string& p_error,
                        std::chrono::milliseconds p_readyTimeout) {
  Stop();
  if (const std::string reason = Unavailable(); !reason.empty()) {
    p_error = reason;
    return false;
  }
  const std::string dovecot = ForegroundProcess::FindBinary("dovecot");
  const std::string postfix = ForegroundProcess::FindBinary("postfix");
  if (dovecot.empty() || postfix.empty()) {
    p_error = "dovecot or postfix is not installed (Debian packages dovecot-core, dovecot-pop3d, postfix)";
    return false;
  }
  if (m_directory.Path().empty()) {
    p_error = "no temporary directory for the mail servers";
    return false;
  }
  if (m_bTls && !m_certificates.Make(m_directory.Path() / "tls", p_error)) return false;
  for (int attempt = 1;; ++attempt) {
    p_error.clear();
    if (StartOnFreePorts(p_accounts, dovecot, postfix, p_readyTimeout, p_error)) return true;
    if (attempt == kStartAttempts || p_error.find("Address already in use") == std::string::npos) return false;
  }
}

bool MailServers::StartOnFreePorts(const std::vector<MailAccount>& p_accounts, const std::string& p_dovecot,
                                   const std::string& p_postfix, std::chrono::milliseconds p_readyTimeout,
                                   std::string& p_error) {
  const fs::path& root = m_directory.Path();
  std::error_code error;
  for (const char* log : {"dovecot.log", "postfix.log"}) fs::remove(root / log, error);
  if (!PickFreePorts({&m_pop3Port, &m_smtpPort, &m_pop3sPort, &m_smtpsPort, &m_submissionPort})) {
    p_error = "no free loopback port";
    return false;
  }
  if (!WriteConfiguration(p_accounts, p_error)) return false;
  const auto deadline = std::chrono::steady_clock::now() + p_readyTimeout;
  const std::string signature = Signature(root);
  // Dovecot first: postfix asks its authentication socket.
  const bool started =
      StartServer(m_dovecot, {p_dovecot, "-F", "-c", (root / "dovecot/dovecot.conf").string()},
                  root / "dovecot.out", m_pop3Port, "+OK " + signature, deadline, p_error) &&
      StartServer(m_postfix, {p_postfix, "-c", (root / "postfix/conf").string(), "start-fg"}, root / "postfix.out",
                  m_smtpPort, "220 mail." + std::string(kDomain) + " ESMTP " + signature, deadline, p_error);
  if (!started) {
    p_error += "\n" + ReadLogs();
    Stop();
  }
  return started;
}

bool MailServers::StartServer(ForegroundProcess& p_process, const std::vector<std::string>& p_arguments,
                              const fs::path& p_log, std::uint16_t p_port, const std::string& p_greeting,
                              std::chrono::steady_clock::time_point p_deadline, std::string& p_error) {
  if (!p_process.Start(p_arguments, p_log, p_error)) return false;
  while (!Greets(p_port, p_greeting)) {
    if (!p_process.IsRunning()) {
      p_error = p_arguments[0] + " ended before it greeted a client";
      return false;
    }
    if (std::chrono::steady_clock::now() >= p_deadline) {
      p_error = p_arguments[0] + " did not greet a client in time";
      return false;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

pid_t MailServers::PostfixMasterPid() const {
  const std::string text = ReadTextFile(m_directory.Path() / "postfix/queue/pid/master.pid");
  return static_cast<pid_t>(std::atoi(text.c_str()));
}

void MailServers::Stop() {
  // start-fg's script waits for postfix's master, which ends its own
  // children when told to go.
  m_postfix.Stop(m_postfix.Pid() > 0 ? PostfixMasterPid() : -1);
  m_dovecot.Stop();
}

bool MailServers::SeedMessage(const std::string& p_user, const std::string& p_message) {
  Owner mailOwner;
  if (!LookUpOwner(kMailOwner, mailOwner)) return false;
  const std::string name = std::to_string(getpid()) + "." + std::to_string(++m_seeded) + ".kestnet-test";
  const fs::path staged = Maildir(p_user) / "tmp" / name;
  std::error_code error;
  if (!WriteFile(staged, p_message) || !ChangeOwner(staged, mailOwner)) return false;
  fs::rename(staged, Maildir(p_user) / "new" / name, error);
  return !error;
}

std::size_t MailServers::MessageCount(const std::string& p_user) const {
  std::size_t count = 0;
  std::error_code error;
  for (const char* directory : {"new", "cur"}) {
    for (fs::directory_iterator entry(Maildir(p_user) / directory, error), end; !error && entry != end;
         entry.increment(error)) {
      ++count;
    }
  }
  return count;
}

bool MailServers::WaitForMessages(const std::string& p_user, std::size_t p_count,
                                  std::chrono::milliseconds p_timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + p_timeout;
  while (MessageCount(p_user) < p_count) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

void MailServers::EmptyMailbox(const std::string& p_user) {
  std::vector<fs::path> messages;
  std::error_code error;
  for (const char* directory : {"new", "cur"}) {
    for (fs::directory_iterator entry(Maildir(p_user) / directory, error), end; !error && entry != end;
         entry.increment(error)) {
      messages.push_back(entry->path());
    }
  }
  for (const fs::path& message : messages) fs::remove(message, error);
}

std::string MailServers::ReadLogs() const {
  std::string logs;
  for (const char* name : {"dovecot.out", "dovecot.log", "postfix.out", "postfix.log"}) {
    logs += std::string("--- ") + name + "\n" + ReadTextFile(m_directory.Path() / name);
  }
  return logs;
}

bool MailServers::WaitForLogLine(const std::string& p_text, std::chrono::milliseconds p_timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + p_timeout;
  while (ReadLogs().find(p_text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

namespace {

// SharedMailServers': made by Start, ended by Stop.
std::unique_ptr<MailServers> g_sharedServers;
std::string g_sharedStartError;

}  // namespace

void SharedMailServers::Start() {
  if (!MailServers::Unavailable().empty()) return;
  g_sharedServers = std::make_unique<MailServers>();
  g_sharedServers->EnableTls();
  g_sharedStartError.clear();
  if (g_sharedServers->Start({{kMailSender, kMailPassword}, {kMailRecipient, kMailPassword},
                              {kMailCopyRecipient, kMailPassword}},
                             g_sharedStartError)) {
    setenv("SSL_CERT_FILE", g_sharedServers->Certificates().CaFile().c_str(), 1);
  }
}

void SharedMailServers::Stop() {
  unsetenv("SSL_CERT_FILE");
  g_sharedServers.reset();
}

MailServers& SharedMailServers::Servers() { return *g_sharedServers; }

const std::string& SharedMailServers::StartError() { return g_sharedStartError; }

}  // namespace kestnet::testing
