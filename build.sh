#!/bin/bash
# One entry point for a fresh Debian 12 machine:
#   ./build.sh run    install what is missing, build, start Tarvane
#   ./build.sh test   install what is missing, build, run every test (plain, ASan+UBSan, TSan)
#   ./build.sh bench  install what is missing, build, run the throughput benchmark
set -euo pipefail
cd "$(dirname "$0")"
here=$(pwd)

packages=(cmake g++ make pkg-config qt6-base-dev libgl-dev libxml2-dev libxml2-utils googletest libgtest-dev
          libgmock-dev iproute2 util-linux bsdutils libcap2-bin xvfb xauth xdotool x11-utils
          snmpd snmp rsyslog)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" != 0 ]; then
        echo "missing packages: ${missing[*]} (run as root to install them)" >&2
        exit 1
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

jobs=$(nproc)

configure_build() {  # dir, extra cmake args...
    local dir=$1
    shift
    cmake -S "$here" -B "$dir" -DTARVANE_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
}

case "${1:-}" in
run)
    install_missing
    configure_build build -DTARVANE_BUILD_TESTS=OFF
    exec build/app/Tarvane
    ;;
test)
    install_missing
    configure_build build
    (cd build && ctest --output-on-failure -j"$jobs")
    configure_build build-asan -DTARVANE_SANITIZE="address;undefined" -DCMAKE_BUILD_TYPE=Debug
    (cd build-asan && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j"$jobs")
    # The listener and its hand-off are the threaded part.
    configure_build build-tsan -DTARVANE_SANITIZE=thread -DTARVANE_BUILD_GUI=OFF \
        -DCMAKE_BUILD_TYPE=Debug
    (cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -R '^reception_' -j"$jobs")
    ;;
bench)
    install_missing
    configure_build build
    exec bench/run-bench.sh "$here/build"
    ;;
*)
    echo "usage: $0 run|test|bench" >&2
    exit 2
    ;;
esac
