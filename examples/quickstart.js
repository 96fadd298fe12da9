// A first look at the network objects: pings this machine (with an event,
// then with a blocking call), tests TCP ports and resolves host names,
// printing every event as it arrives.
//
//   kestnet run examples/quickstart.js [--server ADDRESS]... [--tcp HOST:PORT]... [NAME...]
//
//   --server ADDRESS   DNS server to ask (repeatable); without it the objects
//                      ask the servers this machine is configured with
//   --tcp HOST:PORT    a TCP port to test (repeatable); without it, port 53
//                      of each server given with --server
//   NAME...            host names to resolve (default: localhost)
var servers = [];
var tcpTargets = [];
var names = [];
for (var i = 0; i < WScript.Arguments.length; ++i) {
  var arg = WScript.Arguments(i);
  if (arg == "--server" && i + 1 < WScript.Arguments.length) {
    servers.push(WScript.Arguments(++i));
  } else if (arg == "--tcp" && i + 1 < WScript.Arguments.length) {
    var hostPort = WScript.Arguments(++i).split(":");
    tcpTargets.push({host: hostPort[0], port: Number(hostPort[1])});
  } else {
    names.push(arg);
  }
}
if (tcpTargets.length == 0) {
  for (var i = 0; i < servers.length; ++i) tcpTargets.push({host: servers[i], port: 53});
}
if (names.length == 0) names.push("localhost");

// Waits, delivering events, until done() is true or the time is up.
function WaitFor(done, milliseconds) {
  for (var waited = 0; !done() && waited < milliseconds; waited += 10) WScript.Sleep(10);
  return done();
}

// --- ping: one echo request heard through OnPingComplete, one blocking call
var ping = WScript.CreateObject("KestNet.KestNetPing", "Ping_");
var pingsHeard = 0;
function Ping_OnPingComplete(status, host, address, responseAddress, milliseconds) {
  ++pingsHeard;
  WScript.Echo("OnPingComplete: " + host + " status " + status +
               (status == ping.PING_SUCCESS ? ", reply from " + responseAddress + " in " + milliseconds + " ms"
                                            : ""));
}
ping.Ping("127.0.0.1", 64, 32, 2000);
if (!WaitFor(function () { return pingsHeard > 0; }, 10000)) WScript.Echo("OnPingComplete: none arrived");
WScript.Echo("BlockingPing: 127.0.0.1 " + (ping.BlockingPing("127.0.0.1", 64, 32, 2000) ? "answered" : "did not answer"));

// --- TCP: one socket object per port, all connecting at once
var connectsHeard = 0;
function TcpTest(target) {
  var socket = WScript.CreateObject("KestNet.KestNetTcpClientSocket");
  WScript.ConnectObject(socket, "Socket_");
  // Each object reports through the same handlers; the target's text tells
  // them apart.
  socket.Connect(target.host, target.port);
  return socket;
}
function Socket_OnConnect(result, host, address) {
  ++connectsHeard;
  WScript.Echo("OnConnect: " + host + " result " + result +
               (result == 0 ? " (connected to " + address + ")" : " (not accepted)"));
}
function Socket_OnClose(result) {}
var sockets = [];
for (var i = 0; i < tcpTargets.length; ++i) sockets.push(TcpTest(tcpTargets[i]));
if (!WaitFor(function () { return connectsHeard == sockets.length; }, 15000)) {
  WScript.Echo("OnConnect: " + (sockets.length - connectsHeard) + " outcome(s) did not arrive");
}
for (var i = 0; i < sockets.length; ++i) sockets[i].Close();

// --- DNS: every name started at once, each OnResolveNameComplete printed
var dns = WScript.CreateObject("KestNet.KestNetDNS", "Dns_");
if (servers.length > 0) dns.SetDNSServers(servers.join(","));
var resolvesHeard = 0;
function Dns_OnResolveNameComplete(result, name, addresses) {
  ++resolvesHeard;
  WScript.Echo("OnResolveNameComplete: " + name + " result " + result +
               (addresses.length > 0 ? " -> " + addresses.join(", ") : ""));
}
for (var i = 0; i < names.length; ++i) dns.ResolveName(names[i]);
if (!WaitFor(function () { return resolvesHeard == names.length; }, dns.Timeout + 5000)) {
  WScript.Echo("OnResolveNameComplete: " + (names.length - resolvesHeard) + " result(s) did not arrive");
}
