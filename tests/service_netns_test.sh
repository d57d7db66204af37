#!/bin/bash
# service_netns_test.sh BINARY: install-service and uninstall-service against private copies of
# /etc and /var/lib, and the program started the way its unit starts it (user, capabilities,
# environment and folder read from the unit): it binds port 514 with CAP_NET_BIND_SERVICE as
# its only capability and writes its daily file in the service folder. Starting the unit itself
# needs systemd as PID 1, which CI does not have; the unit is checked with systemd-analyze.
source "$(dirname "$0")/e2e_lib.sh"
require_real_root
binary=$(realpath "${1:?BINARY}")
if [ -z "${TARVANE_PRIVATE_MOUNTS:-}" ]; then
    TARVANE_PRIVATE_MOUNTS=1 exec unshare -m --propagation private "$0" "$binary"
fi

work=$(mktemp -d)
pid=
cleanup() { [ -z "$pid" ] || kill "$pid" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
# The host's accounts, units and state stay as they are: the install writes to copies, and
# with /run/systemd hidden it finds no systemd to start the unit with.
cp -a /etc "$work/etc"
mount --bind "$work/etc" /etc
mount -t tmpfs tmpfs /var/lib
[ ! -d /run/systemd ] || mount -t tmpfs tmpfs /run/systemd

"$source_root/dist/install.sh" service "$binary"
unit=/etc/systemd/system/tarvane.service
folder=/var/lib/tarvane
getent passwd tarvane >/dev/null || fail "no user tarvane"
[ "$(stat -c %U "$folder")" = tarvane ] || fail "the folder is not the user's"
[ "$(stat -c %U:%a "$folder/Tarvane")" = root:755 ] || fail "the user may change its binary"
systemd-analyze verify "$unit" || fail "systemd-analyze verify"

key() { sed -n "s/^$1=//p" "$unit"; }
[ "$(key CapabilityBoundingSet)" = "$(key AmbientCapabilities)" ] || fail "bounding set"
cap=$(key AmbientCapabilities | tr '[:upper:]' '[:lower:]')
cap=${cap#cap_}
[ "$(key NoNewPrivileges)" = yes ] || fail "NoNewPrivileges"
# shellcheck disable=SC2046 # the unit's Environment and ExecStart hold no quoting
(cd "$(key WorkingDirectory)" && exec setpriv --reuid="$(key User)" --regid="$(key Group)" \
    --init-groups --inh-caps=-all,+"$cap" --ambient-caps=-all,+"$cap" \
    --bounding-set=-all,+"$cap" --no-new-privs env -i $(key Environment) $(key ExecStart) \
    >"$work/output.txt" 2>&1) &
pid=$!
wait_for 20 port_514_bound || fail "port 514 not bound: $(cat "$work/output.txt")"
# Only bit 10, CAP_NET_BIND_SERVICE.
[ "$(effective_caps "$pid")" = 0000000000000400 ] || fail "capabilities $(effective_caps "$pid")"
wait_for 20 marker_written "$folder" "service marker" || fail "nothing written"
[ "$(stat -c %U "$folder"/Tarvane-*.TXT)" = tarvane ] || fail "daily file not the user's"
kill "$pid"; wait "$pid" 2>/dev/null || true; pid=

"$source_root/dist/install.sh" service-remove
[ ! -e "$unit" ] || fail "the unit stays"
! getent passwd tarvane >/dev/null || fail "the user stays"
[ ! -e "$folder/Tarvane" ] || fail "the binary stays"
settings_and_daily_file_kept "$folder" || fail "the daily file or settings went"
echo PASS
