// A page's walk through the news reader, by name, against the INN test
// server: connect, select, list forward and backward, read every entry,
// refusals, and the group list cache file.

var shell = new ActiveXObject("WScript.Shell");
var fso = new ActiveXObject("Scripting.FileSystemObject");
var root = shell.RegRead("HKLM\\Software\\Yarrowfen\\Quillnet\\WWWRoot");
var store = root + "\\news";

var nntp = new ActiveXObject("Quillnet.MyNntp");
check("group before connect", nntp.SetGroup("test.big"), -1);
check("connect", nntp.SetServer("127.0.0.1:" + QK_PORT_INN), 0);
check("no error yet", nntp.GetLastError(), "0");
check("select big", nntp.SetGroup("test.big"), 0);
check("group name", nntp.GetGroup(), "test.big");
check("first", nntp.GetFirstArticle(), 1);
check("last", nntp.GetLastArticle(), 350);
check("count", nntp.GetArticleCount(), 350);
ok("group folder", fso.FolderExists(store + "\\test\\big"));

// Reads every entry and checks that its fields belong together; returns
// the article numbers in listing order.
function readAll(label, group) {
    var n = nntp.GetListLength();
    var numbers = [];
    for (var i = 0; i < n; i++) {
        var id = nntp.GetArticleID(i);
        var subject = nntp.GetSubject(i);
        check(label + " subject " + i, subject, group + " article " + id);
        check(label + " more subject " + i, nntp.GetMoreInfo(i, 5), subject);
        check(label + " more number " + i, nntp.GetMoreInfo(i, 6), id);
        ok(label + " from " + i, /^Poster \d <poster\d@example\.invalid>$/.test(nntp.GetFrom(i)));
        ok(label + " date " + i, /^Mon, 01 Jan 2024 \d\d:\d\d:00 \+0000$/.test(nntp.GetDate(i)));
        ok(label + " size " + i, nntp.GetSize(i) > 100);
        check(label + " size text " + i, nntp.GetMoreInfo(i, 7), String(nntp.GetSize(i)));
        check(label + " lines " + i, nntp.GetMoreInfo(i, 9), String(parseInt(id, 10) % 7 + 1));
        check(label + " no attachments " + i, nntp.GetMoreInfo(i, 8), "0");
        numbers.push(parseInt(id, 10));
    }
    return numbers;
}
function range(a, b) { var r = []; for (var i = a; i <= b; i++) r.push(i); return r; }
function sorted(a) { return a.slice(0).sort(function (x, y) { return x - y; }); }

check("forward", nntp.GetListing(-1, 1), 0);
check("forward length", nntp.GetListLength(), 100);
check("forward order", readAll("fwd", "test.big").join(","), range(250, 349).join(","));

check("backward", nntp.GetListing(-1, 0), 0);
check("backward length", nntp.GetListLength(), 100);
var back = readAll("back", "test.big");
check("backward set", sorted(back).join(","), range(151, 250).join(","));
check("ring start", back[0], 250);

check("from the start", nntp.GetListing(1, 1), 0);
check("from the start order", readAll("start", "test.big").join(","), range(1, 100).join(","));

check("select small", nntp.SetGroup("test.small"), 0);
check("small listing", nntp.GetListing(-1, 0), 0);
check("small in order", readAll("small", "test.small").join(","), range(1, 40).join(","));

check("select gap", nntp.SetGroup("test.gap"), 0);
check("gap listing", nntp.GetListing(1, 1), 0);
var gap = readAll("gap", "test.gap");
check("gap numbers", gap.join(","), range(1, 20).concat(range(261, 330)).join(","));

check("bad index", nntp.GetSubject(-1), "Error: Bad Index Number (-1)");
check("bad item", nntp.GetMoreInfo(0, 10), "Error: Bad Item Requested (10)");
check("index before item", nntp.GetMoreInfo(95, 10), "Error: Bad Index Number (95)");
check("current article", nntp.GetMoreInfo(-1, 6), "0");
check("bad size", nntp.GetSize(1000), 0);

check("refused group", nntp.SetGroup("no.such.group"), 411);
check("refused text", nntp.GetLastError().substring(0, 3), "411");
check("no group now", nntp.GetGroup(), "");
check("no first", nntp.GetFirstArticle(), -1);
var threw = false;
try { nntp.GetListing(-1, 1); } catch (e) { threw = true; }
check("listing without group throws", threw, true);
check("previous listing kept", nntp.GetListLength(), 90);

check("group list", nntp.GetAllGroups(), 0);
var file = store + "\\NewsList.txt";
ok("list file", fso.FileExists(file));
var text = fso.OpenTextFile(file, 1).ReadAll();
var lines = text.split("\r\n");
check("ends with a line end", lines[lines.length - 1], "");
lines.pop();
var seen = {};
for (var i = 0; i < lines.length; i++) {
    ok("line format " + lines[i], /^\d+ [^ ]+$/.test(lines[i]));
    var parts = lines[i].split(" ");
    seen[parts[1]] = parseInt(parts[0], 10);
}
check("big in list", seen["test.big"], 350);
check("small in list", seen["test.small"], 40);
check("empty in list", seen["test.empty"], 0);
check("gap in list", seen["test.gap"], 330);
ok("not in a group folder", !fso.FileExists(store + "\\test\\gap\\NewsList.txt"));
check("twice rewrites", nntp.GetAllGroups(), 0);
check("same length", fso.OpenTextFile(file, 1).ReadAll().length, text.length);

var versioned = new ActiveXObject("Quillnet.MyNntp.1");
check("versioned connect", versioned.SetServer("nntp://127.0.0.1:" + QK_PORT_INN), 0);
check("versioned select", versioned.SetGroup("test.empty"), 0);
check("empty group listing", versioned.GetListing(-1, 1), 0);
check("empty group length", versioned.GetListLength(), 0);
check("TLS to a plain server", versioned.SetServer("nntps://localhost:" + QK_PORT_INN), 0);
check("handshake refused", versioned.GetLastError().substr(0, 4), "1002");
check("empty server", versioned.SetServer(""), 1001);

if (failures === 0) WScript.Echo("ALL TESTS PASSED");
