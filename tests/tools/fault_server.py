#!/usr/bin/env python3
"""A scripted, fault-injecting server for line protocols (NNTP, SMTP, ...).

Each case file describes one conversation and the port it is served on.
Every connection to that port plays the case from its first line: the
server sends what the case says, expects the client's commands in the
order given, and injects the faults the case asks for. A command that does
not match is answered with "599 fault-server: expected ... got ..." and the
connection is closed, so the client under test reports a clear error; it
is also written to the case's log.

Case file syntax, one item per line:
  # text            a comment
  port NAME         the TCP port (127.0.0.1) this case is served on, by its
                    name in tests/support/ports.sh, where every port is
  S: text           send "text" CRLF
  C: text           expect this exact command line ("C:" an empty one)
  C~ pattern        expect a command matching a shell-style pattern
  !until text       read and discard client lines up to this exact line
                    (the body of SMTP DATA or an NNTP POST)
  !chunk            read the bytes the last command's second word counts
                    (an SMTP "BDAT n" chunk), logged as "D: " lines
  !sleep SECONDS    send nothing for a while (a stalled server)
  !close            drop the connection at once
  !bytes N CHAR     send N copies of CHAR with no line end (an endless
                    line); a following !sleep keeps the connection open
  !over FIRST LAST  send NNTP overview lines for articles FIRST to LAST
  !hold             wait until the client closes the connection
When the case ends the server closes the connection.

Usage:
  fault_server.py --cases DIR [--log DIR] [--ready FILE]
Serves every *.case file in DIR until SIGTERM.
"""

import argparse
import asyncio
import fnmatch
import os
import signal
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from ports import PORTS  # noqa: E402


class Case:
    def __init__(self, path):
        self.name = os.path.splitext(os.path.basename(path))[0]
        self.port = None
        self.steps = []
        with open(path, encoding="utf-8") as f:
            for number, raw in enumerate(f, 1):
                line = raw.rstrip("\r\n")
                if not line.strip() or line.lstrip().startswith("#"):
                    continue
                if line.startswith("port "):
                    value = line[5:].strip()
                    if value not in PORTS:
                        raise ValueError("%s:%d: no port %s in tests/support/ports.sh" % (path, number, value))
                    self.port = PORTS[value]
                elif line.startswith("S: ") or line == "S:":
                    self.steps.append(("send", line[3:]))
                elif line.startswith("C: ") or line == "C:":
                    self.steps.append(("expect", line[3:]))
                elif line.startswith("C~ "):
                    self.steps.append(("match", line[3:]))
                elif line.startswith("!"):
                    word, _, rest = line[1:].partition(" ")
                    if word not in ("until", "chunk", "sleep", "close", "bytes", "over", "hold"):
                        raise ValueError("%s:%d: unknown directive !%s" % (path, number, word))
                    self.steps.append((word, rest))
                else:
                    raise ValueError("%s:%d: cannot read %r" % (path, number, line))
        if self.port is None:
            raise ValueError("%s: no port line" % path)


def overview_line(n):
    # number, subject, from, date, message-id, references, bytes, lines, xref
    return "\t".join([
        str(n),
        "Fault case article %d" % n,
        "Fault Server <fault@example.invalid>",
        "Mon, 01 Jan 2024 00:00:00 +0000",
        "<fault-%d@example.invalid>" % n,
        "",
        str(1000 + n),
        str(10 + n % 7),
        "Xref: fault.example test:%d" % n,
    ])


class Server:
    def __init__(self, cases, log_dir):
        self.cases = cases
        self.log_dir = log_dir
        self.last_command = ""

    def log(self, case, text):
        if not self.log_dir:
            return
        with open(os.path.join(self.log_dir, case.name + ".log"), "a", encoding="utf-8") as f:
            f.write(text + "\n")

    async def serve(self, case, reader, writer):
        self.log(case, "--- connection")
        try:
            await self.play(case, reader, writer)
        except (ConnectionError, asyncio.IncompleteReadError, BrokenPipeError):
            self.log(case, "--- client went away")
        finally:
            try:
                writer.close()
                await writer.wait_closed()
            except Exception:
                pass

    async def read_command(self, case, reader):
        data = await reader.readline()
        if not data:
            raise ConnectionError("closed")
        line = data.decode("latin-1").rstrip("\r\n")
        self.log(case, "C: " + line)
        self.last_command = line
        return line

    async def play(self, case, reader, writer):
        for kind, arg in case.steps:
            if kind == "send":
                writer.write((arg + "\r\n").encode("latin-1"))
                await writer.drain()
            elif kind in ("expect", "match"):
                got = await self.read_command(case, reader)
                ok = got == arg if kind == "expect" else fnmatch.fnmatchcase(got, arg)
                if not ok:
                    message = "expected %r got %r" % (arg, got)
                    self.log(case, "!mismatch " + message)
                    writer.write(("599 fault-server: %s\r\n" % message).encode("latin-1"))
                    await writer.drain()
                    return
            elif kind == "until":
                while await self.read_command(case, reader) != arg:
                    pass
            elif kind == "chunk":
                words = self.last_command.split()
                data = await reader.readexactly(int(words[1]) if len(words) > 1 and words[1].isdigit() else 0)
                for line in data.decode("latin-1").split("\r\n"):
                    self.log(case, "D: " + line)
            elif kind == "sleep":
                await asyncio.sleep(float(arg))
            elif kind == "close":
                return
            elif kind == "bytes":
                count, _, char = arg.partition(" ")
                chunk = (char or "x").encode("latin-1") * 65536
                left = int(count)
                while left > 0:
                    piece = chunk[:min(left, len(chunk))]
                    writer.write(piece)
                    await writer.drain()
                    left -= len(piece)
            elif kind == "over":
                first, last = (int(x) for x in arg.split())
                for n in range(first, last + 1):
                    writer.write((overview_line(n) + "\r\n").encode("latin-1"))
                await writer.drain()
            elif kind == "hold":
                while await reader.read(65536):
                    pass
                return


async def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cases", required=True)
    parser.add_argument("--log")
    parser.add_argument("--ready")
    args = parser.parse_args()

    cases = [Case(os.path.join(args.cases, n)) for n in sorted(os.listdir(args.cases)) if n.endswith(".case")]
    ports = {}
    for c in cases:
        if c.port in ports:
            raise SystemExit("port %d is used by %s and %s" % (c.port, ports[c.port].name, c.name))
        ports[c.port] = c
    if args.log:
        os.makedirs(args.log, exist_ok=True)
        for c in cases:
            open(os.path.join(args.log, c.name + ".log"), "w").close()
    server = Server(cases, args.log)
    listeners = []
    for c in cases:
        listeners.append(await asyncio.start_server(
            lambda r, w, c=c: server.serve(c, r, w), host="127.0.0.1", port=c.port, reuse_address=True))
    if args.ready:
        with open(args.ready, "w") as f:
            f.write(" ".join(str(c.port) for c in cases) + "\n")
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for s in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(s, stop.set)
    await stop.wait()
    for l in listeners:
        l.close()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except ValueError as e:
        sys.exit(str(e))
