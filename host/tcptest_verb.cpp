// kestnet tcptest HOST PORT [--timeout MS]
//
// Tests whether HOST accepts TCP connections on PORT through the
// KestNetTcpClientSocket object, as a script would: Connect, then
// OnConnect printed when it arrives, then Close.
#include <cstdio>
#include <string>

#include "host/script_apartment.h"
#include "host/verb_options.h"
#include "host/verbs.h"

namespace kestnet::host {
namespace {

constexpr const char* kUsage =
    "usage: kestnet tcptest HOST PORT [--timeout MS]\n"
    "\n"
    "Connects to PORT of HOST (a dotted address or a host name) through the\n"
    "KestNetTcpClientSocket object, prints the outcome when it arrives and\n"
    "closes the connection again.\n"
    "\n"
    "  --timeout MS   how long to wait for the outcome (default 10000)\n"
    "\n"
    "The exit code is 0 only when the connection was accepted.\n";

constexpr KnownOption kOptions[] = {{"--timeout", false}};

// Arguments: host, port, time-out.
constexpr const char* kScript = R"JS(
var args = WScript.Arguments;
var host = args(0);
var port = Number(args(1));
var socket = WScript.CreateObject("KestNet.KestNetTcpClientSocket", "Socket_");
var resultNames = {};
var kResults = ["SOCKET_NO_ERROR", "SOCKET_GENERIC_ERROR", "SOCKET_OS_LAYER_NOT_INITIALIZED",
                "SOCKET_OS_FAILURE", "SOCKET_ADDR_IN_USE", "SOCKET_INVALID_STATE", "SOCKET_INVALID_ARG",
                "SOCKET_CONNECT_REFUSED", "SOCKET_DEST_UNREACHABLE", "SOCKET_TIMEOUT"];
for (var i = 0; i < kResults.length; ++i) resultNames[socket[kResults[i]]] = kResults[i];

var connected = false;
var outcome = false;
var closed = false;
function Socket_OnConnect(result, target, address) {
  var line = target + " port " + port;
  if (result == 0) {
    line += ": connected" + (address && address != target ? " to " + address : "");
  } else {
    line += ": " + (resultNames[result] || "result " + result);
  }
  WScript.Echo(line);
  connected = result == 0;
  outcome = true;
}
function Socket_OnClose(result) { closed = true; }

var timeout = Number(args(2));
socket.Connect(host, port);
for (var start = Date.now(), waited = 0; !outcome && waited < timeout; waited = Date.now() - start) {
  Host.WaitForEvents(timeout - waited);
}
if (!outcome) WScript.Echo(host + " port " + port + ": no answer within " + timeout + " ms");
if (connected || !outcome) {
  socket.Close();
  for (var start = Date.now(), waited = 0; !closed && waited < 2000; waited = Date.now() - start) {
    Host.WaitForEvents(2000 - waited);
  }
}
WScript.Quit(connected ? 0 : 1);
)JS";

}  // namespace

int RunTcptestVerb(const VerbArguments& args) {
  std::string error;
  std::optional<ParsedVerbArguments> parsed = ParseVerbArguments(args, kOptions, error);
  if (!parsed) return ReportBadUsage("tcptest", error, kUsage);
  if (parsed->help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (parsed->positional.size() != 2) return ReportBadUsage("tcptest", "name a host and a port", kUsage);
  long timeout = 0;
  if (!IntegerOption(*parsed, "--timeout", 10000, timeout, error)) return ReportBadUsage("tcptest", error, kUsage);
  if (timeout <= 0) return ReportBadUsage("tcptest", "--timeout must be positive", kUsage);
  long port = 0;
  if (!ParseWholeNumber(parsed->positional[1], port)) {
    return ReportBadUsage("tcptest", "the port must be a whole number, not '" + parsed->positional[1] + "'", kUsage);
  }
  ScriptOptions options;
  options.scriptPath = "kestnet tcptest";
  options.source = kScript;
  options.hostObject = true;
  options.arguments = {parsed->positional[0], std::to_string(port), std::to_string(timeout)};
  return RunScriptInApartment(options, "tcptest");
}

}  // namespace kestnet::host
