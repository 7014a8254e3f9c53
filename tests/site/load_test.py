#!/usr/bin/python3
"""The news site under load, with the page host's threads and the
components' shared state (group folders, NewsList.txt, stored copies,
attachment files, thumbnails) used side by side on purpose:

- 8 clients on kept-alive connections ask mixed pages for LOAD_SECONDS
  (default 30), among them "/?refresh=1", which rewrites NewsList.txt
  while other pages read it; every answer must be whole and good;
- meanwhile a page loops past its ScriptTimeout: it must be answered 500
  with ASP 0113 while the other clients keep being served; so must one
  that waits in a component call past it, once the call returns;
- pairs of pages read the same new article at the same moment, some pairs
  through one host, some through two hosts over one store folder (a second
  PageHost.exe on the same web root, as a web farm shares a folder);
- a host with one thread and a queue of one answers 503 at once when full,
  and its thread comes back after a page that timed out.
Afterwards, byte for byte: each new article's stored copy equals that of
its twin read alone, its attachments equal what was posted, its thumbnail
equals the twin's, and no file appeared anywhere else (no temporary files
left, nothing outside the store's group folders).

Usage: load_test.py BUILD_DIR SITE_DIR BASE_PORT   (the site fixture's instance)
"""

import hashlib
import http.client
import nntplib
import os
import socket
import subprocess
import sys
import threading
import time
import warnings

warnings.simplefilter("ignore", DeprecationWarning)
here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
sys.path.insert(0, os.path.join(here, "..", "support"))
import site_data  # noqa: E402
import host_log  # noqa: E402
from ports import PORTS  # noqa: E402

build, site_dir, base = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), int(sys.argv[3])
www = os.path.join(site_dir, "www")
# The instance's ports lie at the distances QK_SITE_* from its base (site-fixture.sh).
HOST_A, HOST_B, HOST_C, INN = (base + PORTS["QK_SITE_" + n] for n in ("HOST", "LOAD_HOST_B", "LOAD_HOST_C", "INN"))
SECONDS = float(os.environ.get("LOAD_SECONDS", "30"))
CLIENTS = 8
PAIRS = 6
failures = []
lock = threading.Lock()


def fail(text):
    with lock:
        if len(failures) < 40:
            print("FAIL " + text, flush=True)
        failures.append(text)


def winpath(path):
    return "Z:" + path.replace("/", "\\")


def start_host(port, log, *extra):
    command = ('. "$0/scripts/wine-env.sh" "$1" && exec wine "$2" --root "$3" --port "$4" "${@:5}"')
    out = open(log, "w")
    p = subprocess.Popen(["bash", "-c", command, os.path.dirname(os.path.dirname(here)), site_dir,
                          os.path.join(build, "bin", "PageHost.exe"), winpath(www), str(port)] + list(extra),
                         stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
    return p


def wait_port(port, seconds=60):
    end = time.time() + seconds
    while time.time() < end:
        c = http.client.HTTPConnection("127.0.0.1", port, timeout=2)
        try:
            c.connect()
            return True
        except OSError:
            time.sleep(0.2)
        finally:
            c.close()
    return False


def get(port, path, connection=None, timeout=120):
    """(status, body, seconds) of one GET; a connection given is kept alive."""
    c = connection or http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    start = time.perf_counter()
    c.request("GET", path)
    r = c.getresponse()
    body = r.read()
    if not connection:
        c.close()
    return r.status, body, time.perf_counter() - start


# --- the new articles -------------------------------------------------------

def picture(i):
    return site_data.png(240, 160, lambda x, y: ((x * (i + 3)) % 256, (y * 7 + i) % 256, (x + y) % 256))


def attachment_text(i):
    return ("Notes of load article %d\r\n" % i + "line of text\r\n" * (200 + i)).encode()


def post_article(server, group, i, stamp):
    boundary = "=_load_%d" % i
    lines = ["From: Load Test <load@example.invalid>", "Newsgroups: " + group,
             "Subject: Load article %d" % i, "Message-ID: <load-%s-%d-%s@quillnet.test>" % (stamp, i, group),
             "MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=\"%s\"" % boundary, "",
             "This is a multi-part message in MIME format.", "", "--" + boundary,
             "Content-Type: text/plain; charset=us-ascii", "", "Article %d for the load test." % i, ""]
    for name, kind, data in (("load-%d.png" % i, "image/png", picture(i)),
                             ("load-%d.txt" % i, "text/plain", attachment_text(i))):
        lines += ["--" + boundary, "Content-Type: %s; name=\"%s\"" % (kind, name),
                  "Content-Transfer-Encoding: base64", "Content-Disposition: attachment; filename=\"%s\"" % name, ""]
        lines += site_data.b64_lines(data) + [""]
    lines.append("--" + boundary + "--")
    server.post([l.encode() + b"\r\n" for l in lines])


def numbers_by_subject(server, group):
    _, _, first, last, _ = server.group(group)
    _, overviews = server.over((first, last))
    return {o["subject"]: n for n, o in overviews}


def folder_of(group):
    return os.path.join(www, "news", *group.split("."))


def snapshot():
    files = {}
    for root, _, names in os.walk(www):
        for n in names:
            p = os.path.join(root, n)
            with open(p, "rb") as f:
                files[os.path.relpath(p, www)] = hashlib.sha256(f.read()).hexdigest()
    for n in os.listdir(site_dir):
        if os.path.isfile(os.path.join(site_dir, n)):
            files[os.path.join("..", n)] = "outside"
    drive_c = os.path.join(site_dir, "wine", "drive_c")
    for n in os.listdir(drive_c):
        files[os.path.join("C:", n)] = "outside"
    return files


def good_page(path, status, body):
    text = body.decode("utf-8", "replace")
    if path.startswith("/test/empty.asp"):
        return status == 200 and text == "ok\n"
    return status == 200 and text.rstrip().endswith("</body></html>") and 'class="error"' not in text


# --- the load ---------------------------------------------------------------

MIX = ["/", "/?refresh=1", "/group.asp?g=demo.talk", "/group.asp?g=demo.big", "/article.asp?g=demo.talk&n=1",
       "/article.asp?g=demo.pictures&n=1", "/article.asp?g=demo.pictures&n=2", "/test/empty.asp"]
done = []  # (finish time, seconds) of every mixed page
closed = []  # kept-alive connections the host closed after a page


def client(k, until):
    ports = [HOST_A, HOST_A, HOST_B] if k % 2 else [HOST_A]
    connections = {}
    n = 0
    while time.time() < until:
        port = ports[n % len(ports)]
        path = MIX[(n + k) % len(MIX)]
        n += 1
        c = connections.get(port) or http.client.HTTPConnection("127.0.0.1", port, timeout=120)
        connections[port] = c
        try:
            status, body, took = get(port, path, c)
        except (OSError, http.client.HTTPException) as e:
            fail("client %d: %s on port %d: %r" % (k, path, port, e))
            connections.pop(port).close()
            continue
        with lock:
            done.append((time.time(), took))
            if c.sock is None:  # the host closed a connection the client kept
                closed.append(port)
        if not good_page(path, status, body):
            text = body.decode("utf-8", "replace")
            error = text.find('class="error"')
            fail("client %d: %s on port %d answered %d: %r" % (k, path, port, status,
                                                               text[error:error + 200] if error >= 0 else text[-300:]))
    for c in connections.values():
        c.close()


def slow_web_server(port, seconds):
    """Answers one request after `seconds`."""
    listener = socket.create_server(("127.0.0.1", port))
    listener.settimeout(30)

    def answer():
        try:
            c, _ = listener.accept()
            c.recv(65536)
            time.sleep(seconds)
            c.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nlater")
            c.close()
        except OSError:
            pass
        listener.close()

    threading.Thread(target=answer, daemon=True).start()


def waiting_in_a_component():
    """A page past its ScriptTimeout inside a component call is stopped once
    the call returns; the host's attempts meanwhile do it no harm."""
    slow_web_server(HOST_A + 4, 5)  # where slow_fetch.asp asks: its own port + 4
    status, body, took = get(HOST_A, "/test/slow_fetch.asp")
    if status != 500 or b"ASP 0113" not in body or not 5 <= took < 12:
        fail("the page waiting in a component: %d after %.1f s, %r" % (status, took, body[-200:]))


def timed_out_page():
    """A page past its ScriptTimeout on host A while the clients go on."""
    waiting = threading.Thread(target=waiting_in_a_component)
    waiting.start()
    started = time.time()
    status, body, took = get(HOST_A, "/test/spin.asp")
    with lock:
        served = [t for t, _ in done if started < t < started + took]
    text = body.decode("utf-8", "replace")
    if status != 500 or "ASP 0113" not in text or "Script timed out" not in text:
        fail("the endless page answered %d: %r" % (status, text[-300:]))
    if not 2 <= took < 8:
        fail("the endless page (ScriptTimeout 2) took %.1f s" % took)
    if len(served) < 5:
        fail("only %d pages were served while a page ran past its ScriptTimeout" % len(served))
    waiting.join()
    print("ScriptTimeout: answered 500 ASP 0113 after %.1f s; %d other pages served meanwhile" % (took, len(served)))


def same_moment_readers(numbers):
    """Two pages read each new article at the same moment; odd articles
    through two hosts over the one store."""
    for i in range(PAIRS):
        n = numbers[i]
        ports = (HOST_A, HOST_B) if i % 2 else (HOST_A, HOST_A)
        barrier = threading.Barrier(2)
        answers = []

        def read(port):
            c = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
            c.connect()
            barrier.wait()
            answers.append((port,) + get(port, "/article.asp?g=demo.pictures&n=%d" % n, c)[:2])
            c.close()

        readers = [threading.Thread(target=read, args=(p,)) for p in ports]
        for t in readers:
            t.start()
        for t in readers:
            t.join()
        for port, status, body in answers:
            text = body.decode("utf-8", "replace")
            if not good_page("/article.asp", status, body) or text.count('class="attachment"') != 2 or \
                    'class="thumb"' not in text or "missing" in text:
                fail("article %d read at the same moment on port %d: %d %r" % (n, port, status, text[-400:]))


def full_queue():
    """Host C has one thread and a queue of one: a third request at once
    gets 503; the thread comes back after the page that timed out."""
    results = {}

    def ask(name, path):
        results[name] = get(HOST_C, path)

    # A client that connects and sends nothing must not take the one thread.
    silent = socket.create_connection(("127.0.0.1", HOST_C))
    time.sleep(0.3)
    spin = threading.Thread(target=ask, args=("spin", "/test/spin.asp"))
    spin.start()
    time.sleep(0.7)
    queued = threading.Thread(target=ask, args=("queued", "/test/empty.asp"))
    queued.start()
    time.sleep(0.7)
    ask("busy", "/test/empty.asp")
    spin.join()
    queued.join()
    ask("after", "/test/empty.asp")
    silent.close()
    status, body, took = results["busy"]
    if status != 503 or took > 1.0:
        fail("a request beyond a full queue: %d after %.2f s, %r" % (status, took, body[:100]))
    if results["spin"][0] != 500 or results["queued"][0] != 200 or results["after"][0] != 200:
        fail("one thread, queue of one: spin %d, queued %d, after %d" %
             (results["spin"][0], results["queued"][0], results["after"][0]))
    print("full queue: 503 after %.3f s; the queued page was served after the timed-out one" % took)


def changed_pages():
    """A page or an include written anew is run anew, though the host keeps
    compiled pages."""
    page, part = os.path.join(www, "test", "changed.asp"), os.path.join(www, "test", "changed.inc")
    with open(page, "w") as f:
        f.write('<!-- #include file="changed.inc" -->page one')
    for version, text in enumerate(("part one", "part two", "part 3!!")):
        with open(part, "w") as f:
            f.write(text)
        status, body, _ = get(HOST_A, "/test/changed.asp")
        if body.decode() != text + "page one":
            fail("after include version %d the page gave %r" % (version, body))
    with open(page, "w") as f:
        f.write('<!-- #include file="changed.inc" -->page two')
    if get(HOST_A, "/test/changed.asp")[1] != b"part 3!!page two":
        fail("a page written anew was not run anew")
    os.remove(page)
    os.remove(part)
    if get(HOST_A, "/test/changed.asp")[0] != 404:
        fail("a removed page still ran")


def main():
    hosts = [start_host(HOST_B, os.path.join(site_dir, "host-b.log")),
             start_host(HOST_C, os.path.join(site_dir, "host-c.log"), "--threads", "1", "--queue", "1")]
    try:
        for port in (HOST_A, HOST_B, HOST_C):
            if not wait_port(port):
                sys.exit("the page host on port %d did not start" % port)
        run(hosts)
    finally:
        for p in hosts:
            p.terminate()
            p.wait(10)
    if failures:
        sys.exit("%d failures" % len(failures))
    print("ok")


def run(hosts):
    changed_pages()
    # The new articles, each with a twin in another group read alone first:
    # what one reader leaves is what two at once must leave.
    stamp = "%x" % int(time.time() * 1000)
    news = nntplib.NNTP("127.0.0.1", INN, readermode=True)
    for i in range(PAIRS):
        post_article(news, "demo.pictures", i, stamp)
        post_article(news, "demo.talk", i, stamp)
    numbers = numbers_by_subject(news, "demo.pictures")
    twins = numbers_by_subject(news, "demo.talk")
    news.quit()
    numbers = [numbers["Load article %d" % i] for i in range(PAIRS)]
    twins = [twins["Load article %d" % i] for i in range(PAIRS)]
    for t in twins:
        status, body, _ = get(HOST_A, "/article.asp?g=demo.talk&n=%d" % t)
        if not good_page("/article.asp", status, body):
            fail("twin article %d: %d" % (t, status))
    # Every page of the mix once, alone: what a first view stores is made
    # before the snapshot, so only what the load itself writes is new.
    for path in MIX:
        status, body, _ = get(HOST_A, path)
        if not good_page(path, status, body):
            fail("%s answered %d alone" % (path, status))
    before = snapshot()

    until = time.time() + SECONDS
    clients = [threading.Thread(target=client, args=(k, until)) for k in range(CLIENTS)]
    for t in clients:
        t.start()
    time.sleep(min(3, SECONDS / 4))
    timed_out_page()
    same_moment_readers(numbers)
    full_queue()
    for t in clients:
        t.join()
    print("%d mixed pages in %.0f s by %d clients (%.1f pages/s)" % (len(done), SECONDS, CLIENTS,
                                                                     len(done) / SECONDS))
    if len(closed) > len(done) // 20:
        fail("the hosts closed %d of %d kept-alive connections after a page" % (len(closed), len(done)))
    check_files(before, numbers, twins)
    for p, port in zip(hosts, (HOST_B, HOST_C)):
        if p.poll() is not None:
            fail("the page host on port %d ended (%d)" % (port, p.returncode))
    with open(os.path.join(site_dir, "host.log"), encoding="utf-8", errors="replace") as f:
        for code, requests in host_log.deaths(f):
            fail("the page host died (exit %d) while serving: %s" % (code, ", ".join(requests) or "no request"))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def check_files(before, numbers, twins):
    pictures, talk = folder_of("demo.pictures"), folder_of("demo.talk")
    expected = set()
    for i, (n, t) in enumerate(zip(numbers, twins)):
        names = [str(n), "load-%d.png" % i, "load-%d.txt" % i, "load-%d.png.thumb.jpg" % i]
        expected.update(os.path.relpath(os.path.join(pictures, x), www) for x in names)
        try:
            copy, twin = read(os.path.join(pictures, str(n))), read(os.path.join(talk, str(t)))
            if copy.replace(b"\\pictures\\", b"\\talk\\") != twin:
                fail("stored copy of article %d differs from its twin's:\n%r\n%r" % (n, copy[:300], twin[:300]))
            if read(os.path.join(pictures, "load-%d.png" % i)) != picture(i):
                fail("load-%d.png is not the posted picture" % i)
            if read(os.path.join(pictures, "load-%d.txt" % i)) != attachment_text(i):
                fail("load-%d.txt is not the posted text" % i)
            if read(os.path.join(pictures, "load-%d.png.thumb.jpg" % i)) != \
                    read(os.path.join(talk, "load-%d.png.thumb.jpg" % i)):
                fail("the thumbnail of load-%d.png differs from the one made alone" % i)
        except OSError as e:
            fail("article %d: %s" % (n, e))
    after = snapshot()
    news_list = os.path.join("news", "NewsList.txt")
    for name in sorted(set(after) - set(before) - expected):
        fail("a file appeared outside what the pages make: %s" % name)
    for name in sorted(set(before) - set(after)):
        fail("a file went missing: %s" % name)
    for name in sorted(n for n in set(before) & set(after) if before[n] != after[n]):
        if name != news_list:
            fail("a file changed: %s" % name)
    lines = read(os.path.join(www, news_list)).decode("latin-1").splitlines()
    groups = {l.split(" ", 1)[1] for l in lines if " " in l}
    if not {"demo.talk", "demo.pictures", "demo.binaries", "demo.big"} <= groups or \
            any(not l.split(" ", 1)[0].isdigit() for l in lines):
        fail("NewsList.txt is not a whole group list: %r" % lines[:10])


if __name__ == "__main__":
    main()
