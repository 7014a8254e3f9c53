// KestleImage called by name as a page does: load, read, scale, save.
var fso = new ActiveXObject("Scripting.FileSystemObject");
var tests = fso.GetParentFolderName(fso.GetParentFolderName(testScript));
var data = fso.BuildPath(tests, "data\\kestle");

var img = new ActiveXObject("KestleDLL.KestleImage");
check("new type", img.FileType, "");
check("new size", img.FileSize, 0);
check("iconize without picture", img.Iconize(10, 10), 32768);

check("load png", img.LoadImage(fso.BuildPath(data, "sample.png")), 0);
check("png type", img.FileType, "PNG");
check("png width", img.Width, 40);
check("png height", img.Height, 20);
check("png depth", img.BPP, 24);
check("png size", img.FileSize, fso.GetFile(fso.BuildPath(data, "sample.png")).Size);

check("iconize", img.Iconize(100, 100), 0);
check("new width", img.Width, 100);
check("new height", img.Height, 100);
check("depth kept", img.BPP, 24);
check("iconize zero", img.Iconize(0, 10), 32768);
check("width kept", img.Width, 100);

// The test runs in the build folder.
var out = fso.BuildPath(fso.GetAbsolutePathName("."), "kestle_script_thumb.jpg");
if (fso.FileExists(out)) fso.DeleteFile(out);
check("save", img.SaveImage(out, 75), 0);
check("saved", fso.FileExists(out), true);
if (fso.FileExists(out)) check("size after save", img.FileSize, fso.GetFile(out).Size);

check("missing file", img.LoadImage(fso.BuildPath(data, "no_such_picture.png")), 32769);
check("picture kept", img.Width, 100);
check("type kept", img.FileType, "PNG");

var again = new ActiveXObject("KestleDLL.KestleImage.1");
check("reload saved", again.LoadImage(out), 0);
check("saved type", again.FileType, "JPG");
check("saved width", again.Width, 100);
check("load gif", again.LoadImage(fso.BuildPath(data, "sample.gif")), 0);
check("gif type", again.FileType, "GIF");
check("gif depth", again.BPP, 8);
check("gif width", again.Width, 30);
if (fso.FileExists(out)) fso.DeleteFile(out);

if (failures == 0) WScript.Echo("ALL TESTS PASSED");
