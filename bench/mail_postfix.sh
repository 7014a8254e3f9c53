#!/bin/bash
# Mail to a real Postfix over one STARTTLS session: MAILS mails, ours
# against Python's smtplib (which does not pipeline), ours with PIPELINING
# and CHUNKING (QK_PORT_POSTFIX) and with neither (QK_PORT_POSTFIX_NEITHER,
# the same Postfix with both discarded from EHLO). The mails go to a domain Postfix discards, so
# delivery costs neither side. Then the round trips a mail takes, counted
# on the wire by bench/count_turns.py between client and Postfix: a session
# of COUNTED mails less an empty session, divided by COUNTED, with the
# time a mail waits on the server and on the client split apart. Last, bare
# NOOP round trips on each side: what a round trip costs, beside what a
# mail costs (the rest of a mail is Postfix taking it into its queue). A
# Python client that pipelines as ours does shows that floor on this machine.
# QK_POSTFIX_QUEUE=/dev/shm/... puts Postfix's queue on tmpfs.
# Usage: bench/mail_postfix.sh [BUILD_DIR] [MAILS] [ROUNDS] [COUNTED]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
mails=${2:-1000}
rounds=${3:-5}
counted=${4:-100}
. "$here/tests/support/fixture-lib.sh"
on_port=$QK_PORT_POSTFIX
off_port=$QK_PORT_POSTFIX_NEITHER
. "$here/scripts/wine-env.sh" "$build"
cleanup() {
    "$here/tests/mailweb/postfix-fixture.sh" "$build" teardown >/dev/null || true
    "$here/tests/tls/tls-fixture.sh" "$build" teardown >/dev/null || true
    "$here/tests/wine-fixture.sh" "$build" teardown >/dev/null || true
}
trap cleanup EXIT
# A fixture that fails says why, instead of ending the bench in silence.
for fixture in tests/wine-fixture.sh tests/tls/tls-fixture.sh tests/mailweb/postfix-fixture.sh; do
    out=$("$here/$fixture" "$build" setup 2>&1) || { echo "$fixture setup failed: $out" >&2; exit 1; }
done
ca=$build/tls/ca.pem
work=$build/postfix

ours() { wine "$build/bin/tls_bench.exe" mail localhost "$1" - - "$2" </dev/null 2>/dev/null | tr -d '\r'; }
theirs() { /usr/bin/python3 "$here/bench/tls_python.py" mail localhost "$1" - - "$2" "$ca"; }
floor() { /usr/bin/python3 "$here/bench/tls_python.py" bdat localhost "$1" - - "$2" "$ca"; }
total() { sed -n 's/.*total_ms=\([0-9.]*\).*/\1/p'; }
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
# run SIDE PORT: the total of one session of MAILS mails.
run() {
    local t
    t=$("$1" "$2" "$mails" | total)
    [ -n "$t" ] || { echo "the $1 mail bench failed on port $2" >&2; exit 1; }
    echo "$t"
}
# turns SIDE PORT COUNT: one session of COUNT mails through the counting
# relay; its turns, one "server_us client_us" line each, in $work/turns.out.turns.
turns() {
    local report=$work/turns.out
    rm -f "$report" "$report.ready" "$report.turns"
    /usr/bin/python3 "$here/bench/count_turns.py" "$QK_PORT_BENCH_TURN_RELAY" "$2" "$report" </dev/null >/dev/null 2>&1 &
    local relay=$!
    fixture_wait_file "$report.ready" "$relay"
    "$1" "$QK_PORT_BENCH_TURN_RELAY" "$3" >/dev/null
    wait "$relay"
}
# per_mail SIDE PORT: round trips, and the server's and the client's
# microseconds, a mail. A session without mails shows how many turns the
# set-up and the end take; of a session of COUNTED mails only the turns
# between those count, so the TLS handshake's time stays out.
per_mail() {
    turns "$1" "$2" 0
    cp "$work/turns.out.turns" "$work/empty.turns"
    turns "$1" "$2" "$counted"
    python3 -c "import sys
empty = len(open(sys.argv[1]).read().split(chr(10))) - 1
rows = [[float(x) for x in line.split()] for line in open(sys.argv[2])]
n = int(sys.argv[3])
mails = rows[empty - 1:len(rows) - 1]
print('%.2f %.0f %.0f' % ((len(rows) - empty) / n, sum(r[0] for r in mails) / n, sum(r[1] for r in mails) / n))" \
        "$work/empty.turns" "$work/turns.out.turns" "$counted"
}

# Warm both sides once (Wine's first start, Postfix's first smtpd).
ours "$on_port" 10 >/dev/null
theirs "$on_port" 10 >/dev/null
# The sides take turns in every round, so a change in the machine's load
# falls on all of them alike; each figure is the median of its rounds.
: >"$work/times"
for _ in $(seq "$rounds"); do
    echo "on $(run ours "$on_port") off $(run ours "$off_port") py $(run theirs "$on_port") floor $(run floor "$on_port")" >>"$work/times"
done
pick() { awk -v k="$1" '{for (i = 1; i < NF; i += 2) if ($i == k) print $(i + 1)}' "$work/times" | median; }
on=$(pick on)
off=$(pick off)
py=$(pick py)
fl=$(pick floor)
printf '%s mails over one STARTTLS session to Postfix, median of %s runs\n' "$mails" "$rounds"
printf '%-38s %9s %9s %17s\n' "" "" ratio "a mail on the wire:"
printf '%-38s %9s %9s %6s %10s %10s\n' client total_ms /smtplib trips server_us client_us
row() {
    local ratio
    ratio=$(python3 -c "import sys; print('%.2f' % (float(sys.argv[1]) / float(sys.argv[2])))" "$2" "$py")
    printf '%-38s %9.1f %9s %6s %10s %10s\n' "$1" "$2" "$ratio" $3
}
row "ours, PIPELINING and CHUNKING" "$on" "$(per_mail ours "$on_port")"
row "ours, neither (extensions discarded)" "$off" "$(per_mail ours "$off_port")"
row "smtplib" "$py" "$(per_mail theirs "$on_port")"
row "python, MAIL+RCPT+BDAT in one write" "$fl" "$(per_mail floor "$on_port")"
noop_us() { sed -n 's/.*noops=\([0-9]*\) total_ms=\([0-9.]*\).*/\1 \2/p' | awk '{printf "%.1f", $2 * 1000 / $1}'; }
printf 'bare NOOP round trip: ours %s us, smtplib %s us\n' \
    "$(wine "$build/bin/tls_bench.exe" noop localhost "$on_port" - - 4000 </dev/null 2>/dev/null | tr -d '\r' | noop_us)" \
    "$(/usr/bin/python3 "$here/bench/tls_python.py" noop localhost "$on_port" - - 4000 "$ca" | noop_us)"
echo "Postfix queue: ${QK_POSTFIX_QUEUE:-$work/queue}"
echo "target: ours with the extensions at most 0.5 of smtplib"
