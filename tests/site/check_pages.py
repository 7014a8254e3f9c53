#!/usr/bin/python3
"""Requests every page of a running news site once, with good and hostile
input, and checks each answer; exits non-zero on the first page that fails.

Usage: check_pages.py BASE_URL SITE_FOLDER   (e.g. http://127.0.0.1:12680/ build/site-demo)
SITE_FOLDER is the instance folder, to look at what pages wrote.
"""

import os
import sys
import urllib.error
import urllib.parse
import urllib.request

base, folder = sys.argv[1].rstrip("/"), sys.argv[2]
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import site_data  # noqa: E402

failures = []


def get(path, data=None, headers=None):
    request = urllib.request.Request(base + path, data=data, headers=headers or {})
    try:
        with urllib.request.urlopen(request, timeout=120) as answer:
            return answer.status, answer.read()
    except urllib.error.HTTPError as error:
        return error.code, error.read()


def check(name, path, expect, status=200, data=None, headers=None):
    code, body = get(path, data, headers)
    text = body.decode("utf-8", "replace")
    missing = [e for e in expect if e not in text]
    ok = code == status and not missing
    print("%s %-34s %d %s" % ("ok  " if ok else "FAIL", name, code, ("missing " + repr(missing)) if missing else ""))
    if not ok:
        failures.append(name)
        print(text[-600:])
    return text


def multipart(name, data):
    boundary = "----checkpages7d9a"
    body = ("--%s\r\nContent-Disposition: form-data; name=\"file\"; filename=\"%s\"\r\n"
            "Content-Type: application/octet-stream\r\n\r\n" % (boundary, name)).encode() + data + \
        ("\r\n--%s--\r\n" % boundary).encode()
    return body, {"Content-Type": "multipart/form-data; boundary=" + boundary}


check("groups", "/", ["demo.big", "demo.pictures", "group.asp?g="])
check("group", "/group.asp?g=demo.big", ["51 to 150", "Older", "article.asp?g=demo%2Ebig&amp;n=150"])
check("group older", "/group.asp?g=demo.big&start=50&dir=older", ["1 to 50", "Newer"])
check("group by subject", "/group.asp?g=demo.talk&sort=2", ["sorted by subject", "smile"])
check("article text", "/article.asp?g=demo.talk&n=1", ["Hello everybody <IMG SRC='/images/smile1.gif'>"])
check("article escapes", "/article.asp?g=demo.talk&n=5", ["&lt;script&gt;"])
text = check("article MIME picture", "/article.asp?g=demo.pictures&n=1", ["sunset.png", "sunset.png.thumb.jpg"])
check("article uuencoded", "/article.asp?g=demo.binaries&n=1", ["board.png.thumb.jpg"])
check("article yEnc", "/article.asp?g=demo.binaries&n=2", ["rings.bmp.thumb.jpg"])
check("article huge picture", "/article.asp?g=demo.pictures&n=3", ["No thumbnail: the picture is too large"])
code, thumb = get("/news/demo/pictures/sunset.png.thumb.jpg")
if code != 200 or not thumb.startswith(b"\xff\xd8"):
    failures.append("thumbnail file")
    print("FAIL thumbnail file", code)
code, picture = get("/news/demo/pictures/sunset.png")
with open(os.path.join(folder, "www/news/demo/pictures/sunset.png"), "rb") as f:
    if code != 200 or picture != f.read():
        failures.append("attachment bytes")
        print("FAIL attachment bytes", code)

photo = site_data.png(400, 200, site_data.sunset)
body, headers = multipart("photo.png", photo)
check("upload picture", "/upload.asp", ["Saved", "photo.png.thumb.jpg", ">%d<" % len(photo)], data=body, headers=headers)
with open(os.path.join(folder, "www/uploads/photo.png"), "rb") as f:
    if f.read() != photo:
        failures.append("upload bytes")
        print("FAIL upload bytes")
body, headers = multipart("fake.jpg", b"not a picture at all\r\n" * 10)
check("upload non-picture .jpg", "/upload.asp", ["No thumbnail: not a picture"], data=body, headers=headers)
body, headers = multipart("huge.png", site_data.png_header_only(30000, 30000))
check("upload 30000x30000", "/upload.asp", ["No thumbnail: the picture is too large"], data=body, headers=headers)
body, headers = multipart("empty.png", b"")
check("upload 0 bytes", "/upload.asp", ["is empty (0 bytes)"], data=body, headers=headers)
body, headers = multipart("..\\..\\escape.txt", b"should stay in uploads")
check("upload hostile name", "/upload.asp", ["Saved"], data=body, headers=headers)
if os.path.exists(os.path.join(folder, "escape.txt")) or os.path.exists(os.path.join(folder, "www/escape.txt")):
    failures.append("upload stays in folder")
    print("FAIL a posted name left the uploads folder")
check("upload form", "/upload.asp", ["multipart/form-data"])


def upload_after_continue():
    """A client that asks before sending its body (curl does for larger
    bodies) must be told to go on, straight from the page host (the site
    fixture puts it on the port after nginx's): without the interim answer
    the client stalls until its own patience ends."""
    import socket
    host_port = urllib.parse.urlsplit(base).port + 1
    data, headers = multipart("asked.txt", b"sent after 100 Continue\r\n")
    head = ("POST /upload.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: %s\r\nContent-Length: %d\r\n"
            "Expect: 100-continue\r\nConnection: close\r\n\r\n" % (headers["Content-Type"], len(data)))
    with socket.create_connection(("127.0.0.1", host_port), timeout=120) as s:
        s.sendall(head.encode())
        s.settimeout(10)
        try:
            interim = s.recv(4096)
        except socket.timeout:
            interim = b"(nothing within 10 s)"
        if not interim.startswith(b"HTTP/1.1 100"):
            return "no 100 Continue before the body: %r" % interim[:80]
        s.settimeout(120)
        s.sendall(data)
        answer = b""
        while True:
            piece = s.recv(65536)
            if not piece:
                break
            answer += piece
    if b" 200 " not in answer.split(b"\r\n", 1)[0] or b"Saved" not in answer:
        return "the upload after 100 Continue was not saved: %r" % answer[:200]
    return None


problem = upload_after_continue()
print("%s %-34s %s" % ("FAIL" if problem else "ok  ", "upload after Expect: 100-continue", problem or ""))
if problem:
    failures.append("upload after 100 Continue")

check("group by thread", "/group.asp?g=demo.talk&sort=3", ["sorted by thread", "depth-0", "New article"])
check("post form", "/post.asp?g=demo.talk", ['name="subject"', 'value="demo.talk"'])
check("reply form", "/post.asp?g=demo.talk&reply=1", ["Re: Welcome to the demo groups", "&gt; Hello everybody"])
check("mail form", "/mail.asp?g=demo.talk&n=2", ["reader@example.invalid"])
check("mail send", "/mail.asp?g=demo.talk&n=2", ["Sent"], data=b"to=check%40example.invalid")
check("mailbox", "/mailbox.asp", ["To: check@example.invalid", "Fwd: Re: Welcome"])
check("fetch", "/fetch.asp", ["Welcome to the Quillnet demo"])
check("fetch refused", "/fetch.asp?url=file:///etc/passwd", ["Give an http"])

for name, path, expect in [
    ("group ..", "/group.asp?g=..%5C..%5Cwindows", "not a newsgroup name"),
    ("group a..b", "/group.asp?g=demo..big", "not a newsgroup name"),
    ("article number text", "/article.asp?g=demo.talk&n=1%20OR%201", "must be a number"),
    ("article number huge", "/article.asp?g=demo.talk&n=99999999999", "must be a number"),
    ("article missing", "/article.asp?g=demo.talk&n=9999", "There is no article"),
    ("group start text", "/group.asp?g=demo.big&start=abc", "must be an article number"),
    ("group sort key", "/group.asp?g=demo.big&sort=4", "3 (thread)"),
    ("post group ..", "/post.asp?g=..%5C..%5Cwindows", "not a newsgroup name"),
    ("reply number text", "/post.asp?g=demo.talk&reply=1%20OR%201", "must be a number"),
    ("reply missing", "/post.asp?g=demo.talk&reply=9999", "There is no article"),
]:
    check(name, path, [expect])
check("no such page", "/nothing.asp", ["No such page"], status=404)
check("page host still serving", "/", ["demo.big"])

if failures:
    print("FAILED: " + ", ".join(failures))
    sys.exit(1)
print("every page answered")
