#!/bin/bash
# Runs inside the booted test system (package_test.sh): installs the package with apt and
# checks the service as an admin meets it; says PASS last when every check held.
source /test/e2e_lib.sh
# A failed check is told and the checks go on.
set +e
failed=0
check() {  # WHAT COMMAND...
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failed=1; fi
}
fails() { ! "$@"; }
folder=/var/lib/tarvane
# Datagrams count once the program has read its settings: sent with logger until written.
logged_and_written() {
    logger -n 127.0.0.1 -P 514 -d -- "$1"
    grep -qs -- "$1" "$folder"/Tarvane-*.TXT
}
send_until_written() { wait_for 20 logged_and_written "$1"; }
err_logged() { journalctl -q -b -u tarvane -p err -o cat | grep -q -- "$1"; }
main_pid() { systemctl show -P MainPID tarvane; }
as_service() {  # COMMAND...: as tarvane, inside the service's own view of the files
    nsenter -t "$(main_pid)" -m -S "$(id -u tarvane)" -G "$(id -g tarvane)" -- "$@"
}

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /test/tarvane.deb >/tmp/apt.log 2>&1 ||
    { cat /tmp/apt.log; echo "FAIL: apt install"; exit 1; }
check "the service is active" systemctl is-active --quiet tarvane
pid=$(main_pid)
check "it runs as tarvane" [ "$(stat -c %U "/proc/$pid")" = tarvane ]
check "its one capability is CAP_NET_BIND_SERVICE" grep -qx $'CapEff:\t0000000000000400' \
    "/proc/$pid/status"
check "a logger line reaches the daily file" send_until_written "system test line"
check "a normal start logs nothing" [ -z "$(journalctl -q -b -o cat _SYSTEMD_UNIT=tarvane.service)" ]

check "tarvane cannot write the program" fails as_service sh -c ": >> $folder/Tarvane" 2>/dev/null
check "tarvane cannot rename the program" fails as_service mv "$folder/Tarvane" "$folder/x" 2>/dev/null
# What the user may do to its own folder from outside the service changes nothing that runs.
runuser -u tarvane -- sh -c "cd $folder && mv -f Tarvane Tarvane.orig &&
    printf '#!/bin/sh\ntouch $folder/subverted\nexec sleep 600\n' > Tarvane && chmod 755 Tarvane"
systemctl restart tarvane
check "a program planted in the folder does not run" send_until_written "after the plant"
check "no planted code ran" [ ! -e "$folder/subverted" ]

systemctl stop tarvane
socat -u UDP4-RECV:514 /dev/null &
holder=$!
wait_for 10 port_514_bound
check "a start fails while another process holds port 514" fails systemctl start tarvane 2>/dev/null
check "the journal has the bind error at err" wait_for 10 err_logged "Could not bind socket"
kill "$holder"
wait "$holder" 2>/dev/null

printf '<xml><GlobalSettings>' > "$folder/Tarvane.xml"
systemctl reset-failed tarvane
check "it starts with a broken settings file" systemctl start tarvane
check "the journal has the broken settings file at err" \
    wait_for 10 err_logged "Tarvane.xml could not be loaded"

DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq tarvane >/dev/null 2>&1
check "remove stops the service" fails systemctl is-active --quiet tarvane
check "remove keeps the daily files and settings" settings_and_daily_file_kept "$folder"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tarvane >/dev/null 2>&1
check "purge deletes the folder" [ ! -e "$folder" ]

[ "$failed" = 0 ] && echo PASS
