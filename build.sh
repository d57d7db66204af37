#!/bin/bash
# One entry point for a fresh Debian 12 machine:
#   ./build.sh run    install what building and running need, build, start Tarvane
#   ./build.sh test   install what the tests need too, check the formatting, build, run every
#                     test (plain, ASan+UBSan, TSan, fuzzing, the package in a booted Debian 12)
#   ./build.sh test quick  the developer's loop: the formatting, one plain build and its tests
#   ./build.sh bench  build, run the throughput benchmark
#   ./build.sh fuzz [SECONDS]  build the fuzz targets with clang, run each for SECONDS (default
#                     60); any crash or sanitizer report fails
#   ./build.sh deb    build the Debian package of the headless collector into build-deb/
#   ./build.sh install [DIR] | uninstall [DIR]     for this user, with a menu entry
#   ./build.sh install-service | uninstall-service  the headless collector, from the package
# Run as an ordinary user, it builds and runs as that user and uses sudo only for what needs
# root: installing packages, the capability to bind port 514, the service. JOBS sets the
# build's parallelism (default: every core).
set -euo pipefail
caller_dir=$(pwd)
cd "$(dirname "$0")"
here=$(pwd)
# setcap and getcap live in sbin, which an ordinary user's PATH leaves out.
PATH=$PATH:/usr/sbin:/sbin

# What each command installs: building and running take only the first two groups.
build_packages=(cmake g++ make pkg-config qt6-base-dev libgl-dev libxml2-dev libsystemd-dev
                libxcb1-dev)
# The window icon's SVG plugin; setcap for port 514.
run_packages=(libqt6svg6 libcap2-bin)
deb_packages=(debhelper dpkg-dev)
fuzz_packages=(clang libclang-rt-14-dev)
format_packages=(clang-format)
bench_packages=(rsyslog iproute2)
# Real peers and tools the tests drive: clients and relays, an SNMP agent, X servers and a
# window manager, locale sources, checkers for what is installed, a booted Debian 12 for the
# package.
test_packages=(googletest libgtest-dev libgmock-dev libxml2-utils iproute2 util-linux bsdutils
               strace rsyslog snmpd snmp xvfb xauth xdotool x11-utils xclip openbox
               python3-pyatspi at-spi2-core dbus-daemon locales desktop-file-utils appstream systemd
               lintian devscripts mmdebstrap systemd-container)
# The tests run these as programs of their own; a machine that did not have them gets no
# service from them.
peer_services=(rsyslog snmpd)

missing_of() {  # PACKAGE...
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            echo "$p"
    done
}

# Installs what is missing. No service a package brings is started meanwhile (policy-rc.d
# refuses every start), and the peers' services are left disabled.
install_missing() {  # PACKAGE...
    local missing peers=() p
    mapfile -t missing < <(missing_of "$@" | sort -u)
    [ ${#missing[@]} -eq 0 ] && return 0
    for p in "${missing[@]}"; do
        [[ " ${peer_services[*]} " == *" $p "* ]] && peers+=("$p.service")
    done
    local disable=:
    [ ${#peers[@]} -eq 0 ] || disable="systemctl disable --quiet ${peers[*]} 2>/dev/null || true"
    as_root "policy=/usr/sbin/policy-rc.d; own=
if [ ! -e \$policy ]; then printf '#!/bin/sh\nexit 101\n' >\$policy; chmod 755 \$policy; own=1; fi
apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
--no-install-recommends ${missing[*]}; rc=\$?
[ -z \"\$own\" ] || rm -f \$policy
$disable
exit \$rc"
}

# Runs the shell command as root: directly when we are root, else through sudo; a user whom
# sudo refuses is told the command to run as root.
as_root() {
    if [ "$(id -u)" = 0 ]; then
        sh -c "$1"
    elif command -v sudo >/dev/null && sudo -v; then
        sudo sh -c "$1"
    else
        echo "this needs root, and sudo is missing or refuses $(id -un); as root, run:" >&2
        echo "$1" >&2
        exit 1
    fi
}

# Lets an ordinary user's copy of the program bind port 514.
grant_bind() {  # FILE
    getcap "$1" | grep -q cap_net_bind_service ||
        as_root "setcap cap_net_bind_service=+ep $(printf %q "$1")"
}

# A folder named on the command line is the caller's, not the repository's.
caller_path() {  # PATH
    case $1 in /*) printf '%s' "$1" ;; *) printf '%s' "$caller_dir/$1" ;; esac
}

jobs=${JOBS:-$(nproc)}

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

# Every C++ file as .clang-format lays it out; the check names each file that drifts.
check_format() {
    git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
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

# The package is built from a copy of the sources in build-deb/, so the tree stays clean and
# the .deb lands beside the copy: build-deb/tarvane_<version>_<arch>.deb.
build_deb() {
    local src=build-deb/src/tarvane
    if [ -e build-deb ] && [ ! -w build-deb ]; then
        echo "build-deb belongs to another user: sudo chown -R $(id -un): $here/build-deb" >&2
        exit 1
    fi
    rm -rf build-deb && mkdir -p "$src"
    tar -c --exclude='./build*' --exclude=./.git --exclude=./.cache . | tar -x -C "$src"
    (cd "$src" && DEB_BUILD_OPTIONS="parallel=$jobs" dpkg-buildpackage -b -us -uc >../build.log 2>&1) ||
        { tail -n 40 build-deb/src/build.log >&2; echo "the package did not build" >&2; exit 1; }
    mv build-deb/src/*.deb build-deb/src/*.ddeb build-deb/ 2>/dev/null || true
    deb=$(ls "$here"/build-deb/tarvane_*.deb)
    echo "built $deb"
}

case "${1:-}" in
run)
    install_missing "${build_packages[@]}" "${run_packages[@]}"
    configure_build build -DTARVANE_BUILD_TESTS=OFF
    [ "$(id -u)" = 0 ] || grant_bind build/app/Tarvane
    exec build/app/Tarvane
    ;;
test)
    if [ "${2:-}" = quick ]; then
        install_missing "${build_packages[@]}" "${run_packages[@]}" "${format_packages[@]}" \
            "${test_packages[@]}"
        check_format
        configure_build build -DTARVANE_BUILD_TESTS=ON
        (cd build && ctest --output-on-failure -j"$jobs")
        exit 0
    fi
    install_missing "${build_packages[@]}" "${run_packages[@]}" "${deb_packages[@]}" \
        "${fuzz_packages[@]}" "${format_packages[@]}" "${test_packages[@]}"
    check_format
    configure_build build -DTARVANE_BUILD_TESTS=ON
    (cd build && ctest --output-on-failure -j"$jobs")
    configure_build build-asan -DTARVANE_SANITIZE="address;undefined" -DCMAKE_BUILD_TYPE=Debug
    (cd build-asan && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j"$jobs")
    # The listener and its hand-off are the threaded part.
    configure_build build-tsan -DTARVANE_SANITIZE=thread -DTARVANE_BUILD_GUI=OFF \
        -DCMAKE_BUILD_TYPE=Debug
    (cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -R '^reception_' -j"$jobs")
    run_fuzz 30
    build_deb
    # Without the real root the booted system is skipped (77); the package's checks still ran.
    tests/package_test.sh "$deb" || [ $? = 77 ]
    ;;
fuzz)
    install_missing "${build_packages[@]}" "${fuzz_packages[@]}"
    run_fuzz "${2:-60}"
    ;;
bench)
    install_missing "${build_packages[@]}" "${bench_packages[@]}"
    configure_build build
    exec bench/run-bench.sh "$here/build"
    ;;
deb)
    install_missing "${build_packages[@]}" "${deb_packages[@]}"
    build_deb
    ;;
install)
    install_missing "${build_packages[@]}" "${run_packages[@]}"
    configure_build build -DTARVANE_BUILD_TESTS=OFF
    dir=$(realpath -m "$(caller_path "${2:-$(dist/install.sh default-dir)}")")
    dist/install.sh desktop build/app/Tarvane "$dir"
    grant_bind "$dir/Tarvane"
    ;;
uninstall)
    dist/install.sh desktop-remove ${2:+"$(realpath -m "$(caller_path "$2")")"}
    ;;
install-service)
    install_missing "${build_packages[@]}" "${deb_packages[@]}"
    build_deb
    as_root "DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $(printf %q "$deb")"
    echo "tarvane.service runs; its files are in /var/lib/tarvane (sudo journalctl -u tarvane)"
    ;;
uninstall-service)
    as_root "DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq tarvane"
    echo "removed tarvane; /var/lib/tarvane keeps Tarvane.xml and the daily files" \
         "(apt purge tarvane deletes them)"
    ;;
*)
    echo "usage: $0 run|test [quick]|bench|fuzz [SECONDS]|deb|install [DIR]|uninstall [DIR]|\
install-service|uninstall-service" >&2
    exit 2
    ;;
esac
