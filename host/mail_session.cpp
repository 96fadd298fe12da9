#include "host/mail_session.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>

#include "host/script_apartment.h"

namespace kestnet::host {
namespace {

constexpr long kDefaultTimeout = 120000;

// The first script arguments, in this order; the verb's own follow. They are
// read as the array (args[i]): a call (args(i)) converts the text again, and a
// message body may be megabytes.
// Status names come from the object's own constants, so the texts printed
// are the names scripts compare against.
constexpr const char* kSessionPrelude = R"JS(
var args = WScript.Arguments;
var session = {
  progid: args[0], server: args[1], port: Number(args[2]), user: args[3], password: args[4],
  security: args[5], certificateSubject: args[6], certificateIssuer: args[7], timeout: Number(args[8]),
  ready: false, closed: false, quitting: false, failure: ""
};
var kVerbArguments = 9;
var mail = null;
// Status values by name, from the object's constants `names` (set by Run).
var statusNames = {};
function NameStatuses(names) {
  for (var i = 0; i < names.length; ++i) statusNames[mail[names[i]]] = names[i];
}
function Describe(status, response) {
  return (statusNames[status] || "status " + status) + (response ? " (" + response + ")" : "");
}
// The first failure is the one reported: what follows it is its consequence.
function Fail(text) { if (session.failure == "") session.failure = text; }
function Check(step, status, response) {
  if (status != 0) Fail(step + ": " + Describe(status, response));
  return status == 0;
}
function Closed(status) {
  session.closed = true;
  if (!session.quitting) Fail("the connection to " + session.server + " closed: " + Describe(status, ""));
}
function Rejected(status, issuer, subject) {
  Fail("the server's certificate was rejected: " + status + " (issuer \"" + issuer + "\", subject \"" + subject + "\")");
}
// Waits for `condition` while the events come in; false (with the failure
// recorded) on a failure, a lost connection or the time-out.
function Await(condition, step) {
  var start = Date.now(), shown = 0;
  while (!condition()) {
    if (session.failure != "") return false;
    if (session.closed) { Fail(step + ": the connection closed"); return false; }
    var waited = Date.now() - start;
    if (waited >= session.timeout) { Fail(step + ": no answer within " + session.timeout + " ms"); return false; }
    if (Math.floor(waited / 1000) > shown) { shown = Math.floor(waited / 1000); Host.Progress(step + ", " + shown + " s"); }
    Host.WaitForEvents(Math.min(1000 - waited % 1000, session.timeout - waited));
  }
  return true;
}
function Open() {
  if (session.security != "plain") {
    mail.UseSSL = session.security == "tls";
    if (session.certificateSubject != "") mail.CertificateSubject = session.certificateSubject;
    if (session.certificateIssuer != "") mail.CertificateIssuer = session.certificateIssuer;
  }
  mail.Server = session.server;
  mail.Port = session.port;
  if (session.user != "") mail.Username = session.user;
  if (session.password != "") mail.Password = session.password;
  var step = "connecting to " + session.server + " port " + session.port;
  Host.Progress(step);
  mail.Connect();
  return Await(function () { return session.ready; }, step);
}
// Says goodbye when still connected, reports the failure if there was one
// and ends the run with 0 or 1.
function Finish() {
  if (mail != null && !session.closed && mail.Connected) {
    session.quitting = true;
    try { mail.Disconnect(); } catch (e) { session.closed = true; }
    for (var start = Date.now(); !session.closed && Date.now() - start < session.timeout;) {
      Host.WaitForEvents(session.timeout - (Date.now() - start));
    }
  }
  if (session.failure != "") Host.Report(session.failure);
  WScript.Quit(session.failure == "" ? 0 : 1);
}
// Creates the object, learns its status names and runs `main`.
function Run(statusConstants, main) {
  try {
    mail = WScript.CreateObject(session.progid, "Mail_");
    NameStatuses(statusConstants);
    main();
  } catch (e) {
    Fail(e.message || String(e));
  }
  Finish();
}
)JS";

const char* SecurityName(MailSecurity security) {
  constexpr const char* kNames[] = {"plain", "starttls", "tls"};
  return kNames[static_cast<int>(security)];
}

// Reads one line from standard input with echo off; the terminal is given
// back as it was.
bool PromptForPassword(const std::string& prompt, std::string& password) {
  termios saved{};
  if (tcgetattr(STDIN_FILENO, &saved) != 0) return false;
  termios silent = saved;
  silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  silent.c_lflag |= ECHONL;
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent) != 0) return false;
  bool read = static_cast<bool>(std::getline(std::cin, password));
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  return read;
}

}  // namespace

const char* const kPop3SessionHelp =
    "  --server HOST     the POP3 server (required)\n"
    "  --port PORT       default 110, or 995 with --tls\n"
    "  --user NAME       the account to log in as (required)\n"
    "  --tls             TLS from the first byte (POP3S) through KestNetPOP3Ex\n"
    "  --starttls        plain POP3 upgraded with STLS through KestNetPOP3Ex;\n"
    "                    a server that offers no STLS is spoken to unencrypted\n";

const char* const kSmtpSessionHelp =
    "  --server HOST     the SMTP server (required)\n"
    "  --port PORT       default 25; 587 with --starttls, 465 with --tls\n"
    "  --user NAME       log in with AUTH LOGIN as this account (default: no log-in)\n"
    "  --tls             TLS from the first byte (SMTPS) through KestNetSMTPEx\n"
    "  --starttls        plain SMTP upgraded with STARTTLS through KestNetSMTPEx;\n"
    "                    a server that offers no STARTTLS is spoken to unencrypted\n";

std::vector<KnownOption> MailOptions(std::initializer_list<KnownOption> verbOptions) {
  std::vector<KnownOption> options = {
      {"--server", false},         {"--port", false},           {"--user", false},
      {"--tls", false, true},      {"--starttls", false, true}, {"--cert-subject", false},
      {"--cert-issuer", false},    {"--timeout", false},        {"--progress", false, true}};
  options.insert(options.end(), verbOptions.begin(), verbOptions.end());
  return options;
}

bool ReadMailSession(const ParsedVerbArguments& parsed, const MailProtocol& protocol, MailSession& session,
                     std::string& error) {
  session.server = OptionValue(parsed, "--server");
  if (session.server.empty()) {
    error = "name the server with --server";
    return false;
  }
  bool tls = HasOption(parsed, "--tls");
  bool startTls = HasOption(parsed, "--starttls");
  if (tls && startTls) {
    error = "--tls and --starttls exclude each other";
    return false;
  }
  session.security = tls ? MailSecurity::kImplicitTls : startTls ? MailSecurity::kStartTls : MailSecurity::kPlain;
  session.certificateSubject = OptionValue(parsed, "--cert-subject");
  session.certificateIssuer = OptionValue(parsed, "--cert-issuer");
  if (session.security == MailSecurity::kPlain &&
      (HasOption(parsed, "--cert-subject") || HasOption(parsed, "--cert-issuer"))) {
    error = "--cert-subject and --cert-issuer need --tls or --starttls";
    return false;
  }
  std::uint16_t defaultPort = tls ? protocol.tlsPort : startTls ? protocol.startTlsPort : protocol.plainPort;
  if (!IntegerOption(parsed, "--port", defaultPort, session.port, error)) return false;
  if (session.port < 1 || session.port > 65535) {
    error = "--port must be between 1 and 65535";
    return false;
  }
  if (!IntegerOption(parsed, "--timeout", kDefaultTimeout, session.timeout, error)) return false;
  if (session.timeout <= 0) {
    error = "--timeout must be positive";
    return false;
  }
  session.progress = HasOption(parsed, "--progress") || isatty(STDERR_FILENO) == 1;
  session.user = OptionValue(parsed, "--user");
  if (session.user.empty()) {
    if (protocol.userRequired) {
      error = "name the account with --user";
      return false;
    }
    return true;
  }
  if (const char* password = std::getenv(kMailPasswordVariable); password != nullptr) {
    session.password = password;
    return true;
  }
  if (isatty(STDIN_FILENO) == 1 &&
      PromptForPassword("Password for " + session.user + " at " + session.server + ": ", session.password)) {
    return true;
  }
  error = std::string("no password: set ") + kMailPasswordVariable + " or run at a terminal to be asked";
  return false;
}

int RunMailScript(const MailProtocol& protocol, const MailSession& session, const char* verbScript,
                  std::vector<std::string> verbArguments, std::vector<HostFunction> hostFunctions) {
  ProgressLine progress(session.progress);
  const char* verb = protocol.verb;
  for (HostFunction& function : ReportAndProgressFunctions(progress, verb)) hostFunctions.push_back(std::move(function));
  ScriptOptions options;
  options.scriptPath = std::string("kestnet ") + verb;
  options.source = std::string(kSessionPrelude) + verbScript;
  options.arguments = {session.security == MailSecurity::kPlain ? protocol.plainProgId : protocol.secureProgId,
                       session.server,
                       std::to_string(session.port),
                       session.user,
                       session.password,
                       SecurityName(session.security),
                       session.certificateSubject,
                       session.certificateIssuer,
                       std::to_string(session.timeout)};
  options.arguments.insert(options.arguments.end(), std::make_move_iterator(verbArguments.begin()),
                           std::make_move_iterator(verbArguments.end()));
  options.hostFunctions = std::move(hostFunctions);
  return RunScriptInApartment(options, verb);
}

std::string DescribeSize(std::uint64_t bytes) {
  char text[32];
  if (bytes >= 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  } else if (bytes >= 1024) {
    std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024.0);
  } else {
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  }
  return text;
}

}  // namespace kestnet::host
