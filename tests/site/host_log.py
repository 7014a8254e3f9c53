#!/usr/bin/python3
"""Reads a page host's log (site-fixture.sh's host.log) and fails when the
host died while the site ran: the restart loop keeps the site serving, so
without this a crash would pass unseen. Names the requests each dead host
was serving: the host logs "[wN] METHOD TARGET ..." when a thread takes a
request and "[wN] METHOD TARGET -> STATUS" when it is answered.

Usage: host_log.py HOST_LOG
"""

import re
import sys

TAKEN = re.compile(r"^\[w(\d+)\] (\S+) (\S+) \.\.\.$")
ANSWERED = re.compile(r"^\[w(\d+)\] (\S+) (\S+) -> ")
ENDED = re.compile(r"^page host ended \((\d+)\)")


def deaths(lines):
    """Each unexpected end of a host: (exit code, [requests in flight])."""
    serving = {}
    found = []
    for line in lines:
        line = line.rstrip("\r\n")
        m = TAKEN.match(line)
        if m:
            serving[m.group(1)] = "%s %s (thread %s)" % (m.group(2), m.group(3), m.group(1))
            continue
        m = ANSWERED.match(line)
        if m:
            serving.pop(m.group(1), None)
            continue
        m = ENDED.match(line)
        if m:
            found.append((int(m.group(1)), [serving[k] for k in sorted(serving, key=int)]))
            serving = {}
    return found


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with open(sys.argv[1], encoding="utf-8", errors="replace") as f:
        found = deaths(f)
    for code, requests in found:
        print("the page host died (exit %d) while serving: %s" %
              (code, ", ".join(requests) if requests else "no request"))
    sys.exit(1 if found else 0)


if __name__ == "__main__":
    main()
