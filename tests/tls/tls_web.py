#!/usr/bin/python3
"""HTTPS servers of the TLS tests, one port per certificate of test-ca.sh.

Every port answers GET with the same short page, so a client that gets
through the handshake sees "secure page PORT". The clients of the other
protocols are pointed at these ports too: their certificate checks refuse
the server before a word of news or mail would be said.

Usage: tls_web.py --certs DIR --ready FILE NAME=PORT ...   (until SIGTERM)
"""

import argparse
import http.server
import signal
import ssl
import sys
import threading


class Page(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = ("secure page %d\n" % self.server.server_address[1]).encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--certs", required=True)
    parser.add_argument("--ready", required=True)
    parser.add_argument("servers", nargs="+")
    args = parser.parse_args()
    servers = []
    for item in args.servers:
        name, port = item.split("=")
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain("%s/%s.pem" % (args.certs, name), "%s/%s.key" % (args.certs, name))
        server = http.server.ThreadingHTTPServer(("127.0.0.1", int(port)), Page)
        server.daemon_threads = True
        # A failed handshake (the client refusing the certificate) must not
        # end the server; the socket is wrapped per connection for that.
        server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
        servers.append(server)
    for server in servers:
        threading.Thread(target=server.serve_forever, daemon=True).start()
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *a: stop.set())
    with open(args.ready, "w") as f:
        f.write("ready\n")
    stop.wait()
    sys.exit(0)


if __name__ == "__main__":
    main()
