#!/bin/bash
# Installs the web server and proxy of the web tests (nginx, tinyproxy) and
# the mail server of the mail tests (Postfix) without letting their
# packages start them: the tests start private instances on 127.0.0.1 with
# configs in the build tree (tests/mailweb/web-fixture.sh,
# tests/mailweb/postfix-fixture.sh), so no system-wide daemon may run or
# hold a port. Postfix is told to leave the machine's mail alone ("No
# configuration"): the package then writes no main.cf of its own. Also
# makes sure the mail tests' aiosmtpd and the benchmark's curl are there.
# Safe to run again: it does nothing when all are installed.
set -euo pipefail
. "$(dirname "$0")/../lib.sh"

packages=(nginx tinyproxy postfix python3-aiosmtpd curl)
mapfile -t missing < <(missing_packages "${packages[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "mailweb.sh: installing ${missing[*]} needs root" >&2
    exit 1
fi
echo "Installing for the mail and web tests: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt_update_once

refuse_service_starts
echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections

# A half-configured package from an earlier failed run is finished first.
dpkg --configure -a >/dev/null 2>&1 || true
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
