#!/bin/bash
# run-bench.sh BUILD_DIR: the real program, offscreen, in a private network namespace, against
# paced floods of about 100-byte datagrams on 127.0.0.1:514, and rsyslogd (imudp on 5514 to
# omfile) as the reference. Reports datagrams written against sent, the receive socket's drop
# count and the receiver's CPU time per datagram (utime + stime from /proc/PID/stat).
# TARVANE_BENCH_QUICK=1 runs one short round only; TARVANE_BENCH_ONLY=pause runs only the
# pause under a steady stream (pause_case).
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
count_lines() { cat "$@" 2>/dev/null | grep -c 'of the flood' || true; }
# Waits (at most 60 s) until the receiver has written everything it will: the count stops moving.
settle() {
    local last=-1 now i
    for i in $(seq 120); do
        now=$(count_lines "$@")
        [ "$now" = "$last" ] && break
        last=$now; sleep 0.5
    done
}

# measure NAME PID PORT COUNT RATE FILES...: floods and prints one row of the table.
measure() {
    local name=$1 pid=$2 port=$3 count=$4 rate=$5; shift 5
    local before_drops before after out sent secs found
    before_drops=$(drops "$port"); before=$(cpu_ticks "$pid")
    out=$("$flood" "$port" "$count" "$rate")
    read -r sent secs _ <<< "$out"
    settle "$@"
    after=$(cpu_ticks "$pid")
    found=$(count_lines "$@")
    awk -v n="$name" -v r="$rate" -v s="$sent" -v secs="$secs" -v f="$found" \
        -v d=$(( $(drops "$port") - before_drops )) -v t=$((after - before)) -v hz="$hz" 'BEGIN {
        printf "%-9s %7d/s %6.1f s %8d %8d %8d %8d %8.1f\n",
               n, r, secs, s, f, s - f, d, t / hz * 1e6 / s }'
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

run_tarvane() {  # COUNT RATE
    local pid dir
    start_tarvane "$2"
    measure tarvane "$pid" 514 "$1" "$2" "$dir"/Tarvane-*.TXT
    kill "$pid"; wait "$pid" 2>/dev/null || true
}

run_rsyslog() {  # COUNT RATE
    local dir=$work/rsyslog-$2-$RANDOM
    mkdir -p "$dir"
    cat > "$dir/rsyslog.conf" <<CONF
global(workDirectory="$dir")
module(load="imudp")
input(type="imudp" port="5514" address="127.0.0.1")
*.* action(type="omfile" file="$dir/out.log")
CONF
    rsyslogd -n -f "$dir/rsyslog.conf" -i "$dir/rsyslog.pid" >"$dir.out" 2>&1 &
    local pid=$!; pids+=("$pid")
    local i
    for i in $(seq 100); do bound 5514 && break; sleep 0.1; done
    sleep 0.3
    measure rsyslogd "$pid" 5514 "$1" "$2" "$dir/out.log"
    kill "$pid"; wait "$pid" 2>/dev/null || true
}

header() {
    echo "== $1 =="
    printf "%-9s %9s %8s %8s %8s %8s %8s %8s\n" receiver rate took sent written lost sockdrop "us-CPU/dg"
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
    header "quick: 10000/s for 2 s"
    run_tarvane 20000 10000; run_rsyslog 20000 10000
    exit 0
fi
header "sustained: 10000/s for 20 s, three runs each"
for i in 1 2 3; do run_tarvane 200000 10000; done
for i in 1 2 3; do run_rsyslog 200000 10000; done
header "zero-loss search: 5 s at each rate"
for rate in 10000 20000 30000 50000 80000; do
    run_tarvane $((rate * 5)) "$rate"
    run_rsyslog $((rate * 5)) "$rate"
done
pause_case
