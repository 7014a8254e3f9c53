#!/bin/bash
# What the news site's browser tests need: Debian's Chromium (headless, no
# daemon), Node.js with npm, and puppeteer-core from the npm registry as
# locked in tests/browser/package-lock.json. puppeteer-core drives the
# installed Chromium; nothing may download a browser of its own.
# Safe to run again: it does nothing when all is in place.
set -euo pipefail
. "$(dirname "$0")/../lib.sh"

packages=(chromium fonts-dejavu-core)
# A machine with Node.js from elsewhere (with its own npm) keeps it; a fresh
# Debian 12 gets Debian's nodejs and npm.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)
mapfile -t missing < <(missing_packages "${packages[@]}")
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "site.sh: installing ${missing[*]} needs root" >&2
        exit 1
    fi
    echo "Installing for the browser tests: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt_update_once
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
require_programs /usr/bin/chromium:chromium node:nodejs npm:npm

browser=$QK_ROOT/tests/browser
stamp=$browser/node_modules/.installed-lock
if ! cmp -s "$browser/package-lock.json" "$stamp"; then
    echo "Installing puppeteer-core for the browser tests"
    (cd "$browser" && PUPPETEER_SKIP_DOWNLOAD=1 PUPPETEER_SKIP_CHROME_DOWNLOAD=1 \
        npm ci --no-audit --no-fund --loglevel=error >/dev/null)
    cp "$browser/package-lock.json" "$stamp"
fi
