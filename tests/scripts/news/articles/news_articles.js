// The golden articles of tests/data/articles, posted to test.articles of an
// INN instance of their own, read by a page through Quillnet.MyNntp: each
// text, attachment list and attachment file must be what the golden files
// say, and each stored copy must hold the text. Then the server is stopped
// (tests/news/articles-test.sh does that when asked) and every article is
// read again through the same session: it can only come from the stored
// copies. INN adds headers of its own, so only the body is compared.
// Arguments: the server's port, the run folder for the stop handshake, the
// list of the articles the fixture posted.
// Long texts: where they part, rather than both of them whole.
function same(name, actual, expected) {
    if (actual === expected) return;
    if (actual === null || actual === undefined) return fail(name + ": got nothing");
    var i = 0;
    while (i < actual.length && i < expected.length && actual.charAt(i) === expected.charAt(i)) i++;
    fail(name + ": lengths " + actual.length + "/" + expected.length + ", first difference at " + i + ": got [" +
         escape(actual.substr(i, 40)) + "] expected [" + escape(expected.substr(i, 40)) + "]");
}

var args = WScript.Arguments;
var port = args(0);
var run = args(1);
var manifest = args(2);
var shell = new ActiveXObject("WScript.Shell");
var fso = new ActiveXObject("Scripting.FileSystemObject");

// Whole file as text (the system code page, as the session converts), or
// null when there is none.
function readAll(path) {
    if (!fso.FileExists(path)) return null;
    if (fso.GetFile(path).Size == 0) return "";
    var stream = fso.OpenTextFile(path, 1, false, 0);
    var text = stream.ReadAll();
    stream.Close();
    return text;
}
function size(path) { return fso.FileExists(path) ? fso.GetFile(path).Size : -1; }

var tests = fso.GetParentFolderName(fso.GetParentFolderName(fso.GetParentFolderName(
    fso.GetParentFolderName(testScript))));
var golden = tests + "\\data\\articles";
var root = shell.RegRead("HKLM\\Software\\Yarrowfen\\Quillnet\\WWWRoot");
var folder = root + "\\news\\test\\articles";
// The golden files were made for a group whose folder is news\test\group.
function placed(text) { return text.split("\\news\\test\\group\\").join("\\news\\test\\articles\\"); }
function occurrences(text, part) { return text.split(part).length - 1; }

var names = [];
var list = readAll(manifest);
ok("list of posted articles", list);
if (list) {
    var lines = list.split("\n");
    for (var i = 0; i < lines.length; i++)
        if (lines[i] !== "") names.push(lines[i]);
}
ok("articles posted", names.length > 0);

var nntp = new ActiveXObject("Quillnet.MyNntp");
check("connect", nntp.SetServer("127.0.0.1:" + port), 0);
check("group", nntp.SetGroup("test.articles"), 0);
check("listing", nntp.GetListing(-1, 1), 0);
check("listed", nntp.GetListLength(), names.length);
var entry = {};
for (var i = 0; i < nntp.GetListLength(); i++) {
    var subject = nntp.GetSubject(i);
    if (subject.indexOf("golden ") === 0) entry[subject.substring(7)] = { index: i, number: nntp.GetArticleID(i) };
}

function expectations(name) {
    var stored = readAll(golden + "\\" + name + "\\stored.txt");
    var attachments = readAll(golden + "\\" + name + "\\attachments.txt");
    var entries = attachments.split("\n");
    entries.pop();  // each entry ends with a line break
    return {
        text: placed(stored),
        storedSize: size(golden + "\\" + name + "\\stored.txt") +
                    occurrences(stored, "\\news\\test\\group\\") * ("articles".length - "group".length),
        attachments: placed(attachments),
        entries: entries
    };
}

// Reads one article through the session and compares everything it left.
function readArticle(phase, name) {
    var e = entry[name];
    if (!e) return fail(phase + " " + name + ": not in the listing");
    var label = phase + " " + name;
    var want = expectations(name);
    var copy = folder + "\\" + e.number;
    var rc = nntp.SetArticle(e.index, 1);
    if (phase === "server") {
        check(label + " chosen", rc, 0);
        check(label + " subject", nntp.GetMoreInfo(-1, 5), "golden " + name);
        check(label + " newsgroups", nntp.GetMoreInfo(-1, 3), "test.articles");
        check(label + " from", nntp.GetMoreInfo(-1, 2), "Golden Articles <golden@example.invalid>");
        ok(label + " no stored copy yet", !fso.FileExists(copy));
    } else {
        ok(label + " the server is gone (" + rc + ")", rc !== 0);
    }
    check(label + " number", nntp.GetMoreInfo(-1, 6), e.number);
    same(label + " text", nntp.GetText(), want.text);
    same(label + " attachment list", nntp.GetMoreInfo(-1, 0), want.attachments);
    check(label + " attachment count", nntp.GetMoreInfo(-1, 8), String(want.entries.length));
    same(label + " stored copy", readAll(copy), want.text);
    check(label + " stored copy size", size(copy), want.storedSize);
    for (var k = 0; k < want.entries.length; k++) {
        var file = want.entries[k].substring(want.entries[k].lastIndexOf("\\") + 1);
        var written = folder + "\\" + file;
        ok(label + " file " + file, fso.FileExists(written));
        // Two articles may carry attachments of the same name; after the
        // first reading the folder holds the last one written.
        if (phase !== "server") continue;
        var expected = golden + "\\" + name + "\\files\\" + file;
        check(label + " size of " + file, size(written), size(expected));
        same(label + " content of " + file, readAll(written), readAll(expected));
    }
}

for (var n = 0; n < names.length; n++) readArticle("server", names[n]);
// Hostile names stay inside the group folder.
var above = [root, root + "\\news", root + "\\news\\test"];
for (var a = 0; a < above.length; a++) ok("no x.exe in " + above[a], !fso.FileExists(above[a] + "\\x.exe"));

// Ask for the server to be stopped, and wait for the answer (ping is the
// sleep a script has here).
fso.CreateTextFile(run + "\\stop-server", true).Close();
for (var waited = 0; waited < 120 && !fso.FileExists(run + "\\server-stopped"); waited++)
    shell.Run("ping -n 2 127.0.0.1", 0, true);
var answer = readAll(run + "\\server-stopped");
check("server stopped", answer === null ? null : answer.replace(/\s+$/, ""), "stopped");

// A new session finds no server to select the group on.
var late = new ActiveXObject("Quillnet.MyNntp");
check("connect after the stop", late.SetServer("127.0.0.1:" + port), 0);
check("group after the stop", late.SetGroup("test.articles"), -1);

for (var n = 0; n < names.length; n++) readArticle("stored", names[n]);

if (failures === 0) WScript.Echo("ALL TESTS PASSED");
