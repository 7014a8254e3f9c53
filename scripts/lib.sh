# Shared by the setup, build, test, demo and bench commands.
# missing_packages PKG...: prints those of the Debian packages that are not
# installed, one a line.
missing_packages() {
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
    done
}

# ensure_packages PKG...: installs with apt whatever Debian package is missing.
ensure_packages() {
    local missing
    mapfile -t missing < <(missing_packages "$@")
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    enable_foreign_architectures "${missing[@]}" || return 1
    apt_update_once || return 1
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || return 1
}

# enable_foreign_architectures PKG...: dpkg learns every architecture named
# as PKG:ARCH (wine32:i386) before apt looks for it; the package lists are
# then read again.
enable_foreign_architectures() {
    local p arch
    for p in "$@"; do
        [[ $p == *:* ]] || continue
        arch=${p##*:}
        [ "$arch" = "$(dpkg --print-architecture)" ] && continue
        dpkg --print-foreign-architectures | grep -qx "$arch" && continue
        dpkg --add-architecture "$arch" || return 1
        unset QK_APT_UPDATED
    done
}

# refuse_service_starts: until the calling script exits, package scripts may
# not start daemons. The tests start private server instances on loopback
# ports, so a system-wide daemon must never come up (and on a machine without
# systemd a package's start attempt fails its install). A policy-rc.d that
# refuses every start does both; one that was already there is left alone.
refuse_service_starts() {
    local policy=/usr/sbin/policy-rc.d
    [ -e "$policy" ] && return 0
    printf '#!/bin/sh\nexit 101\n' >"$policy"
    chmod 755 "$policy"
    trap "rm -f '$policy'" EXIT
}

# apt_update_once: refreshes the package lists once per test run.
apt_update_once() {
    if [ -z "${QK_APT_UPDATED:-}" ]; then
        apt-get update -qq
        export QK_APT_UPDATED=1
    fi
}

# runs_32bit_programs: whether this kernel executes 32-bit x86 programs,
# which 32-bit Wine is. Some virtual machines run 64-bit user code only;
# there wine32 must not even be installed, because /usr/bin/wine prefers the
# 32-bit loader whenever it is present and every Wine command would fail with
# "Exec format error". The probe is the smallest 32-bit ELF program, exit(0).
runs_32bit_programs() {
    if [ -z "${QK_RUNS_32BIT:-}" ]; then
        local probe
        probe=$(mktemp -p "$(dirname "${BASH_SOURCE[0]}")")  # not /tmp, which may be noexec
        printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\010\064\0\0\0\0\0\0\0\0\0\0\0\064\0\040\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\010\0\200\4\010\135\0\0\0\135\0\0\0\5\0\0\0\0\020\0\0\270\1\0\0\0\061\333\315\200' >"$probe"
        chmod 700 "$probe"
        if "$probe" 2>/dev/null; then QK_RUNS_32BIT=yes; else QK_RUNS_32BIT=no; fi
        rm -f "$probe"
        export QK_RUNS_32BIT
    fi
    [ "$QK_RUNS_32BIT" = yes ]
}

# What building the two DLLs and their tests needs, for 64-bit and 32-bit
# Windows; wine32, which runs the 32-bit tests, only where it can run
# (ensure_packages enables the i386 architecture it comes from).
BUILD_PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686 libwine-dev wine wine64 googletest libz-mingw-w64-dev)
if runs_32bit_programs; then BUILD_PACKAGES+=(wine32:i386); fi

# What the tests and benchmarks need beyond the build (servers started on
# 127.0.0.1, tools they compare against): one list per area in
# scripts/test-packages/*.txt, one Debian package per line.
TEST_PACKAGES=(python3)
for _list in "$(dirname "${BASH_SOURCE[0]}")"/test-packages/*.txt; do
    [ -f "$_list" ] || continue
    while read -r _pkg; do
        case "$_pkg" in ''|'#'*) ;; *) TEST_PACKAGES+=("$_pkg") ;; esac
    done <"$_list"
done

QK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QK_BUILD=${QK_BUILD:-$QK_ROOT/build}

# require_programs PROGRAM:PACKAGE...: right after installing, stops with one
# line naming the first program that is still missing and the Debian package
# that brings it, rather than failing later in the middle of a build or test.
# A PROGRAM with a slash is checked as a path.
require_programs() {
    local pair program package
    for pair in "$@"; do
        program=${pair%%:*}
        package=${pair#*:}
        if [[ $program == */* ]]; then
            [ -e "$program" ] && continue
        else
            command -v "$program" >/dev/null 2>&1 && continue
        fi
        echo "Missing program: $program (Debian package $package)" >&2
        exit 1
    done
}

# What building uses, and what the tests use beyond it.
BUILD_PROGRAMS=(cmake:cmake ninja:ninja-build x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix
    x86_64-w64-mingw32-gcc-posix:gcc-mingw-w64-x86-64-posix x86_64-w64-mingw32-windres:binutils-mingw-w64-x86-64
    x86_64-w64-mingw32-objdump:binutils-mingw-w64-x86-64 x86_64-w64-mingw32-widl:mingw-w64-tools
    i686-w64-mingw32-g++-posix:g++-mingw-w64-i686-posix i686-w64-mingw32-windres:binutils-mingw-w64-i686
    i686-w64-mingw32-widl:mingw-w64-tools wine:wine wineserver:wine /usr/src/googletest/CMakeLists.txt:googletest)
TEST_PROGRAMS=(/usr/bin/python3:python3 openssl:openssl uudecode:sharutils curl:curl nginx:nginx
    tinyproxy:tinyproxy /usr/lib/news/bin/innd:inn2 /usr/lib/news/bin/nnrpd:inn2
    /usr/lib/python3/dist-packages/aiosmtpd/__init__.py:python3-aiosmtpd)

# prepare_machine: what the tests, the demo and the benchmarks need on this
# machine, in one step for all three: the Debian packages, then the installs
# of scripts/setup.d that need more than apt-get install (a news server that
# must not start through systemd, the browser tests' npm modules; one
# script per area, each safe to run again), then one line naming the first
# program still missing, rather than a failure in the middle of a run.
prepare_machine() {
    ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" || return 1
    local step
    for step in "$QK_ROOT"/scripts/setup.d/*.sh; do
        [ -f "$step" ] || continue
        bash "$step" || { echo "$step failed" >&2; return 1; }
    done
    require_programs "${BUILD_PROGRAMS[@]}" "${TEST_PROGRAMS[@]}"
}
