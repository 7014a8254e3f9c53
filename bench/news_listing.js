// One cscript run: a page's listing of the big test group, repeated.
// Each round: new object, SetServer, SetGroup, GetListing(-1, 0) and the
// subject, sender, date and size of all 100 entries.
// Usage: cscript news_listing.js SERVER GROUP ROUNDS
var args = WScript.Arguments;
var server = args(0), group = args(1), rounds = parseInt(args(2), 10);
var times = [];
var checksum = 0;
for (var r = 0; r < rounds; r++) {
    var nntp = new ActiveXObject("Quillnet.MyNntp");
    var start = new Date().getTime();
    if (nntp.SetServer(server) !== 0 || nntp.SetGroup(group) !== 0 || nntp.GetListing(-1, 0) !== 0) {
        WScript.Echo("FAIL listing: " + nntp.GetLastError());
        break;
    }
    var n = nntp.GetListLength();
    for (var i = 0; i < n; i++) {
        checksum += nntp.GetSubject(i).length + nntp.GetFrom(i).length + nntp.GetDate(i).length + nntp.GetSize(i);
    }
    times.push(new Date().getTime() - start);
    nntp = null;
    CollectGarbage();
}
times.sort(function (a, b) { return a - b; });
var total = 0;
for (var t = 0; t < times.length; t++) total += times[t];
WScript.Echo("mynntp rounds=" + times.length + " entries=" + n + " median_ms=" + times[Math.floor(times.length / 2)] +
             " mean_ms=" + (total / times.length).toFixed(2) + " checksum=" + checksum);
