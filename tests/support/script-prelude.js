// What every JScript test starts with: the check helpers and the failure
// count its last line reports on. Wine's cscript has no include, so
// tests/support/script-prelude.sh joins this file onto the test's first line;
// the test's own line numbers are then the ones errors name. Joined that way,
// only whole lines may be comments and every statement ends with ";" or "}".
// `testScript` (the test's own path) is set in front of it by the joiner.
var failures = 0;
function fail(text) {
    WScript.Echo("FAIL " + text);
    failures++;
}
function check(name, actual, expected) {
    if (actual !== expected) fail(name + ": got [" + actual + "] expected [" + expected + "]");
}
function ok(name, condition) { check(name, !!condition, true); }
// A file the fixtures of `area` keep below the build folder, where
// run-script.sh starts the script ("/" may separate the folders).
function fixtureFile(area, name) {
    var fso = new ActiveXObject("Scripting.FileSystemObject");
    return fso.GetAbsolutePathName(area + "\\" + name.replace(/\//g, "\\"));
}
// A whole file as text, or "" when there is none.
function readText(path) {
    var fso = new ActiveXObject("Scripting.FileSystemObject");
    if (!fso.FileExists(path)) return "";
    var f = fso.OpenTextFile(path, 1);
    var text = f.AtEndOfStream ? "" : f.ReadAll();
    f.Close();
    return text;
}
