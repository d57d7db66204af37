#!/bin/bash
# One entry point for a fresh Debian 12 machine:
#   ./build.sh run    install what is missing, build, start Tarvane
#   ./build.sh test   install what is missing, build, run every test (plain, ASan+UBSan, TSan)
#   ./build.sh bench  install what is missing, build, run the throughput benchmark
#   ./build.sh fuzz [SECONDS]  install what is missing, build the fuzz targets with clang, run each
#                     for SECONDS (default 60); any crash or sanitizer report fails
#   ./build.sh install [DIR] | uninstall [DIR]     for this user, with a menu entry
#   ./build.sh install-service | uninstall-service  the headless collector under systemd
# Run as an ordinary user, it builds and runs as that user and uses sudo only for what needs
# root: installing packages, the capability to bind port 514, the service.
set -euo pipefail
cd "$(dirname "$0")"
here=$(pwd)
# setcap and getcap live in sbin, which an ordinary user's PATH leaves out.
PATH=$PATH:/usr/sbin:/sbin

packages=(cmake g++ make pkg-config qt6-base-dev libgl-dev libxml2-dev libxml2-utils googletest
          libgtest-dev libgmock-dev iproute2 util-linux bsdutils libcap2-bin xvfb xauth xdotool x11-utils
          snmpd snmp rsyslog openbox locales clang libclang-rt-14-dev)
# The window icon's SVG plugin; checking the desktop entry, the metainfo and the service unit.
packages+=(libqt6svg6 desktop-file-utils appstream systemd)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    as_root "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
--no-install-recommends ${missing[*]}"
}

# Runs the shell command as root: directly when we are root, else through sudo; without sudo
# it says, in one line, what to run as root.
as_root() {
    if [ "$(id -u)" = 0 ]; then
        sh -c "$1"
    elif command -v sudo >/dev/null; then
        sudo sh -c "$1"
    else
        echo "sudo is missing; run as root, then again: $1" >&2
        exit 1
    fi
}

# Lets an ordinary user's copy of the program bind port 514.
grant_bind() {  # FILE
    getcap "$1" | grep -q cap_net_bind_service ||
        as_root "setcap cap_net_bind_service=+ep $(printf %q "$1")"
}

default_dir=${XDG_DATA_HOME:-$HOME/.local/share}/tarvane

jobs=$(nproc)

configure_build() {  # dir, extra cmake args...
    local dir=$1
    shift
    if [ -e "$dir" ] && [ ! -w "$dir" ]; then
        echo "$dir belongs to another user (an earlier sudo run?):" \
             "sudo chown -R $(id -un): $here/$dir" >&2
        exit 1
    fi
    cmake -S "$here" -B "$dir" -DTARVANE_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
}

fuzz_targets=(settings int_syntax display_line version_note exception_report intake settings_round_trip
              ups_reply)

run_fuzz() {  # seconds per target
    CC=clang CXX=clang++ configure_build build-fuzz -DTARVANE_FUZZ=ON -DTARVANE_BUILD_GUI=OFF \
        -DTARVANE_BUILD_TESTS=OFF -DTARVANE_SANITIZE="address;undefined"
    local t work log runs rate cov ft table=()
    for t in "${fuzz_targets[@]}"; do
        # New inputs go to a scratch folder; the seeds in the repository stay as they are.
        work=$(mktemp -d)
        log=build-fuzz/fuzz-$t.log
        if ! (cd build-fuzz/fuzz && ./fuzz_"$t" -max_total_time="$1" -print_final_stats=1 \
                -artifact_prefix="$here/build-fuzz/$t-" "$work" "$here/fuzz/corpus/$t") \
                >"$log" 2>&1; then
            tail -n 40 "$log" >&2
            echo "fuzz target $t failed; its input is in build-fuzz/$t-*" >&2
            rm -rf "$work"
            exit 1
        fi
        rm -rf "$work"
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
        read -r cov ft < <(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n 1 | awk '{print $2, $4}')
        table+=("$(printf '%-20s %12s %10s %8s %8s' "$t" "$runs" "$rate" "${cov:-?}" "${ft:-?}")")
    done
    printf '%-20s %12s %10s %8s %8s\n' target executions exec/s cov ft
    printf '%s\n' "${table[@]}"
}

case "${1:-}" in
run)
    install_missing
    configure_build build -DTARVANE_BUILD_TESTS=OFF
    [ "$(id -u)" = 0 ] || grant_bind build/app/Tarvane
    exec build/app/Tarvane
    ;;
test)
    install_missing
    configure_build build -DTARVANE_BUILD_TESTS=ON
    (cd build && ctest --output-on-failure -j"$jobs")
    configure_build build-asan -DTARVANE_SANITIZE="address;undefined" -DCMAKE_BUILD_TYPE=Debug
    (cd build-asan && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j"$jobs")
    # The listener and its hand-off are the threaded part.
    configure_build build-tsan -DTARVANE_SANITIZE=thread -DTARVANE_BUILD_GUI=OFF \
        -DCMAKE_BUILD_TYPE=Debug
    (cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -R '^reception_' -j"$jobs")
    run_fuzz 30
    ;;
fuzz)
    install_missing
    run_fuzz "${2:-60}"
    ;;
bench)
    install_missing
    configure_build build
    exec bench/run-bench.sh "$here/build"
    ;;
install)
    install_missing
    configure_build build -DTARVANE_BUILD_TESTS=OFF
    dist/install.sh desktop build/app/Tarvane "${2:-$default_dir}"
    grant_bind "$(realpath "${2:-$default_dir}")/Tarvane"
    ;;
uninstall)
    dist/install.sh desktop-remove "${2:-$default_dir}"
    ;;
install-service)
    install_missing
    configure_build build -DTARVANE_BUILD_TESTS=OFF
    as_root "$(printf '%q ' "$here/dist/install.sh" service "$here/build/app/Tarvane")"
    ;;
uninstall-service)
    as_root "$(printf %q "$here/dist/install.sh") service-remove"
    ;;
*)
    echo "usage: $0 run|test|bench|fuzz [SECONDS]|install [DIR]|uninstall [DIR]|install-service|\
uninstall-service" >&2
    exit 2
    ;;
esac
