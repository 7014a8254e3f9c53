// SavePostedFile and Run called by name from script: a script cannot make a
// byte array, so every body it can pass is a bad parameter; Run reports the
// Windows error of the step that failed.

var k = new ActiveXObject("KestleDLL.Kestle");
var body = "--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"x.txt\"\r\n" +
           "Content-Type: text/plain\r\n\r\nhello\r\n--b--\r\n";
check("text body", k.SavePostedFile(body, "."), "Bad Parameter");
check("number body", k.SavePostedFile(42, "."), "Bad Parameter");
check("null body", k.SavePostedFile(null, "."), "Bad Parameter");
check("array of variants", k.SavePostedFile([1, 2, 3], "."), "Bad Parameter");
var fso = new ActiveXObject("Scripting.FileSystemObject");
check("nothing written", fso.FileExists("x.txt"), false);

var missing = k.Run("nobody", "wrong", "", "no_such_program_kestle.exe", "");
check("run reports a number", typeof missing, "number");
check("run failed", missing != 0, true);
check("fifth argument ignored", k.Run("nobody", "wrong", "", "no_such_program_kestle.exe", "whatever"), missing);

if (failures == 0) WScript.Echo("ALL TESTS PASSED");
