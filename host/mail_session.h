// What `kestnet pop3` and `kestnet sendmail` share: the server options, the
// password (from the environment or a prompt, never from the command line),
// the choice between the plain and the secure objects, progress on standard
// error, and the part of their scripts that opens and closes a session.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/progress_line.h"
#include "host/script_host.h"
#include "host/verb_options.h"

namespace kestnet::host {

// The environment variable a verb reads the password from.
inline constexpr const char* kMailPasswordVariable = "KESTNET_MAIL_PASSWORD";

// The options every mail verb knows, before its own.
std::vector<KnownOption> MailOptions(std::initializer_list<KnownOption> verbOptions);

// The --help text of the common options, for `protocol` ("POP3" or "SMTP").
extern const char* const kPop3SessionHelp;
extern const char* const kSmtpSessionHelp;

enum class MailSecurity { kPlain, kStartTls, kImplicitTls };

struct MailProtocol {
  const char* verb;            // "pop3"
  const char* plainProgId;     // KestNet.KestNetPOP3
  const char* secureProgId;    // KestNet.KestNetPOP3Ex
  std::uint16_t plainPort;     // 110
  std::uint16_t startTlsPort;  // 110
  std::uint16_t tlsPort;       // 995
  bool userRequired;           // POP3 always logs in; SMTP only with --user
};

struct MailSession {
  std::string server;
  long port = 0;
  std::string user;
  std::string password;
  MailSecurity security = MailSecurity::kPlain;
  std::string certificateSubject;
  std::string certificateIssuer;
  long timeout = 0;
  bool progress = false;  // show progress on standard error
};

// Reads the common options of `parsed` and fetches the password. False with
// `error` set (a usage error) otherwise.
bool ReadMailSession(const ParsedVerbArguments& parsed, const MailProtocol& protocol, MailSession& session,
                     std::string& error);

// Runs `verbScript` after the session prelude, with the session as the first
// script arguments and `verbArguments` after them. The script reaches
// Host.Report(text) (a failure line on standard error), Host.Progress(text)
// and whatever `hostFunctions` add.
int RunMailScript(const MailProtocol& protocol, const MailSession& session, const char* verbScript,
                  std::vector<std::string> verbArguments, std::vector<HostFunction> hostFunctions);

// "1.5 MiB", "812 KiB", "40 bytes".
std::string DescribeSize(std::uint64_t bytes);

}  // namespace kestnet::host
