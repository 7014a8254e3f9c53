// A page's thumbnail in-process: LoadImage, Iconize and SaveImage on a new
// KestleImage, timed inside the script around the three calls.
// Usage: cscript kestle_thumbnail.js IN OUT WIDTH HEIGHT QUALITY RUNS
// Prints the median and the fastest of the runs in milliseconds.
var a = WScript.Arguments;
var runs = parseInt(a(5), 10), times = [];
for (var i = 0; i < runs; ++i) {
    var image = new ActiveXObject("KestleDLL.KestleImage");
    var t0 = new Date().getTime();
    var status = image.LoadImage(a(0));
    if (status == 0) status = image.Iconize(parseInt(a(2), 10), parseInt(a(3), 10));
    if (status == 0) status = image.SaveImage(a(1), parseInt(a(4), 10));
    times.push(new Date().getTime() - t0);
    if (status != 0) {
        WScript.Echo("FAIL status " + status);
        WScript.Quit(1);
    }
    image = null;
}
times.sort(function (x, y) { return x - y; });
WScript.Echo(times[Math.floor((runs - 1) / 2)] + " " + times[0]);
