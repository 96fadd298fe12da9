// kestnet resolve NAME... [--server ADDRESS]... [--timeout MS]
//
// Resolves names through the KestNetDNS object, as a script would: every
// name is started at once and each OnResolveNameComplete is printed as it
// arrives.
#include <cstdio>
#include <string>

#include "host/script_apartment.h"
#include "host/verb_options.h"
#include "host/verbs.h"

namespace kestnet::host {
namespace {

constexpr const char* kUsage =
    "usage: kestnet resolve NAME... [--server ADDRESS]... [--timeout MS]\n"
    "\n"
    "Resolves each NAME to its IPv4 addresses through the KestNetDNS object and\n"
    "prints each result as it arrives.\n"
    "\n"
    "  --server ADDRESS   ask this DNS server (may be given more than once);\n"
    "                     default: the servers this machine is configured with\n"
    "  --timeout MS       time-out of each query, 500 to 30000 (default 7000)\n"
    "\n"
    "The exit code is 0 only when every name resolved.\n";

constexpr KnownOption kOptions[] = {{"--server", true}, {"--timeout", false}};

// Arguments: time-out, servers separated by commas (may be empty), names.
constexpr const char* kScript = R"JS(
var args = WScript.Arguments;
var dns = WScript.CreateObject("KestNet.KestNetDNS", "Dns_");
var resultNames = {};
var kResults = ["DNS_SUCCESS", "DNS_ERROR_NO_RESPONSES", "DNS_ERROR_INVALID_OBJECT", "DNS_ERROR_TIMEOUT",
                "DNS_ERROR_ABORT", "DNS_ERROR_NO_SERVERS"];
for (var i = 0; i < kResults.length; ++i) resultNames[dns[kResults[i]]] = kResults[i];

var timeout = Number(args(0));
if (args(1) != "") dns.SetDNSServers(args(1));
dns.Timeout = timeout;

// The resolver runs one query per name and ignores a second request for a
// name already being resolved, so each name is asked once.
var pending = {};
var pendingCount = 0;
var failures = 0;
function Dns_OnResolveNameComplete(result, name, addresses) {
  if (result == 0 && addresses.length > 0) {
    WScript.Echo(name + ": " + addresses.join(", "));
  } else {
    WScript.Echo(name + ": " + (resultNames[result] || "result " + result));
    ++failures;
  }
  var key = name.toLowerCase();
  if (pending[key]) {
    delete pending[key];
    --pendingCount;
  }
}

for (var i = 2; i < args.length; ++i) {
  var key = args(i).toLowerCase();
  if (pending[key]) continue;
  pending[key] = true;
  ++pendingCount;
  dns.ResolveName(args(i));
}
var limit = timeout + 5000;
for (var start = Date.now(), waited = 0; pendingCount > 0 && waited < limit; waited = Date.now() - start) {
  Host.WaitForEvents(limit - waited);
}
for (var key in pending) {
  WScript.Echo(key + ": no result arrived");
  dns.Abort(key);
  ++failures;
}
WScript.Quit(failures == 0 ? 0 : 1);
)JS";

}  // namespace

int RunResolveVerb(const VerbArguments& args) {
  std::string error;
  std::optional<ParsedVerbArguments> parsed = ParseVerbArguments(args, kOptions, error);
  if (!parsed) return ReportBadUsage("resolve", error, kUsage);
  if (parsed->help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (parsed->positional.empty()) return ReportBadUsage("resolve", "name at least one host name", kUsage);
  long timeout = 0;
  if (!IntegerOption(*parsed, "--timeout", 7000, timeout, error)) return ReportBadUsage("resolve", error, kUsage);
  std::string servers;
  if (auto found = parsed->options.find("--server"); found != parsed->options.end()) {
    for (const std::string& server : found->second) {
      if (server.empty() || server.find(',') != std::string::npos) {
        return ReportBadUsage("resolve", "--server takes one address, not '" + server + "'", kUsage);
      }
      servers += (servers.empty() ? "" : ",") + server;
    }
  }
  ScriptOptions options;
  options.scriptPath = "kestnet resolve";
  options.source = kScript;
  options.hostObject = true;
  options.arguments = {std::to_string(timeout), servers};
  options.arguments.insert(options.arguments.end(), parsed->positional.begin(), parsed->positional.end());
  return RunScriptInApartment(options, "resolve");
}

}  // namespace kestnet::host
