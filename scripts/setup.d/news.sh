#!/bin/bash
# Installs the news server the news tests talk to (Debian's INN 2), without
# letting the install start it: the tests start a private instance of their
# own on a loopback port (tests/news/inn-fixture.sh), so the system-wide
# daemon must stay down and its configuration is left as Debian ships it,
# apart from the one key the install itself needs.
# Safe to run again: it does nothing when INN is already installed.
set -euo pipefail
. "$(dirname "$0")/../lib.sh"

if dpkg-query -W -f='${Status}' inn2 2>/dev/null | grep -q 'install ok installed' &&
    [ -x /usr/lib/news/bin/innd ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "news.sh: installing INN needs root" >&2
    exit 1
fi

echo "Installing the INN news server for the news tests"
export DEBIAN_FRONTEND=noninteractive
apt_update_once

refuse_service_starts

# inn2's configure step fails, leaving the package half-configured, when the
# host name has no domain. inn2-inews owns /etc/news/inn.conf: install it
# first and give it a domain when the host has none.
apt-get install -y -qq --no-install-recommends inn2-inews >/dev/null
conf=/etc/news/inn.conf
if ! hostname -f 2>/dev/null | grep -q '\.'; then
    if grep -Eq '^#?[[:space:]]*domain:' "$conf"; then
        if ! grep -Eq '^domain:[[:space:]]*[^[:space:]]' "$conf"; then
            sed -i -E 's/^#?[[:space:]]*domain:.*/domain:                 localdomain/' "$conf"
        fi
    else
        echo 'domain:                 localdomain' >>"$conf"
    fi
fi

# inn2's install adds a "usenet" mail alias and runs newaliases, which fails
# (and with it the install) while Postfix, the mail tests' server, is there
# without a system configuration (setup.d/mailweb.sh). An alias that is
# already there is left alone, so it is written first.
grep -qs '^usenet:' /etc/aliases || echo 'usenet: root' >>/etc/aliases

# A half-configured inn2 from an earlier failed run is finished first.
dpkg --configure -a >/dev/null 2>&1 || true
apt-get install -y -qq --no-install-recommends inn2 >/dev/null

# innd opens /dev/null for writing as the news user; on a machine where it
# is not world-writable innd fails with a misleading "cannot fork".
chmod 666 /dev/null 2>/dev/null || true

# Nothing the install may have started is left running: the tests use their
# own instance.
if [ -x /usr/lib/news/bin/ctlinnd ] && /usr/lib/news/bin/ctlinnd -s -t 2 mode >/dev/null 2>&1; then
    /usr/lib/news/bin/ctlinnd -s shutdown 'news tests use their own instance' >/dev/null 2>&1 || true
fi
echo "INN installed: $(dpkg-query -W -f='${Version}' inn2)"
