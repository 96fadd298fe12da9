// Composes a mail message with KestNetMessageData and prints it: its header
// lines in order, a blank line, then the text body.
//
//   kestnet run examples/compose_message.js [SUBJECT]
var message = new ActiveXObject("KestNet.KestNetMessageData");
message.From = "alice@example.test";
message.To = "bob@example.test";
message.Subject = WScript.Arguments.length > 0 ? WScript.Arguments(0) : "Lunch";
message.AddHeader("X-Priority: 3");
message.TextMessage = "Noon at the usual place?";

for (var i = 0; i < message.NumHeaders; ++i) WScript.Echo(message.GetHeader(i));
WScript.Echo("");
WScript.Echo(message.TextMessage);
