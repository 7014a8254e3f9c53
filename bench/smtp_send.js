// MySmtp.SendMail of COUNT messages over one connection; prints the time.
// Usage: cscript smtp_send.js SERVER COUNT
var server = WScript.Arguments(0);
var count = parseInt(WScript.Arguments(1), 10);
var body = "";
for (var i = 0; i < 16; i++) body += "Line " + i + " of the benchmark message, long enough to look like a mail.\n";
var smtp = new ActiveXObject("Quillnet.MySmtp");
var t0 = new Date().getTime();
var r = smtp.SetServer(server);
var failed = 0;
for (var n = 0; n < count && r === 0; n++) {
    if (smtp.SendMail("Bench Sender <sender@example.test>", "to@example.test", "Benchmark message " + n, body,
                      "copy@example.test") !== 0) failed++;
}
var ms = new Date().getTime() - t0;
smtp = null;
WScript.Echo("MySmtp.SendMail: server=" + r + " messages=" + count + " failed=" + failed + " total_ms=" + ms);
