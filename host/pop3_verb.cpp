// kestnet pop3 count|list|retrieve|delete ... --server HOST --user NAME
//
// Reads a mailbox through the KestNetPOP3 object (KestNetPOP3Ex with --tls
// or --starttls), as a script would: Connect, then one operation after the
// other as each answer arrives, then Disconnect.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "host/mail_session.h"
#include "host/verbs.h"

namespace kestnet::host {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: kestnet pop3 count               --server HOST --user NAME [OPTIONS]\n"
    "       kestnet pop3 list                --server HOST --user NAME [OPTIONS]\n"
    "       kestnet pop3 retrieve all|N...   --server HOST --user NAME [--output DIR] [OPTIONS]\n"
    "       kestnet pop3 delete N...         --server HOST --user NAME [OPTIONS]\n"
    "\n"
    "Works on a POP3 mailbox through the KestNetPOP3 object.\n"
    "\n"
    "  count      prints the number of messages and the mailbox size the server gives\n"
    "  list       prints each message's number, size in bytes and subject; the object\n"
    "             offers no per-message listing, so every message is retrieved whole and\n"
    "             the size is that of its .eml file as `retrieve` writes it\n"
    "  retrieve   writes the messages as .eml files (header lines, an empty line, the\n"
    "             body, lines ending in CR LF) named N.eml into DIR, or one message to\n"
    "             standard output without --output\n"
    "  delete     marks the messages deleted; the server removes them when the session\n"
    "             ends\n"
    "\n"
    "Options:\n"
    "%s"
    "  --cert-subject TEXT, --cert-issuer TEXT\n"
    "                    the server certificate expected (with --tls or --starttls)\n"
    "  --output DIR      the folder for retrieved messages (made when missing)\n"
    "  --timeout MS      how long to wait for each answer (default 120000)\n"
    "  --progress        show progress on standard error even when it is not a terminal\n"
    "\n"
    "Without --tls or --starttls the plain KestNetPOP3 object is used and nothing\n"
    "is encrypted. The password is read from the environment variable\n"
    "KESTNET_MAIL_PASSWORD, or asked for when standard input is a terminal; it is\n"
    "never taken from the command line and never printed.\n"
    "\n"
    "The exit code is 0 when everything asked for was done, 1 when the work\n"
    "failed, 2 for bad usage.\n";

constexpr MailProtocol kPop3 = {"pop3", "KestNet.KestNetPOP3", "KestNet.KestNetPOP3Ex", 110, 110, 995, true};

// Verb arguments: the action, the output folder ("" for standard output),
// then the message numbers ("all" for every message).
constexpr const char* kScript = R"JS(
var action = args[kVerbArguments];
var toFolder = args[kVerbArguments + 1] != "";
var numbers = [];
for (var i = kVerbArguments + 2; i < args.length; ++i) numbers.push(args[i]);
var kStatusConstants = session.security == "plain"
    ? ["POP3_SUCCESS", "POP3_SOCKET_FAILURE", "POP3_AUTH_ERROR", "POP3_CONNECT_ERROR", "POP3_TERMINATED",
       "POP3_INVALID_ARGS", "POP3_BUSY", "POP3_INVALID_STATE", "POP3_UNEXPECTED"]
    : ["POP3EX_SUCCESS", "POP3EX_CONNECT_ERROR", "POP3EX_TERMINATED", "POP3EX_INVALID_STATE",
       "POP3EX_UNEXPECTED"];
var login = "logging in to " + session.server + " as " + session.user;

var answer = null;
function Mail_OnPOP3Connect(status) { Check("connecting to " + session.server + " port " + session.port, status, ""); }
function Mail_OnPOP3Header(status, response) { Check("greeting of " + session.server, status, response); }
function Mail_OnPOP3UserName(status, response) { Check(login, status, response); }
function Mail_OnPOP3Password(status, response) { Check(login, status, response); }
function Mail_OnPOP3Ready() { session.ready = true; }
function Mail_OnPOP3Disconnect(status) { Closed(status); }
function Mail_OnPOP3RejectedServerCertificate(status, issuer, subject) { Rejected(status, issuer, subject); }
function Mail_OnPOP3GetMessageCount(status, response, count, size) {
  if (Check("counting the messages", status, response)) answer = {count: count, size: size};
}
function Mail_OnPOP3RetrieveMessage(status, number, message) {
  if (!Check("retrieving message " + number, status, "")) return;
  var headers = [];
  for (var i = 0; i < message.NumHeaders; ++i) headers.push(message.GetHeader(i) + "\r\n");
  answer = {text: headers.join("") + "\r\n" + message.TextMessage, subject: message.Subject};
}
function Mail_OnPOP3DeleteMessage(status, response, number) {
  if (Check("deleting message " + number, status, response)) answer = {number: number};
}

// Starts one operation and waits for its answer.
function Ask(step, start) {
  answer = null;
  start();
  return Await(function () { return answer != null; }, step) ? answer : null;
}
function Count() {
  return Ask("counting the messages", function () { mail.GetMessageCount(); });
}
function Retrieve(n) {
  return Ask("retrieving message " + n, function () { mail.RetrieveMessage(n); });
}
function Delete(n) {
  return Ask("deleting message " + n, function () { mail.DeleteMessage(n); });
}

function Main() {
  if (!Open()) return;
  if (action == "delete") {
    for (var i = 0; i < numbers.length; ++i) {
      if (!Delete(Number(numbers[i]))) return;
      WScript.Echo("message " + numbers[i] + " deleted");
    }
    return;
  }
  var total = Count();
  if (!total) return;
  if (action == "count") {
    WScript.Echo(total.count + " messages, " + total.size + " bytes");
    return;
  }
  var wanted = numbers;
  if (action == "list" || (numbers.length == 1 && numbers[0] == "all")) {
    wanted = [];
    for (var n = 1; n <= total.count; ++n) wanted.push(n);
  }
  for (var i = 0; i < wanted.length; ++i) {
    var message = Retrieve(Number(wanted[i]));
    if (!message) return;
    if (action == "list") {
      WScript.Echo(wanted[i] + " " + Host.Save(wanted[i], message.text, "measure") + " " + message.subject);
    } else {
      Host.Save(wanted[i], message.text, toFolder ? "file" : "stdout");
    }
    Host.Progress((action == "list" ? "listed " : "retrieved ") + (i + 1) + " of " + wanted.length + " messages");
  }
}
Run(kStatusConstants, Main);
)JS";

// Writes (or only measures) one retrieved message; remembers the size so the
// script can print it.
class MessageSink {
 public:
  explicit MessageSink(fs::path folder) : m_folder(std::move(folder)) {}

  // Arguments: the message number, its text, and "stdout", "file" or
  // "measure". The result is the size in bytes.
  bool Save(const std::vector<std::string>& arguments, std::string& result) {
    if (arguments.size() != 3) {
      result = "needs a number, a text and a destination";
      return false;
    }
    const std::string& text = arguments[1];
    const std::string& destination = arguments[2];
    if (destination == "stdout") {
      std::fwrite(text.data(), 1, text.size(), stdout);
      std::fflush(stdout);
    } else if (destination == "file") {
      fs::path path = m_folder / (arguments[0] + ".eml");
      std::ofstream file(path, std::ios::binary | std::ios::trunc);
      file << text;
      file.close();
      if (!file) {
        result = "cannot write '" + path.string() + "'";
        return false;
      }
      std::printf("message %s: %s (%zu bytes)\n", arguments[0].c_str(), path.c_str(), text.size());
      std::fflush(stdout);
    }
    result = std::to_string(text.size());
    return true;
  }

 private:
  fs::path m_folder;
};

const std::string& Usage() {
  static const std::string usage = [] {
    std::string text(std::snprintf(nullptr, 0, kUsage, kPop3SessionHelp), '\0');
    std::snprintf(text.data(), text.size() + 1, kUsage, kPop3SessionHelp);
    return text;
  }();
  return usage;
}

// Checks the action and its message numbers; empty when they are sound.
std::string CheckAction(const std::vector<std::string>& positional, bool toFolder) {
  if (positional.empty()) return "name an action: count, list, retrieve or delete";
  const std::string& action = positional[0];
  std::vector<std::string> numbers(positional.begin() + 1, positional.end());
  if (action == "count" || action == "list") {
    return numbers.empty() ? "" : action + " takes no message numbers";
  }
  if (action != "retrieve" && action != "delete") return "unknown action '" + action + "'";
  if (numbers.empty()) return action + " needs message numbers" + (action == "retrieve" ? " or 'all'" : "");
  bool all = action == "retrieve" && numbers.size() == 1 && numbers[0] == "all";
  for (const std::string& number : numbers) {
    long value = 0;
    if (!all && (!ParseWholeNumber(number, value) || value < 1)) {
      return "message numbers count from 1, not '" + number + "'";
    }
  }
  if (action == "retrieve" && !toFolder && (all || numbers.size() > 1)) {
    return "more than one message needs --output DIR";
  }
  return "";
}

}  // namespace

int RunPop3Verb(const VerbArguments& args) {
  std::string error;
  std::vector<KnownOption> known = MailOptions({{"--output", false}});
  std::optional<ParsedVerbArguments> parsed = ParseVerbArguments(args, known, error);
  if (!parsed) return ReportBadUsage("pop3", error, Usage().c_str());
  if (parsed->help) {
    std::fputs(Usage().c_str(), stdout);
    return 0;
  }
  std::string folder = OptionValue(*parsed, "--output");
  bool toFolder = HasOption(*parsed, "--output");
  if (toFolder && folder.empty()) return ReportBadUsage("pop3", "--output needs a folder", Usage().c_str());
  error = CheckAction(parsed->positional, toFolder);
  if (!error.empty()) return ReportBadUsage("pop3", error, Usage().c_str());
  if (toFolder && parsed->positional[0] != "retrieve") {
    return ReportBadUsage("pop3", "--output goes with retrieve", Usage().c_str());
  }
  MailSession session;
  if (!ReadMailSession(*parsed, kPop3, session, error)) return ReportBadUsage("pop3", error, Usage().c_str());

  std::error_code made;
  if (toFolder && !fs::is_directory(folder) && !fs::create_directories(folder, made)) {
    std::fprintf(stderr, "kestnet pop3: cannot make the folder '%s': %s\n", folder.c_str(), made.message().c_str());
    return 1;
  }
  MessageSink sink(folder);
  std::vector<std::string> verbArguments = {parsed->positional[0], folder};
  verbArguments.insert(verbArguments.end(), parsed->positional.begin() + 1, parsed->positional.end());
  return RunMailScript(kPop3, session, kScript, verbArguments,
                       {{"Save", [&sink](const std::vector<std::string>& arguments, std::string& result) {
                          return sink.Save(arguments, result);
                        }}});
}

}  // namespace kestnet::host
