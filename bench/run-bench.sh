#!/bin/bash
# run-bench.sh BUILD_DIR: the real program, offscreen, in a private network namespace, against
# paced floods on 127.0.0.1:514, and rsyslogd (imudp on 5514 to omfile) as the reference, side by
# side at each step. A ladder of datagram sizes: about 100 bytes, 1 KB and 8 KB of words, 8 KB of
# random bytes, and a mixed stream of random sizes up to 8,192. Reports datagrams written against
# sent, the receive socket's drop count and the receiver's CPU time per datagram (utime + stime
# from /proc/PID/stat). TARVANE_BENCH_QUICK=1 runs one short round only; TARVANE_BENCH_ONLY=pause
# runs only the pause under a steady stream (pause_case).
set -euo pipefail
build=$(cd "${1:?usage: run-bench.sh BUILD_DIR}" && pwd)
if [ -z "${TARVANE_BENCH_INNER:-}" ]; then
    if [ "$(id -u)" = 0 ]; then flags=-n; else flags=-rn; fi
    TARVANE_BENCH_INNER=1 exec unshare $flags "$0" "$build"
fi
ip link set lo up
flood=$build/bench/udp_flood
socket_buffer=$build/bench/socket_buffer
program=$build/app/Tarvane
for f in "$flood" "$program" "$socket_buffer"; do [ -x "$f" ] || { echo "missing $f: build it first" >&2; exit 2; }; done
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
hz=$(getconf CLK_TCK)

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
port_hex() { printf '%04X' "$1"; }
bound() { awk -v p=":$(port_hex "$1")" 'NR > 1 && substr($2, length($2) - 4) == p {f=1} END {exit !f}' /proc/net/udp; }
drops() { awk -v p=":$(port_hex "$1")" 'NR > 1 && substr($2, length($2) - 4) == p {print $NF}' /proc/net/udp | head -1; }
count_lines() { cat "$@" 2>/dev/null | grep -a -c 'TVB[0-9]\{8\}' || true; }
# Waits (at most 60 s) until the receiver has written everything it will: the count stops moving.
settle() {
    local last=-1 now i
    for i in $(seq 120); do
        now=$(count_lines "$@")
        [ "$now" = "$last" ] && break
        last=$now; sleep 0.5
    done
}

# measure NAME PID PORT COUNT RATE KIND FILES...: floods and prints one row of the table.
measure() {
    local name=$1 pid=$2 port=$3 count=$4 rate=$5 kind=$6; shift 6
    local before_drops before after out sent secs found
    before_drops=$(drops "$port"); before=$(cpu_ticks "$pid")
    out=$("$flood" "$port" "$count" "$rate" "$kind")
    read -r sent secs _ <<< "$out"
    settle "$@"
    after=$(cpu_ticks "$pid")
    found=$(count_lines "$@")
    awk -v n="$name" -v r="$rate" -v s="$sent" -v secs="$secs" -v f="$found" \
        -v k="$kind" -v d=$(( $(drops "$port") - before_drops )) -v t=$((after - before)) -v hz="$hz" 'BEGIN {
        printf "%-9s %-9s %7d/s %6.1f s %8d %8d %8d %8d %8.1f\n",
               n, k, r, secs, s, f, s - f, d, t / hz * 1e6 / s }'
}

# start_tarvane NAME: the program in a folder of its own, once it writes what it receives;
# sets pid and dir.
start_tarvane() {
    dir=$work/tarvane-$1-$RANDOM
    mkdir -p "$dir"; cp "$program" "$dir/"
    (cd / && QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 XDG_RUNTIME_DIR=$dir exec "$dir/Tarvane" \
        >"$dir.out" 2>&1) &
    pid=$!; pids+=("$pid")
    local i
    for i in $(seq 100); do bound 514 && break; sleep 0.1; done
    # Datagrams count once the window is up: probe until one is written.
    for i in $(seq 100); do
        printf '<8>bench probe' > /dev/udp/127.0.0.1/514
        grep -q 'bench probe' "$dir"/Tarvane-*.TXT 2>/dev/null && break
        sleep 0.1
    done
}

run_tarvane() {  # COUNT RATE [KIND]
    local pid dir
    start_tarvane "$2"
    measure tarvane "$pid" 514 "$1" "$2" "${3:-short}" "$dir"/Tarvane-*.TXT
    kill "$pid"; wait "$pid" 2>/dev/null || true
}

run_rsyslog() {  # COUNT RATE [KIND]
    local dir=$work/rsyslog-$2-$RANDOM
    mkdir -p "$dir"
    cat > "$dir/rsyslog.conf" <<CONF
global(workDirectory="$dir" maxMessageSize="64k")
module(load="imudp")
input(type="imudp" port="5514" address="127.0.0.1")
*.* action(type="omfile" file="$dir/out.log")
CONF
    rsyslogd -n -f "$dir/rsyslog.conf" -i "$dir/rsyslog.pid" >"$dir.out" 2>&1 &
    local pid=$!; pids+=("$pid")
    local i
    for i in $(seq 100); do bound 5514 && break; sleep 0.1; done
    sleep 0.3
    measure rsyslogd "$pid" 5514 "$1" "$2" "${3:-short}" "$dir/out.log"
    kill "$pid"; wait "$pid" 2>/dev/null || true
}

header() {
    echo "== $1 =="
    printf "%-9s %-9s %9s %8s %8s %8s %8s %8s %8s\n" receiver datagrams rate took sent written lost \
        sockdrop "us-CPU/dg"
}

# Both receivers, one after the other, with the same flood: SECONDS RATE KIND.
side_by_side() {
    run_tarvane $(($1 * $2)) "$2" "$3"
    run_rsyslog $(($1 * $2)) "$2" "$3"
}

receive_buffer() { ss -uanm "sport = :$1" | grep -o 'rb[0-9]*' | head -1 | tr -d rb; }

# The program stopped (SIGSTOP) for 5 s while 2,000 datagrams/s arrive, then let go (SIGCONT):
# what the socket's receive buffer holds is all that comes through the pause. Three runs with
# the system's default buffer, three with the default raised to 16 MiB. The raised default is
# set in this network namespace only; where the kernel keeps net.core.rmem_default out of a
# namespace's reach, the program's socket is given that size instead, which is what the
# default gives a new socket.
pause_case() {
    local raised=16777216 sysctl=/proc/sys/net/core/rmem_default setting i
    echo "== pause: stopped for 5 s under 2000/s =="
    printf "%-9s %-9s %11s %8s %8s %8s %8s\n" receiver buffer bytes sent written lost sockdrop
    for setting in default raised; do
        if [ "$setting" = raised ] && echo "$raised" 2>/dev/null > "$sysctl" &&
           [ "$(cat "$sysctl")" = "$raised" ]; then
            setting=namespace
        fi
        for i in 1 2 3; do run_paused "$setting" "$raised"; done
    done
}

run_paused() {  # default|raised|namespace BYTES
    local pid dir sent before found
    start_tarvane pause
    if [ "$1" = raised ]; then "$socket_buffer" "$pid" 514 "$2" >/dev/null; fi
    before=$(drops 514)
    kill -STOP "$pid"
    read -r sent _ <<< "$("$flood" 514 10000 2000)"
    kill -CONT "$pid"
    settle "$dir"/Tarvane-*.TXT
    found=$(count_lines "$dir"/Tarvane-*.TXT)
    printf "%-9s %-9s %11d %8d %8d %8d %8d\n" tarvane "$1" "$(receive_buffer 514)" "$sent" \
        "$found" $((sent - found)) $(($(drops 514) - before))
    kill "$pid"; wait "$pid" 2>/dev/null || true
}

echo "kernel $(uname -r), $(nproc) cores, rmem_default $(cat /proc/sys/net/core/rmem_default)"
if [ "${TARVANE_BENCH_ONLY:-}" = pause ]; then
    pause_case
    exit 0
fi
if [ -n "${TARVANE_BENCH_QUICK:-}" ]; then
    header "quick: 2 s each"
    side_by_side 2 10000 short
    side_by_side 2 500 8k-random
    exit 0
fi
header "sustained: 100-byte datagrams at 10000/s for 20 s, three runs each"
for i in 1 2 3; do side_by_side 20 10000 short; done
header "sustained: 8 KB of random bytes at 500/s for 10 s, three runs each"
for i in 1 2 3; do side_by_side 10 500 8k-random; done
header "size ladder: 5 s at each rate"
for rate in 10000 20000 30000 50000; do side_by_side 5 "$rate" short; done
for rate in 2000 5000 10000 20000; do side_by_side 5 "$rate" 1k; done
for kind in 8k 8k-random mixed; do
    for rate in 250 500 1000 2000 4000; do side_by_side 5 "$rate" "$kind"; done
done
pause_case
