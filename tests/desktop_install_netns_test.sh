#!/bin/bash
# desktop_install_netns_test.sh BINARY: the per-user install as an ordinary user with a home of
# its own: entry and metainfo valid, the installed program stripped, binding port 514 as that
# user and writing its daily file beside itself; uninstalling, without DIR or with a DIR relative
# to the caller's folder, keeps that file and says only what it did.
source "$(dirname "$0")/e2e_lib.sh"
require_real_root
binary=${1:?BINARY}

work=$(mktemp -d)
pid=
cleanup() { [ -z "$pid" ] || kill "$pid" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
# A user id no account has: nothing of the host's is the test's user's.
uid=62000
while getent passwd "$uid" >/dev/null || getent group "$uid" >/dev/null; do uid=$((uid + 1)); done
as_user() { setpriv --reuid="$uid" --regid="$uid" --clear-groups env -i PATH=/usr/bin:/bin \
                    HOME="$work/home" LC_ALL=C.UTF-8 "$@"; }

# A folder name that the entry's Exec key must quote.
dir="$work/my programs/tarvane"
mkdir -p "$work/home" && cp "$binary" "$work/Tarvane" && chown -R "$uid:$uid" "$work"
as_user "$source_root/dist/install.sh" desktop "$work/Tarvane" "$dir"
# What build.sh install does through sudo.
setcap cap_net_bind_service=+ep "$dir/Tarvane"

data=$work/home/.local/share
entry=$data/applications/tarvane.desktop
desktop-file-validate "$entry" | { ! grep -E 'error|warning'; } || fail "desktop entry invalid"
grep -Fqx "Exec=\"$dir/Tarvane\"" "$entry" || fail "Exec key: $(grep ^Exec= "$entry")"
grep -Fqx "Exec=xdg-open \"$dir\"" "$entry" || fail "folder action: $(grep ^Exec=x "$entry")"
appstreamcli validate --no-net "$data/metainfo/io.tarvane.tarvane.metainfo.xml" >/dev/null ||
    fail "metainfo invalid"
[ -s "$data/icons/hicolor/scalable/apps/tarvane.svg" ] || fail "no icon"
! readelf -S "$dir/Tarvane" | grep -q '\.symtab' || fail "installed unstripped"

(cd / && exec setpriv --reuid="$uid" --regid="$uid" --clear-groups env -i HOME="$work/home" \
    QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 "$dir/Tarvane" >"$work/output.txt" 2>&1) &
pid=$!
wait_for 20 port_514_bound || fail "port 514 not bound: $(cat "$work/output.txt")"
wait_for 20 marker_written "$dir" "desktop install marker" || fail "nothing written"
[ "$(stat -c %u "$dir"/Tarvane-*.TXT)" = "$uid" ] || fail "daily file not written as the user"
kill "$pid"; wait "$pid" 2>/dev/null || true; pid=

# Without DIR, uninstall finds the folder through the menu entry.
as_user "$source_root/build.sh" uninstall > "$work/removed.txt" || fail "uninstall without DIR"
grep -Fqx "removed $dir/Tarvane" "$work/removed.txt" || fail "reported: $(cat "$work/removed.txt")"
for f in "$entry" "$data/metainfo/io.tarvane.tarvane.metainfo.xml" \
         "$data/icons/hicolor/scalable/apps/tarvane.svg" "$dir/Tarvane" "$dir/README.md"; do
    [ ! -e "$f" ] || fail "left behind: $f"
done
settings_and_daily_file_kept "$dir" || fail "the daily file or settings went"
# With no entry left it refuses, and tells the command for a folder of one's own.
! as_user "$source_root/build.sh" uninstall 2>"$work/refused.txt" || fail "uninstall of nothing"
grep -q 'build.sh uninstall DIR' "$work/refused.txt" || fail "refusal: $(cat "$work/refused.txt")"

# A relative DIR is the caller's: from $work, "my programs/tarvane" is $dir.
as_user "$source_root/dist/install.sh" desktop "$work/Tarvane" "$dir" >/dev/null
(cd "$work" && as_user "$source_root/build.sh" uninstall "my programs/tarvane") >/dev/null ||
    fail "uninstall with a relative DIR"
[ ! -e "$dir/Tarvane" ] && [ ! -e "$entry" ] || fail "relative DIR: the program or entry stays"
echo PASS
