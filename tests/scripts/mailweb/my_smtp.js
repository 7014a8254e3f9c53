// MySmtp by name, as a page calls it, against aiosmtpd on 127.0.0.1 (started
// by the mailweb_mail fixture), which writes what it received to the spool.
// The fixtures keep their files below mailweb\ in the build folder.
function fixturePath(name) { return fixtureFile("mailweb", name); }

var smtp = new ActiveXObject("Quillnet.MySmtp");
check("server", smtp.SetServer("127.0.0.1:" + QK_PORT_SMTP_SINK), 0);
var box = "script-" + new Date().getTime() + "@example.test";
check("send", smtp.SendMail("Page Script <page@example.test>", box + "; other@example.test",
                            "From a page", "line one\n.\n..two\r\nlast", "copy@example.test"), 0);
var summary = readText(fixturePath("spool/" + box + ".txt"));
check("sender", summary.indexOf("mail_from: page@example.test\n") >= 0, true);
check("recipients", summary.indexOf("rcpt_tos: " + box + ",other@example.test,copy@example.test\n") >= 0, true);
check("from", summary.indexOf("From: Page Script <page@example.test>\n") >= 0, true);
check("cc", summary.indexOf("Cc: copy@example.test\n") >= 0, true);
check("subject", summary.indexOf("Subject: From a page\n") >= 0, true);
check("body", readText(fixturePath("spool/" + box + ".body")), "line one\n.\n..two\nlast\n");
// Empty fields keep the earlier message's texts.
var second = "script2-" + new Date().getTime() + "@example.test";
check("second send", smtp.SendMail("", second, "", "", ""), 0);
check("kept subject", readText(fixturePath("spool/" + second + ".txt")).indexOf("Subject: From a page\n") >= 0, true);

var other = new ActiveXObject("Quillnet.MySmtp");
check("no server yet", other.SendMail("a@example.test", "b@example.test", "s", "b", ""), 2002);
check("empty server", other.SetServer(""), 2001);
check("bad port", other.SetServer("mail.example.test:99999"), 2001);
check("unreachable accepted", other.SetServer("127.0.0.1:" + QK_PORT_MAILWEB_CLOSED), 0);
check("unreachable send", other.SendMail("a@example.test", "b@example.test", "s", "b", ""), 10061);
check("no recipient", other.SendMail("a@example.test", ";", "", "", ""), 2004);
other = null;
smtp = null;
if (failures === 0) WScript.Echo("ALL TESTS PASSED");
