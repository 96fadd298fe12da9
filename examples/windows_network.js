// A tour of the Windows (SMB) network with KestNetWindowsNetwork: the
// workgroups, the computers of a workgroup and the file and printer shares
// they publish, then host information for each computer found (address, MAC
// address, version, platform, comment), and what this user may do with one
// share. Every answer arrives as an event and is printed as it comes.
//
//   kestnet run examples/windows_network.js [WORKGROUP] [\\SERVER SHARE]
//
//   WORKGROUP        the workgroup to look into (default: this machine's)
//   \\SERVER SHARE   a share to ask FileShareExists and FileSharePermission
//                    about (asking for the permission copies a scratch file
//                    to the share and deletes it again)
//
// Browse lists form some 20 to 45 seconds after a network's servers start;
// the script waits up to a minute for each.
var args = WScript.Arguments;
var workgroup = args.length > 0 && args(0).indexOf("\\\\") != 0 ? args(0) : "";
var server = "";
var share = "";
for (var i = 0; i + 1 < args.length; ++i) {
  if (args(i).indexOf("\\\\") == 0) {
    server = args(i);
    share = args(i + 1);
  }
}
var kListWait = 60000;

var network = WScript.CreateObject("KestNet.KestNetWindowsNetwork", "Network_");

function WaitFor(done, milliseconds) {
  for (var waited = 0; !done() && waited < milliseconds; waited += 50) WScript.Sleep(50);
  return done();
}

// --- the four listings: each event carries an array of names (empty when the
// network could not be browsed)
var lists = {};
function Network_GetNetworkWorkgroupsComplete(names) { lists.workgroups = names; }
function Network_GetNetworkComputersComplete(names) { lists.computers = names; }
function Network_GetFileShareListComplete(names) { lists.files = names; }
function Network_GetPrinterShareListComplete(names) { lists.printers = names; }

function Show(title, name, start) {
  var started = false;
  try {
    started = start();
  } catch (e) {
    WScript.Echo(title + ": refused, " + e.description);
    return [];
  }
  if (!started) {
    WScript.Echo(title + ": the listing could not start");
    return [];
  }
  if (!WaitFor(function() { return lists[name] !== undefined; }, kListWait)) {
    WScript.Echo(title + ": no answer within " + kListWait / 1000 + " s");
    return [];
  }
  WScript.Echo(title + ": " + (lists[name].length == 0 ? "(none)" : lists[name].join(", ")));
  return lists[name];
}

var where = workgroup == "" ? "this workgroup" : workgroup;
Show("workgroups", "workgroups", function() { return network.GetNetworkWorkgroups(); });
var computers = Show("computers of " + where, "computers", function() { return network.GetNetworkComputers(workgroup); });
Show("file shares of " + where, "files", function() { return network.GetFileShareList(workgroup); });
Show("printer shares of " + where, "printers", function() { return network.GetPrinterShareList(workgroup); });

// --- host information: one lookup per computer, all at once; each ends in
// OnGetHostInfoComplete with a KestNetWindowsNetworkHost
var statusNames = {};
var kStatuses = ["GETHOSTINFO_SUCCESS", "GETHOSTINFO_ABORTED", "GETHOSTINFO_HOST_NOT_FOUND", "GETHOSTINFO_ERROR",
                 "GETHOSTINFO_INVALIDOBJECT"];
for (var i = 0; i < kStatuses.length; ++i) statusNames[network[kStatuses[i]]] = kStatuses[i];

var pending = 0;
function Network_OnGetHostInfoComplete(status, name, host) {
  --pending;
  if (status != network.GETHOSTINFO_SUCCESS) {
    WScript.Echo(name + ": " + statusNames[status]);
    return;
  }
  var platform = "PLATFORM_UNKNOWN";
  var kPlatforms = ["PLATFORM_WINDOWS_9X", "PLATFORM_WINDOWS_2000", "PLATFORM_WINDOWS_NT40", "PLATFORM_WINDOWS_XP",
                    "PLATFORM_WINDOWS_2003", "PLATFORM_WINDOWS_VISTA", "PLATFORM_WINDOWS_7", "PLATFORM_UNIX"];
  for (var i = 0; i < kPlatforms.length; ++i) {
    if (host[kPlatforms[i]] == host.PlatformID) platform = kPlatforms[i];
  }
  WScript.Echo(name + ": " + host.IPAddress + " (" + host.MACAddress + "), version " + host.MajorVersion + "." +
               host.MinorVersion + ", " + platform + ", \"" + host.Comment + "\"");
}
for (var i = 0; i < computers.length; ++i) {
  network.GetHostInfo(computers[i]);
  ++pending;
}
WaitFor(function() { return pending == 0; }, 30000);

// --- one share: the questions that answer at once
if (server != "") {
  var permissionNames = {};
  permissionNames[network.FS_UNKNOWN] = "FS_UNKNOWN";
  permissionNames[network.FS_READ] = "FS_READ";
  permissionNames[network.FS_READ_WRITE] = "FS_READ_WRITE";
  var exists = network.FileShareExists(server, share);
  WScript.Echo(server + "\\" + share + ": " + (exists ? "exists" : "does not exist") +
               (exists ? ", " + permissionNames[network.FileSharePermission(server, share)] : ""));
}
