#!/bin/bash
# package_test.sh DEB: the package as an admin meets it. lintian finds no error or warning;
# hardening-check passes every item but control-flow protection (no Debian 12 start file has
# it) on the installed binary, which is stripped; the unit's exposure is at most 1.5. Then, as
# the real root, the package is installed with apt into a fresh Debian 12 booted under systemd
# (systemd-nspawn, private network), where package_inside.sh checks the service.
source "$(dirname "$0")/e2e_lib.sh"
deb=$(realpath "${1:?DEB}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

lintian --fail-on error,warning --tag-display-limit 0 "$deb" || fail "lintian"

dpkg-deb -x "$deb" "$work/pkg"
binary=$work/pkg/usr/lib/tarvane/Tarvane
hardening-check --nocfprotection "$binary" || fail "hardening-check"
! readelf -S "$binary" | grep -q '\.symtab' || fail "the packaged binary is not stripped"
ls "$(dirname "$deb")"/tarvane-dbgsym_*.*deb >/dev/null || fail "no debug symbols package"

unit=$(find "$work/pkg" -name tarvane.service)
score=$(systemd-analyze security --offline=true "$unit" 2>&1 |
        sed -n 's/.*Overall exposure level for tarvane.service: \([0-9.]*\).*/\1/p')
echo "unit exposure: $score"
awk -v s="$score" 'BEGIN { exit !(s != "" && s <= 1.5) }' || fail "unit exposure ${score:-unknown}"

require_real_root
# The test system: Debian 12 with systemd and what the package depends on, so apt installs it
# without a network. Kept by its package list, for the next run on this machine.
deps=$(dpkg-deb -f "$deb" Depends | sed 's/([^)]*)//g; s/|[^,]*//g; s/[[:space:]]//g')
extra=systemd,systemd-sysv,dbus,bsdutils,iproute2,socat
cache=$source_root/build-system-root
tarball=$cache/root-$(printf '%s' "$deps,$extra" | sha256sum | cut -c1-16).tar
if [ ! -s "$tarball" ]; then
    rm -rf "$cache" && mkdir -p "$cache"
    mmdebstrap --quiet --format=tar --variant=minbase --include="$extra,$deps" bookworm "$tarball.new" ||
        fail "mmdebstrap"
    mv "$tarball.new" "$tarball"
fi
root=$work/root
mkdir -p "$root" && tar -xf "$tarball" -C "$root"
mkdir -p "$root/test" "$work/result"
cp "$deb" "$root/test/tarvane.deb"
cp "$(dirname "$0")/package_inside.sh" "$(dirname "$0")/e2e_lib.sh" "$root/test/"
cat > "$root/etc/systemd/system/package-test.service" <<'UNIT'
[Unit]
Description=The package's checks, once the system is up
After=multi-user.target
[Service]
Type=oneshot
TimeoutStartSec=600
StandardOutput=file:/result/log
StandardError=inherit
ExecStart=/bin/bash /test/package_inside.sh
ExecStopPost=/bin/systemctl --no-block poweroff
[Install]
WantedBy=multi-user.target
UNIT
ln -s /etc/systemd/system/package-test.service \
      "$root/etc/systemd/system/multi-user.target.wants/package-test.service"

# Without systemd on the host there is nothing to register with or run a scope under.
flags=(--register=no)
[ -d /run/systemd/system ] || flags+=(--keep-unit)
timeout 900 systemd-nspawn --quiet --boot --private-network "${flags[@]}" -D "$root" \
    --bind="$work/result:/result" >"$work/boot.log" 2>&1 </dev/null ||
    { tail -n 30 "$work/boot.log"; fail "the test system did not boot and stop"; }
cat "$work/result/log" 2>/dev/null || fail "the checks did not run: $(tail -n 30 "$work/boot.log")"
grep -qx PASS "$work/result/log" || fail "the package in a booted system"
