#!/bin/bash
# run-bench.sh BUILD_DIR: the real program, offscreen, in a private network namespace, against
# paced floods of about 100-byte datagrams; rsyslogd (imudp to omfile) as the reference.
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
if [ -z "${TARVANE_BENCH_INNER:-}" ]; then
    if [ "$(id -u)" = 0 ]; then flags=-n; else flags=-rn; fi
    TARVANE_BENCH_INNER=1 exec unshare $flags "$0" "$build"
fi
ip link set lo up
flood=$build/bench/udp_flood
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)

# run_one NAME COUNT RATE: prints "name rate sent found lost cpu-us-per-datagram"
run_tarvane() {
    local count=$1 rate=$2
    local dir=$work/tarvane-$rate-$RANDOM
    mkdir -p "$dir"
    cp "$build/app/Tarvane" "$dir/"
    (cd / && QT_QPA_PLATFORM=offscreen "$dir/Tarvane" >/dev/null 2>&1) &
    local pid=$!
    for _ in $(seq 50); do grep -q ':0202 ' /proc/net/udp && break; sleep 0.1; done
    sleep 0.5
    local before; before=$(cpu_ticks "$(pgrep -f "$dir/Tarvane" | head -1)")
    local tpid; tpid=$(pgrep -f "$dir/Tarvane" | head -1)
    "$flood" 514 "$count" "$rate"
    sleep 2
    local after; after=$(cpu_ticks "$tpid")
    kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true
    local found; found=$(cat "$dir"/Tarvane-*.TXT 2>/dev/null | wc -l)
    report tarvane "$rate" "$count" "$found" $((after - before))
}

run_rsyslog() {
    local count=$1 rate=$2
    local dir=$work/rsyslog-$rate-$RANDOM
    mkdir -p "$dir"
    cat > "$dir/rsyslog.conf" <<CONF
global(workDirectory="$dir")
module(load="imudp")
input(type="imudp" port="5514" address="127.0.0.1")
*.* action(type="omfile" file="$dir/out.log")
CONF
    rsyslogd -n -f "$dir/rsyslog.conf" -i "$dir/rsyslog.pid" >/dev/null 2>&1 &
    local pid=$!
    for _ in $(seq 50); do grep -q ':158A ' /proc/net/udp && break; sleep 0.1; done
    sleep 0.5
    local before; before=$(cpu_ticks "$pid")
    "$flood" 5514 "$count" "$rate"
    sleep 2
    local after; after=$(cpu_ticks "$pid")
    kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true
    local found; found=$(grep -c 'of the flood' "$dir/out.log" 2>/dev/null || true)
    report rsyslogd "$rate" "$count" "$found" $((after - before))
}

report() {  # name rate sent found ticks
    awk -v n="$1" -v r="$2" -v s="$3" -v f="$4" -v t="$5" -v hz="$hz" 'BEGIN {
        printf "%-9s %7d/s %8d sent %8d written %7d lost %7.1f us CPU per datagram\n",
               n, r, s, f, s - f, t / hz * 1e6 / s }'
}

echo "== sustained: 10000/s for 20 s, three runs each =="
for i in 1 2 3; do run_tarvane 200000 10000; done
for i in 1 2 3; do run_rsyslog 200000 10000; done
echo "== zero-loss search: 5 s at each rate =="
for rate in 15000 20000 30000 50000; do
    run_tarvane $((rate * 5)) "$rate"
    run_rsyslog $((rate * 5)) "$rate"
done
