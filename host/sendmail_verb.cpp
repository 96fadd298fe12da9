// kestnet sendmail --server HOST --from ADDRESS --to ADDRESS... [OPTIONS]
//
// Sends one message through the KestNetSMTP object (KestNetSMTPEx with --tls
// or --starttls), as a script would: the message composed in a
// KestNetMessageData object, Connect, SendMessage when the object is ready,
// Disconnect once the server has taken it.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>

#include "host/mail_session.h"
#include "host/verbs.h"

namespace kestnet::host {
namespace {

constexpr const char* kUsage =
    "usage: kestnet sendmail --server HOST --from ADDRESS --to ADDRESS... [OPTIONS]\n"
    "\n"
    "Sends one message through the KestNetSMTP object.\n"
    "\n"
    "  --from ADDRESS    the sender, a bare address (required)\n"
    "  --to ADDRESS      a recipient; may be repeated or hold a comma list (required)\n"
    "  --cc ADDRESS      a copy recipient; may be repeated or hold a comma list\n"
    "  --bcc ADDRESS     a blind copy recipient, named in no header sent; may be\n"
    "                    repeated or hold a comma list\n"
    "  --subject TEXT    the subject\n"
    "  --text TEXT       the plain-text body\n"
    "  --text-file PATH  the plain-text body read from a file ('-': standard input)\n"
    "  --html TEXT       the HTML body\n"
    "  --html-file PATH  the HTML body read from a file ('-': standard input)\n"
    "                    with both bodies the message is multipart/alternative\n"
    "%s"
    "  --cert-subject TEXT, --cert-issuer TEXT\n"
    "                    the server certificate expected (with --tls or --starttls)\n"
    "  --timeout MS      how long to wait for each answer (default 120000)\n"
    "  --progress        show progress on standard error even when it is not a terminal\n"
    "\n"
    "Bodies are sent Base64-encoded in UTF-8; their line ends become CR LF.\n"
    "Without --tls or --starttls the plain KestNetSMTP object is used and nothing\n"
    "is encrypted. With --user the password is read from the environment\n"
    "variable KESTNET_MAIL_PASSWORD, or asked for when standard input is a\n"
    "terminal; it is never taken from the command line and never printed.\n"
    "\n"
    "The exit code is 0 when the server accepted the message, 1 when sending\n"
    "failed, 2 for bad usage.\n";

constexpr MailProtocol kSmtp = {"sendmail", "KestNet.KestNetSMTP", "KestNet.KestNetSMTPEx", 25, 587, 465, false};

// Verb arguments: From, To, Cc, Subject, text body, HTML body, the bodies'
// size in words, Bcc.
constexpr const char* kScript = R"JS(
var message = {from: args[kVerbArguments], to: args[kVerbArguments + 1], cc: args[kVerbArguments + 2],
               subject: args[kVerbArguments + 3], text: args[kVerbArguments + 4], html: args[kVerbArguments + 5],
               size: args[kVerbArguments + 6], bcc: args[kVerbArguments + 7]};
var kStatusConstants = session.security == "plain"
    ? ["SMTP_SUCCESS", "SMTP_SOCKET_FAILURE", "SMTP_CONNECT_ERROR", "SMTP_TERMINATED", "SMTP_INVALID_ARGS",
       "SMTP_BUSY", "SMTP_INVALID_STATE", "SMTP_UNEXPECTED", "SMTP_AUTH_ERROR"]
    : ["SMTPEX_SUCCESS", "SMTPEX_CONNECT_ERROR", "SMTPEX_TERMINATED", "SMTPEX_INVALID_STATE",
       "SMTPEX_UNEXPECTED"];
var login = "logging in to " + session.server + " as " + session.user;

var sent = null;
function Mail_OnSMTPConnect(status) { Check("connecting to " + session.server + " port " + session.port, status, ""); }
function Mail_OnSMTPHeader(status, response) { Check("greeting of " + session.server, status, response); }
function Mail_OnSMTPHello(status, response) { Check("greeting " + session.server, status, response); }
function Mail_OnSMTPAuthenticationRequest(status, response) { Check(login, status, response); }
function Mail_OnSMTPUserName(status, response) { Check(login, status, response); }
function Mail_OnSMTPPassword(status, response) { Check(login, status, response); }
function Mail_OnSMTPAuthenticated(status) { Check(login, status, ""); }
function Mail_OnSMTPReady() { session.ready = true; }
function Mail_OnSMTPSendComplete(status) { sent = status; }
function Mail_OnSMTPClose(status) { Closed(status); }
function Mail_OnSMTPRejectedServerCertificate(status, issuer, subject) { Rejected(status, issuer, subject); }

function Main() {
  var data = new ActiveXObject("KestNet.KestNetMessageData");
  data.From = message.from;
  data.To = message.to;
  if (message.cc != "") data.Cc = message.cc;
  if (message.bcc != "") data.Bcc = message.bcc;
  if (message.subject != "") data.Subject = message.subject;
  data.TextMessage = message.text;
  data.HtmlMessage = message.html;
  if (!Open()) return;
  var step = "sending " + message.size + " to " + session.server;
  Host.Progress(step);
  mail.SendMessage(data);
  if (!Await(function () { return sent != null; }, step)) return;
  if (!Check("sending the message", sent, "")) return;
  var recipients = [];
  var lists = [message.to, message.cc, message.bcc];
  for (var i = 0; i < lists.length; i++) {
    if (lists[i] != "") recipients.push(lists[i]);
  }
  WScript.Echo("sent to " + recipients.join(", "));
}
Run(kStatusConstants, Main);
)JS";

// The addresses of a repeatable option, each value possibly a comma list,
// as one ", "-separated list; empty entries are an error.
bool JoinAddresses(const ParsedVerbArguments& parsed, const char* name, std::string& joined, std::string& error) {
  auto found = parsed.options.find(name);
  if (found == parsed.options.end()) return true;
  for (const std::string& value : found->second) {
    std::istringstream pieces(value);
    for (std::string piece; std::getline(pieces, piece, ',');) {
      size_t first = piece.find_first_not_of(" \t");
      size_t last = piece.find_last_not_of(" \t");
      if (first == std::string::npos || piece.find_first_of(" \t;<>", first) < last + 1) {
        error = std::string(name) + " takes bare addresses, not '" + value + "'";
        return false;
      }
      joined += (joined.empty() ? "" : ", ") + piece.substr(first, last - first + 1);
    }
  }
  return true;
}

bool ReadAll(const std::string& path, std::string& content, std::string& error) {
  if (path == "-") {
    content.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return true;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot open '" + path + "'";
    return false;
  }
  // A body may be many megabytes: a regular file is read straight into a
  // string of its size; anything else (a pipe, a device) as it comes.
  std::error_code sizeError;
  const std::uintmax_t size = std::filesystem::file_size(path, sizeError);
  if (!sizeError) {
    content.resize(size);
    file.read(content.data(), static_cast<std::streamsize>(size));
    content.resize(static_cast<size_t>(file.gcount()));
  }
  content.append(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (file.bad()) {
    error = "cannot read '" + path + "'";
    return false;
  }
  return true;
}

// Mail lines end in CR LF (RFC 5322 §2.3); a bare LF of a Unix file becomes
// one. Text whose lines already end so is kept as it is.
std::string WithCrLf(std::string text) {
  bool bareLf = false;
  for (size_t end = text.find('\n'); end != std::string::npos && !bareLf; end = text.find('\n', end + 1)) {
    bareLf = end == 0 || text[end - 1] != '\r';
  }
  if (!bareLf) return text;
  std::string converted;
  converted.reserve(text.size() + text.size() / 32);
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string::npos; start = end + 1, end = text.find('\n', start)) {
    bool hasCr = end > start && text[end - 1] == '\r';
    converted.append(text, start, end - start - (hasCr ? 1 : 0));
    converted += "\r\n";
  }
  converted.append(text, start, std::string::npos);
  return converted;
}

// A body from --NAME TEXT or --NAME-file PATH; giving both is an error.
bool ReadBody(const ParsedVerbArguments& parsed, const char* textOption, const char* fileOption, std::string& body,
              std::string& error, bool& usageError) {
  bool fromText = HasOption(parsed, textOption);
  bool fromFile = HasOption(parsed, fileOption);
  usageError = fromText && fromFile;
  if (usageError) {
    error = std::string(textOption) + " and " + fileOption + " exclude each other";
    return false;
  }
  if (fromFile && !ReadAll(OptionValue(parsed, fileOption), body, error)) return false;
  if (fromText) body = OptionValue(parsed, textOption);
  body = WithCrLf(std::move(body));
  return true;
}

const std::string& Usage() {
  static const std::string usage = [] {
    std::string text(std::snprintf(nullptr, 0, kUsage, kSmtpSessionHelp), '\0');
    std::snprintf(text.data(), text.size() + 1, kUsage, kSmtpSessionHelp);
    return text;
  }();
  return usage;
}

}  // namespace

int RunSendmailVerb(const VerbArguments& args) {
  std::string error;
  std::vector<KnownOption> known = MailOptions({{"--from", false},
                                                {"--to", true},
                                                {"--cc", true},
                                                {"--bcc", true},
                                                {"--subject", false},
                                                {"--text", false},
                                                {"--text-file", false},
                                                {"--html", false},
                                                {"--html-file", false}});
  std::optional<ParsedVerbArguments> parsed = ParseVerbArguments(args, known, error);
  const char* usage = Usage().c_str();
  if (!parsed) return ReportBadUsage("sendmail", error, usage);
  if (parsed->help) {
    std::fputs(usage, stdout);
    return 0;
  }
  if (!parsed->positional.empty()) {
    return ReportBadUsage("sendmail", "unexpected argument '" + parsed->positional[0] + "'", usage);
  }
  std::string from = OptionValue(*parsed, "--from");
  std::string to;
  std::string cc;
  std::string bcc;
  if (from.empty() || from.find_first_of(" \t,;<>") != std::string::npos) {
    return ReportBadUsage("sendmail", "name the sender's bare address with --from", usage);
  }
  if (!JoinAddresses(*parsed, "--to", to, error) || !JoinAddresses(*parsed, "--cc", cc, error) ||
      !JoinAddresses(*parsed, "--bcc", bcc, error)) {
    return ReportBadUsage("sendmail", error, usage);
  }
  if (to.empty()) return ReportBadUsage("sendmail", "name at least one recipient with --to", usage);
  MailSession session;
  if (!ReadMailSession(*parsed, kSmtp, session, error)) return ReportBadUsage("sendmail", error, usage);
  std::string text;
  std::string html;
  bool usageError = false;
  if (!ReadBody(*parsed, "--text", "--text-file", text, error, usageError) ||
      !ReadBody(*parsed, "--html", "--html-file", html, error, usageError)) {
    if (usageError) return ReportBadUsage("sendmail", error, usage);
    std::fprintf(stderr, "kestnet sendmail: %s\n", error.c_str());
    return 1;
  }
  std::string subject = OptionValue(*parsed, "--subject");
  std::string size = DescribeSize(text.size() + html.size());
  // Moved in one by one: a braced list would copy each body, its elements
  // being const.
  std::vector<std::string> verbArguments;
  verbArguments.reserve(8);
  for (std::string* argument : {&from, &to, &cc, &subject, &text, &html, &size, &bcc}) {
    verbArguments.push_back(std::move(*argument));
  }
  return RunMailScript(kSmtp, session, kScript, std::move(verbArguments), {});
}

}  // namespace kestnet::host
