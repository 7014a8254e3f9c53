#!/usr/bin/env python3
"""Counts round trips on the wire between a client and a server.

  count_turns.py LISTEN_PORT SERVER_PORT REPORT_FILE

Relays one connection from 127.0.0.1:LISTEN_PORT to 127.0.0.1:SERVER_PORT,
bytes untouched (TLS passes through as it is), and counts the times the
server starts to speak after the client spoke: each is one round trip the
client waited for. It also sums the time each side took to answer the
other: from the client's last bytes to the server's first (the server's
share, the network's included) and back (the client's share). Writes
"turns=N client_bursts=M server_ms=S client_ms=C" to REPORT_FILE when
either side closes, and each turn's two shares to REPORT_FILE.turns, one
"server_us client_us" line a turn, so that a session's set-up can be told
from its mails. Ready once it listens (REPORT_FILE.ready appears)."""
import select
import socket
import sys
import time

listen_port, server_port, report = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", listen_port))
listener.listen(1)
with open(report + ".ready", "w") as f:
    f.write("%d\n" % listen_port)
client, _ = listener.accept()
server = socket.create_connection(("127.0.0.1", server_port))
for s in (client, server):
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
turns = client_bursts = 0
server_s = client_s = 0.0
shares = []
last = None
mark = time.perf_counter()
peer = {client: server, server: client}
try:
    while True:
        ready, _, _ = select.select([client, server], [], [])
        for s in ready:
            data = s.recv(1 << 16)
            if not data:
                raise EOFError
            side = "client" if s is client else "server"
            if side != last:
                now = time.perf_counter()
                if last == "client":
                    server_s += now - mark
                    shares.append([now - mark, 0.0])
                elif last == "server":
                    client_s += now - mark
                    if shares:
                        shares[-1][1] = now - mark
                mark = now
                if side == "server" and last == "client":
                    turns += 1
                if side == "client":
                    client_bursts += 1
                last = side
            peer[s].sendall(data)
except (EOFError, OSError):
    pass
with open(report, "w") as f:
    f.write("turns=%d client_bursts=%d server_ms=%.1f client_ms=%.1f\n"
            % (turns, client_bursts, server_s * 1000, client_s * 1000))
with open(report + ".turns", "w") as f:
    for server_share, client_share in shares:
        f.write("%.1f %.1f\n" % (server_share * 1e6, client_share * 1e6))
