// kestnet net view [/domain[:WORKGROUP]] [\\SERVER]
// kestnet net hostinfo \\NAME
//
// Browses the Windows network and looks hosts up through the
// KestNetWindowsNetwork object, as a script would, in the manner of Windows'
// own `net view`: the computers of this machine's workgroup, the workgroups
// of the network, the computers of one workgroup, or the file and printer
// shares of one server; and what a NetBIOS name lookup finds about a host.
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "host/progress_line.h"
#include "host/script_apartment.h"
#include "host/verb_options.h"
#include "host/verbs.h"

namespace kestnet::host {
namespace {

constexpr const char* kUsage =
    "usage: kestnet net view [/domain[:WORKGROUP]] [\\\\SERVER] [--timeout MS] [--progress]\n"
    "       kestnet net hostinfo \\\\NAME [--timeout MS]\n"
    "\n"
    "Browses the Windows (SMB) network through the KestNetWindowsNetwork object.\n"
    "\n"
    "  net view                     the computers of this machine's workgroup\n"
    "  net view /domain             the workgroups of the network\n"
    "  net view /domain:WORKGROUP   the computers of WORKGROUP\n"
    "  net view \\\\SERVER            the file and printer shares of SERVER, a\n"
    "                               computer of this machine's workgroup (add\n"
    "                               /domain:WORKGROUP for one of another)\n"
    "  net hostinfo \\\\NAME          address, MAC address, version, platform and\n"
    "                               comment of the computer with NetBIOS name NAME\n"
    "\n"
    "  --timeout MS   how long to wait for the answer (default 60000)\n"
    "  --progress     show progress on standard error (on by default at a terminal)\n"
    "\n"
    "A browse list forms some 20 to 45 seconds after the network's servers start.\n"
    "The exit code is 0 when a list with entries or a host's information arrived,\n"
    "1 otherwise, 2 for bad usage.\n";

constexpr KnownOption kOptions[] = {{"--timeout", false}, {"--progress", false, true}};

// What the script is asked for: the first of its arguments.
constexpr const char* kModeComputers = "computers";
constexpr const char* kModeWorkgroups = "workgroups";
constexpr const char* kModeShares = "shares";
constexpr const char* kModeHostInfo = "hostinfo";

// Arguments: mode, workgroup (empty: this machine's), server or host name,
// time-out.
constexpr const char* kScript = R"JS(
var args = WScript.Arguments;
var mode = args(0);
var workgroup = args(1);
var target = args(2);
var timeout = Number(args(3));
var network = WScript.CreateObject("KestNet.KestNetWindowsNetwork", "Network_");

// Waits, pumping events, until done() or the time-out; says what it waits
// for once a second.
function WaitFor(done, what) {
  for (var waited = 0; !done() && waited < timeout; waited += 100) {
    if (waited % 1000 == 0) Host.Progress("waiting for " + what + " (" + waited / 1000 + " s)");
    WScript.Sleep(100);
  }
  return done();
}

// Calls start(); a refusal is reported with the object's error and ends the run.
function Start(start, what) {
  var started = false;
  try {
    started = start();
  } catch (e) {
    Host.Report("cannot ask for " + what + ": " + e.description);
    WScript.Quit(1);
  }
  if (started === false) {
    Host.Report("cannot ask for " + what);
    WScript.Quit(1);
  }
}

var lists = {};
function Network_GetNetworkComputersComplete(names) { lists.computers = names; }
function Network_GetNetworkWorkgroupsComplete(names) { lists.workgroups = names; }
function Network_GetFileShareListComplete(names) { lists.files = names; }
function Network_GetPrinterShareListComplete(names) { lists.printers = names; }

function AwaitList(name, what) {
  if (WaitFor(function() { return lists[name] !== undefined; }, what)) return lists[name];
  Host.Report("no list of " + what + " arrived within " + timeout + " ms");
  WScript.Quit(1);
}

// An empty list is all a listing that could not browse the network gives.
function PrintNames(names, what) {
  if (names.length == 0) {
    Host.Report("no " + what + " found (none published, or the network could not be browsed)");
    WScript.Quit(1);
  }
  for (var i = 0; i < names.length; ++i) WScript.Echo(names[i]);
  WScript.Quit(0);
}

function ViewComputers() {
  var what = "the computers of " + (workgroup == "" ? "this workgroup" : workgroup);
  Start(function() { return network.GetNetworkComputers(workgroup); }, what);
  PrintNames(AwaitList("computers", what), "computers");
}

function ViewWorkgroups() {
  Start(function() { return network.GetNetworkWorkgroups(); }, "the workgroups");
  PrintNames(AwaitList("workgroups", "the workgroups"), "workgroups");
}

// The shares of a workgroup are named \\SERVER\share; those of target are kept.
function SharesOf(names, type, shares) {
  var prefix = (target + "\\").toLowerCase();
  for (var i = 0; i < names.length; ++i) {
    if (names[i].toLowerCase().indexOf(prefix) != 0) continue;
    shares.push({name: names[i].substring(prefix.length), type: type});
  }
}

function ViewShares() {
  var where = workgroup == "" ? "this workgroup" : workgroup;
  Start(function() { return network.GetFileShareList(workgroup); }, "the file shares of " + where);
  Start(function() { return network.GetPrinterShareList(workgroup); }, "the printer shares of " + where);
  var files = AwaitList("files", "the file shares of " + where);
  var printers = AwaitList("printers", "the printer shares of " + where);
  var shares = [];
  SharesOf(files, "Disk", shares);
  SharesOf(printers, "Print", shares);
  if (shares.length == 0) {
    Host.Report("no shares of " + target + " found in " + where +
                " (none published, or the network could not be browsed)");
    WScript.Quit(1);
  }
  var width = 0;
  for (var i = 0; i < shares.length; ++i) width = Math.max(width, shares[i].name.length);
  for (var i = 0; i < shares.length; ++i) {
    var name = shares[i].name;
    while (name.length < width + 2) name += " ";
    WScript.Echo(name + shares[i].type);
  }
  WScript.Quit(0);
}

function NameOfValue(object, names, value) {
  for (var i = 0; i < names.length; ++i) {
    if (object[names[i]] == value) return names[i];
  }
  return String(value);
}

var outcome = null;
function Network_OnGetHostInfoComplete(status, name, host) {
  outcome = {status: status, name: name, host: host};
}

function HostInfo() {
  Start(function() { network.GetHostInfo(target); }, "the information of " + target);
  var arrived = function() { return outcome !== null; };
  if (!WaitFor(arrived, "the information of " + target)) {
    network.AbortGetHostInfo(target);
    timeout = 5000;
    WaitFor(arrived, "the end of the lookup of " + target);
  }
  if (outcome === null) {
    Host.Report("no information about " + target + " arrived");
    WScript.Quit(1);
  }
  var statusName = NameOfValue(network, ["GETHOSTINFO_SUCCESS", "GETHOSTINFO_ABORTED",
      "GETHOSTINFO_HOST_NOT_FOUND", "GETHOSTINFO_ERROR", "GETHOSTINFO_INVALIDOBJECT"], outcome.status);
  WScript.Echo(outcome.name + ": " + statusName);
  var host = outcome.host;
  if (outcome.status != network.GETHOSTINFO_SUCCESS || host === null) WScript.Quit(1);
  var platformName = NameOfValue(host, ["PLATFORM_WINDOWS_9X", "PLATFORM_WINDOWS_2000", "PLATFORM_WINDOWS_NT40",
      "PLATFORM_WINDOWS_XP", "PLATFORM_WINDOWS_2003", "PLATFORM_WINDOWS_VISTA", "PLATFORM_WINDOWS_7",
      "PLATFORM_UNIX", "PLATFORM_UNKNOWN"], host.PlatformID);
  WScript.Echo("address: " + host.IPAddress);
  WScript.Echo("MAC address: " + host.MACAddress);
  WScript.Echo("version: " + host.MajorVersion + "." + host.MinorVersion);
  WScript.Echo("platform: " + platformName);
  WScript.Echo("comment: " + host.Comment);
  WScript.Quit(0);
}

({computers: ViewComputers, workgroups: ViewWorkgroups, shares: ViewShares, hostinfo: HostInfo})[mode]();
)JS";

// A computer name as the object wants it: with its two leading backslashes.
std::string UncName(const std::string& name) { return name.rfind("\\\\", 0) == 0 ? name : "\\\\" + name; }

struct ViewRequest {
  std::string mode = kModeComputers;
  std::string workgroup;
  std::string server;
};

// Reads the words after "view"; nothing (with error set) for bad usage.
std::optional<ViewRequest> ReadViewRequest(const std::vector<std::string>& words, std::string& error) {
  ViewRequest request;
  bool allWorkgroups = false;
  bool namedWorkgroup = false;
  for (const std::string& word : words) {
    if (strncasecmp(word.c_str(), "/domain", 7) == 0 && (word.size() == 7 || word[7] == ':')) {
      if (allWorkgroups || namedWorkgroup) {
        error = "/domain given twice";
        return std::nullopt;
      }
      request.workgroup = word.size() > 8 ? word.substr(8) : std::string();
      allWorkgroups = request.workgroup.empty();
      namedWorkgroup = !allWorkgroups;
    } else if (word.rfind("\\\\", 0) == 0 && word.size() > 2 && request.server.empty()) {
      request.server = word;
    } else {
      error = "unexpected '" + word + "'";
      return std::nullopt;
    }
  }
  if (!request.server.empty()) {
    if (allWorkgroups) {
      error = "name a server's workgroup as /domain:WORKGROUP";
      return std::nullopt;
    }
    request.mode = kModeShares;
  } else if (allWorkgroups) {
    request.mode = kModeWorkgroups;
  }
  return request;
}

}  // namespace

int RunNetVerb(const VerbArguments& args) {
  std::string error;
  std::optional<ParsedVerbArguments> parsed = ParseVerbArguments(args, kOptions, error);
  if (!parsed) return ReportBadUsage("net", error, kUsage);
  if (parsed->help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  long timeout = 0;
  if (!IntegerOption(*parsed, "--timeout", 60000, timeout, error)) return ReportBadUsage("net", error, kUsage);
  if (timeout <= 0) return ReportBadUsage("net", "--timeout must be positive", kUsage);
  const std::vector<std::string>& words = parsed->positional;
  if (words.empty()) return ReportBadUsage("net", "name a command: view or hostinfo", kUsage);

  ViewRequest request;
  if (words[0] == "view") {
    std::optional<ViewRequest> view = ReadViewRequest({words.begin() + 1, words.end()}, error);
    if (!view) return ReportBadUsage("net", error, kUsage);
    request = *view;
  } else if (words[0] == "hostinfo") {
    if (words.size() != 2 || words[1].empty() || words[1] == "\\\\") {
      return ReportBadUsage("net", "name one computer as \\\\NAME", kUsage);
    }
    request.mode = kModeHostInfo;
    request.server = UncName(words[1]);
  } else {
    return ReportBadUsage("net", "unknown command '" + words[0] + "'", kUsage);
  }

  ProgressLine progress(HasOption(*parsed, "--progress") || isatty(STDERR_FILENO) == 1);
  ScriptOptions options;
  options.scriptPath = "kestnet net";
  options.source = kScript;
  options.arguments = {request.mode, request.workgroup, request.server, std::to_string(timeout)};
  options.hostFunctions = ReportAndProgressFunctions(progress, "net");
  return RunScriptInApartment(options, "net");
}

}  // namespace kestnet::host
