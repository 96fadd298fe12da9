// kestnet ping TARGET [--ttl N] [--size N] [--timeout MS] [--dns-timeout MS]
//
// Sends one echo request through the KestNetPing object, as a script would:
// the verb runs a small built-in script that calls Ping and prints
// OnPingComplete when it arrives.
#include <cstdio>
#include <string>

#include "host/script_apartment.h"
#include "host/verb_options.h"
#include "host/verbs.h"

namespace kestnet::host {
namespace {

constexpr const char* kUsage =
    "usage: kestnet ping TARGET [--ttl N] [--size BYTES] [--timeout MS] [--dns-timeout MS]\n"
    "\n"
    "Sends one ICMP echo request to TARGET (a dotted address or a host name)\n"
    "through the KestNetPing object and prints the result when it arrives.\n"
    "\n"
    "  --ttl N            time to live, 1 to 254 (default 64)\n"
    "  --size BYTES       payload size, 0 to 1472 (default 32)\n"
    "  --timeout MS       how long to wait for the reply, 10 and above (default 4000)\n"
    "  --dns-timeout MS   how long to wait for a name's address, 500 and above (default 5000)\n"
    "\n"
    "The exit code is 0 only when the target answered.\n";

constexpr KnownOption kOptions[] = {
    {"--ttl", false}, {"--size", false}, {"--timeout", false}, {"--dns-timeout", false}};

// Arguments: target, TTL, size, time-out, DNS time-out.
constexpr const char* kScript = R"JS(
var args = WScript.Arguments;
var target = args(0);
var ping = WScript.CreateObject("KestNet.KestNetPing", "Ping_");
var statusNames = {};
var kStatuses = ["PING_SUCCESS", "PING_DID_NOT_RESPOND", "PING_INVALID_ADDRESS", "PING_INVALID_INTERFACE",
                 "PING_TTL_EXPIRED", "PING_NET_UNREACHABLE", "PING_HOST_UNREACHABLE", "PING_ERROR",
                 "PING_TIMEOUT", "PING_INVALID_OBJECT", "PING_ABORTED", "PING_RESOLVE_NAME_FAILED",
                 "PING_DNS_TIMEOUT", "PING_DNS_NO_RESPONSES"];
for (var i = 0; i < kStatuses.length; ++i) statusNames[ping[kStatuses[i]]] = kStatuses[i];

var finished = false;
var answered = false;
function Ping_OnPingComplete(status, host, address, responseAddress, milliseconds) {
  var line = host;
  if (address && address != host) line += " [" + address + "]";
  line += ": " + (statusNames[status] || "status " + status);
  if (status == 0) {
    line += ", reply from " + responseAddress + " in " + milliseconds + " ms";
  } else if (responseAddress && responseAddress != "0.0.0.0" && responseAddress != address) {
    line += ", reported by " + responseAddress;
  }
  WScript.Echo(line);
  answered = status == 0;
  finished = true;
}

var timeout = Number(args(3));
var dnsTimeout = Number(args(4));
ping.DNSTimeout = dnsTimeout;
ping.Ping(target, Number(args(1)), Number(args(2)), timeout);
// The engine always reports; the limit only guards against a host that
// stopped delivering events.
var limit = timeout + dnsTimeout + 5000;
// Back as soon as the event has been handled, not at the next 10 ms step.
for (var start = Date.now(), waited = 0; !finished && waited < limit; waited = Date.now() - start) {
  Host.WaitForEvents(limit - waited);
}
if (!finished) {
  WScript.Echo(target + ": no result arrived");
  ping.Abort(target);
}
WScript.Quit(answered ? 0 : 1);
)JS";

}  // namespace

int RunPingVerb(const VerbArguments& args) {
  std::string error;
  std::optional<ParsedVerbArguments> parsed = ParseVerbArguments(args, kOptions, error);
  if (!parsed) return ReportBadUsage("ping", error, kUsage);
  if (parsed->help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (parsed->positional.size() != 1) return ReportBadUsage("ping", "name one target", kUsage);
  long ttl = 0, size = 0, timeout = 0, dnsTimeout = 0;
  if (!IntegerOption(*parsed, "--ttl", 64, ttl, error) || !IntegerOption(*parsed, "--size", 32, size, error) ||
      !IntegerOption(*parsed, "--timeout", 4000, timeout, error) ||
      !IntegerOption(*parsed, "--dns-timeout", 5000, dnsTimeout, error)) {
    return ReportBadUsage("ping", error, kUsage);
  }
  ScriptOptions options;
  options.scriptPath = "kestnet ping";
  options.source = kScript;
  options.hostObject = true;
  options.arguments = {parsed->positional[0], std::to_string(ttl), std::to_string(size), std::to_string(timeout),
                       std::to_string(dnsTimeout)};
  return RunScriptInApartment(options, "ping");
}

}  // namespace kestnet::host
