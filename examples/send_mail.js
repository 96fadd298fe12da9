// Sends one message through KestNetSMTP and prints the session's events as
// they arrive: log-in, ready, the send's outcome, the goodbye.
//
//   kestnet run examples/send_mail.js SERVER PORT USER PASSWORD FROM TO [SUBJECT]
//
// A password on a command line is visible to every user of the machine:
// `kestnet sendmail` reads it from the environment instead.
var args = WScript.Arguments;
var smtp = WScript.CreateObject("KestNet.KestNetSMTP", "Smtp_");
var ready = false, sent = null, closed = false;

function Smtp_OnSMTPAuthenticated(status) { WScript.Echo("OnSMTPAuthenticated: status " + status); }
function Smtp_OnSMTPReady() { WScript.Echo("OnSMTPReady"); ready = true; }
function Smtp_OnSMTPSendComplete(status) { WScript.Echo("OnSMTPSendComplete: status " + status); sent = status; }
function Smtp_OnSMTPQuit(status, response) { WScript.Echo("OnSMTPQuit: status " + status); }
function Smtp_OnSMTPClose(status) { closed = true; }

function WaitFor(condition) {
  for (var waited = 0; !condition() && !closed && waited < 30000; waited += 10) WScript.Sleep(10);
  return condition();
}

var message = new ActiveXObject("KestNet.KestNetMessageData");
message.From = args(4);
message.To = args(5);
message.Subject = args.length > 6 ? args(6) : "Hello from KestNetX";
message.TextMessage = "Sent by examples/send_mail.js.\r\n";
message.HtmlMessage = "<p>Sent by <b>examples/send_mail.js</b>.</p>\r\n";

smtp.Server = args(0);
smtp.Port = Number(args(1));
smtp.Username = args(2);
smtp.Password = args(3);
smtp.Connect();
if (WaitFor(function () { return ready; })) {
  smtp.SendMessage(message);
  WaitFor(function () { return sent != null; });
}
if (!closed) {
  smtp.Disconnect();
  WaitFor(function () { return closed; });
}
WScript.Quit(sent === smtp.SMTP_SUCCESS ? 0 : 1);
