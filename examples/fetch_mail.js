// Reads a mailbox through KestNetPOP3: counts the messages, retrieves each
// one and prints its sender, subject and body size, then says goodbye.
//
//   kestnet run examples/fetch_mail.js SERVER PORT USER PASSWORD
//
// A password on a command line is visible to every user of the machine:
// `kestnet pop3` reads it from the environment instead.
var args = WScript.Arguments;
var pop3 = WScript.CreateObject("KestNet.KestNetPOP3", "Pop3_");
var ready = false, count = null, retrieved = null, closed = false, failed = false;

function Pop3_OnPOP3Password(status, response) { if (status != 0) { WScript.Echo("log-in refused: " + response); failed = true; } }
function Pop3_OnPOP3Ready() { ready = true; }
function Pop3_OnPOP3GetMessageCount(status, response, messages, bytes) {
  WScript.Echo("OnPOP3GetMessageCount: " + messages + " message(s), " + bytes + " bytes");
  count = status == 0 ? messages : 0;
}
function Pop3_OnPOP3RetrieveMessage(status, number, message) {
  if (status != 0) {
    WScript.Echo("message " + number + ": status " + status);
    failed = true;
  } else {
    WScript.Echo("message " + number + ": from " + message.From + ", subject \"" + message.Subject + "\", " +
                 message.TextMessage.length + " characters of body");
  }
  retrieved = number;
}
function Pop3_OnPOP3Disconnect(status) { closed = true; }

function WaitFor(condition) {
  for (var waited = 0; !condition() && !closed && waited < 30000; waited += 10) WScript.Sleep(10);
  return condition();
}

pop3.Server = args(0);
pop3.Port = Number(args(1));
pop3.Username = args(2);
pop3.Password = args(3);
pop3.Connect();
if (WaitFor(function () { return ready; })) {
  pop3.GetMessageCount();
  WaitFor(function () { return count != null; });
  for (var n = 1; n <= count && !failed; ++n) {
    retrieved = null;
    pop3.RetrieveMessage(n);
    WaitFor(function () { return retrieved == n; });
  }
}
if (!closed) {
  pop3.Disconnect();
  WaitFor(function () { return closed; });
}
WScript.Quit(ready && !failed ? 0 : 1);
