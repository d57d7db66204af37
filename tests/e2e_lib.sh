# Shared by the shell tests of the installed program; each runs under netns-run.sh.
set -euo pipefail
source_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Taking another user's identity needs the real root, not root of a user namespace.
require_real_root() {
    if [ "$(id -u)" != 0 ] || ! grep -Eq '^ *0 +0 +4294967295$' /proc/self/uid_map; then
        echo "skipped: needs root"
        exit 77
    fi
}

fail() { echo "FAIL: $*" >&2; exit 1; }

# Polls the command every 0.1 s for at most SECONDS; false when it never succeeded.
wait_for() {  # SECONDS COMMAND...
    local tries=$(($1 * 10)) i
    shift
    for ((i = 0; i < tries; i++)); do "$@" && return 0; sleep 0.1; done
    return 1
}

port_514_bound() { awk 'NR > 1 && $2 ~ /:0202$/ {f=1} END {exit !f}' /proc/net/udp; }

# Datagrams count once the window is up, so the marker is sent until it is written.
marker_written() {  # DIR MARKER
    printf '<8>%s' "$2" > /dev/udp/127.0.0.1/514
    grep -qs "$2" "$1"/Tarvane-*.TXT
}

# What an uninstall must leave in the program folder.
settings_and_daily_file_kept() { ls "$1"/Tarvane-*.TXT "$1/Tarvane.xml" >/dev/null; }

