// MyHttp.GetURL of one large document, ROUNDS times; prints the best time.
// Usage: cscript http_get.js URL ROUNDS
var url = WScript.Arguments(0);
var rounds = parseInt(WScript.Arguments(1), 10);
var http = new ActiveXObject("Quillnet.MyHttp");
var best = -1, length = 0;
for (var i = 0; i < rounds; i++) {
    var t0 = new Date().getTime();
    var page = http.GetURL(url, "", "");
    var ms = new Date().getTime() - t0;
    length = page.length;
    page = null;
    CollectGarbage();
    if (best < 0 || ms < best) best = ms;
}
WScript.Echo("MyHttp.GetURL: chars=" + length + " best_ms=" + best);
