// One cscript run: a page posting COUNT articles over one connection, the
// whole run repeated ROUNDS times (a new object and connection each round).
// Usage: cscript news_post.js SERVER GROUP COUNT ROUNDS
var args = WScript.Arguments;
var server = args(0), group = args(1), count = parseInt(args(2), 10), rounds = parseInt(args(3), 10);
var body = "";
for (var l = 0; l < 10; l++) body += "Line " + l + " of a benchmark article, long enough to be a real line of text.\r\n";
var times = [];
for (var r = 0; r < rounds; r++) {
    var nntp = new ActiveXObject("Quillnet.MyNntp");
    var start = new Date().getTime();
    if (nntp.SetServer(server) !== 0) {
        WScript.Echo("FAIL connect: " + nntp.GetLastError());
        break;
    }
    for (var i = 0; i < count; i++) {
        if (nntp.PostArticle("Bench <bench@example.invalid>", group, "Bench article " + r + "." + i, body) !== 0) {
            WScript.Echo("FAIL post " + i + ": " + nntp.GetLastError());
            WScript.Quit(1);
        }
    }
    times.push(new Date().getTime() - start);
    nntp = null;
    CollectGarbage();
}
times.sort(function (a, b) { return a - b; });
WScript.Echo("mynntp rounds=" + times.length + " posts=" + count + " median_ms=" + times[Math.floor(times.length / 2)]);
