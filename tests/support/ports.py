"""The fixtures' ports of tests/support/ports.sh for Python: PORTS["QK_PORT_INN"]."""

import os
import re


def _read():
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ports.sh")
    with open(path, encoding="utf-8") as f:
        lines = [re.match(r"(QK_[A-Z0-9_]+)=([0-9]+)$", line.strip()) for line in f]
    return {m.group(1): int(m.group(2)) for m in lines if m}


PORTS = _read()
