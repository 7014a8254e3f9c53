// MyHttp by name, as a page calls it, against nginx and tinyproxy on
// 127.0.0.1 (started by the mailweb_web fixture).
// The fixtures keep their files below mailweb\ in the build folder.
function fixturePath(name) { return fixtureFile("mailweb", name); }

var base = "http://127.0.0.1:" + QK_PORT_NGINX;
var http = new ActiveXObject("Quillnet.MyHttp");
check("plain page", http.GetURL(base + "/hello.txt", "", ""), "Hello from nginx\n");
var page = http.GetURL(base + "/utf8/page.html", "", "");
check("utf-8 page", page.indexOf("Gr\u00fc\u00dfe, \u03ba\u03b1\u03bb\u03b7\u03bc\u03ad\u03c1\u03b1 \u20ac \u4f60\u597d") > 0, true);
var zeros = http.GetRealTime(base + "/zeros.bin");
check("zero bytes kept", zeros.length, 6);
check("zero byte", zeros.charCodeAt(1), 0);
check("after the zeros", zeros.charAt(5), "C");
check("404", http.GetURL(base + "/no/such/page.html", "", ""), "Error: SetAction(HTTP_GET) failed.404");
check("no scheme", http.GetURL("www.example.com/index.html", "", ""), "Error: SetURL(www.example.com/index.html) failed. 12006");
check("space", http.GetURL(base + "/a page.html", "", ""), "Error: SetURL(" + base + "/a page.html) failed. 12005");
check("refused port", http.GetRealTime("http://127.0.0.1:" + QK_PORT_MAILWEB_CLOSED + "/"), "Error: SetAction(HTTP_GET) failed.12029");
check("needs a user", http.GetRealTime(base + "/private/secret.txt"), "Error: SetAction(HTTP_GET) failed.401");
check("basic auth", http.GetURL(base + "/private/secret.txt", "reader", "s3cret word"), "top secret\n");
check("user kept", http.GetRealTime(base + "/private/secret.txt"), "top secret\n");
check("redirects", http.GetRealTime(base + "/r3"), "Hello from nginx\n");
check("redirect loop", http.GetRealTime(base + "/loop"), "Error: SetAction(HTTP_GET) failed.12156");

var marker = "/hello.txt?script-proxy=" + new Date().getTime();
check("proxy set", http.SetProxy("127.0.0.1", QK_PORT_PROXY), 0);
check("through the proxy", http.GetRealTime("http://localhost:" + QK_PORT_NGINX + marker), "Hello from nginx\n");
check("proxy log", readText(fixturePath("web/tinyproxy.log")).indexOf("GET http://localhost:" + QK_PORT_NGINX + marker) >= 0, true);
check("bad proxy port", http.SetProxy("127.0.0.1", 0), 87);
check("proxy off", http.SetProxy("", 0), 0);
check("direct again", http.GetRealTime(base + "/hello.txt"), "Hello from nginx\n");
http = null;
if (failures === 0) WScript.Echo("ALL TESTS PASSED");
