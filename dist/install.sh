#!/bin/bash
# Puts a built Tarvane where a Linux user or admin expects it; build.sh builds and calls this.
#   install.sh desktop BINARY DIR   as the user: the program folder DIR, menu entry, icon, metainfo
#   install.sh desktop-remove DIR   as the user: all of that but the settings and daily files
#   install.sh service BINARY       as root: user tarvane, /var/lib/tarvane, tarvane.service
#   install.sh service-remove       as root: the unit and the user; the folder's files stay
# The program keeps its settings and daily files beside its binary, so the binary is copied
# into the folder it will write to. The capability for port 514 is granted by the caller.
set -euo pipefail
dist=$(cd "$(dirname "$0")" && pwd)
source_root=$(dirname "$dist")
data=${XDG_DATA_HOME:-$HOME/.local/share}
metainfo=io.tarvane.tarvane.metainfo.xml
service_dir=/var/lib/tarvane
unit=/etc/systemd/system/tarvane.service

# Replaces the file at once, so a running program or a menu never sees half of it.
put() {  # SOURCE TARGET MODE [install options...]
    local source=$1 target=$2 mode=$3
    shift 3
    install -m "$mode" "$@" "$source" "$target.new"
    mv -f "$target.new" "$target"
}

# One argument of a desktop entry's Exec key: quoted when it holds more than plain path
# characters, then escaped once more as the key's string value.
exec_argument() {
    local s=${1//%/%%}
    if [[ $s =~ [^A-Za-z0-9/._+,:@-] ]]; then
        s=${s//\\/\\\\}; s=${s//\"/\\\"}; s=${s//\`/\\\`}; s=${s//\$/\\\$}
        s="\"$s\""
        s=${s//\\/\\\\}
    fi
    printf '%s' "$s"
}

desktop() {  # BINARY DIR
    local binary=$1 dir
    dir=$(realpath -m "$2")
    mkdir -p "$dir" "$data/applications" "$data/icons/hicolor/scalable/apps" "$data/metainfo"
    put "$binary" "$dir/Tarvane" 0755
    put "$source_root/README.md" "$dir/README.md" 0644
    local entry
    entry=$(<"$dist/tarvane.desktop.in")
    entry=${entry//@PROGRAM@/"$(exec_argument "$dir/Tarvane")"}
    entry=${entry//@FOLDER@/"$(exec_argument "$dir")"}
    printf '%s\n' "$entry" > "$data/applications/tarvane.desktop.new"
    mv -f "$data/applications/tarvane.desktop.new" "$data/applications/tarvane.desktop"
    put "$source_root/app/tarvane.svg" "$data/icons/hicolor/scalable/apps/tarvane.svg" 0644
    put "$dist/$metainfo" "$data/metainfo/$metainfo" 0644
    refresh_menu
    echo "installed $dir/Tarvane; menu entry $data/applications/tarvane.desktop"
}

desktop_remove() {  # DIR
    local dir
    dir=$(realpath -m "$1")
    rm -f "$dir/Tarvane" "$dir/README.md" "$data/applications/tarvane.desktop" \
          "$data/icons/hicolor/scalable/apps/tarvane.svg" "$data/metainfo/$metainfo"
    refresh_menu
    rmdir "$dir" 2>/dev/null || echo "kept $dir: the settings and daily files"
}

refresh_menu() {
    if command -v update-desktop-database >/dev/null; then
        update-desktop-database -q "$data/applications" || true
    fi
}

systemd_running() { [ -d /run/systemd/system ]; }

service() {  # BINARY
    local binary=$1
    if ! getent passwd tarvane >/dev/null; then
        useradd --system --user-group --no-log-init --home-dir "$service_dir" --no-create-home \
                --shell /usr/sbin/nologin --comment "Tarvane syslog receiver" tarvane
    fi
    install -d -m 0750 "$service_dir"
    # Files kept from an earlier install belong to whoever the user was then.
    chown -R tarvane:tarvane "$service_dir"
    # The program may write beside its binary but not the binary itself.
    put "$binary" "$service_dir/Tarvane" 0755 -o root -g root
    put "$source_root/README.md" "$service_dir/README.md" 0644 -o root -g root
    put "$dist/tarvane.service" "$unit" 0644
    if systemd_running; then
        systemctl daemon-reload
        systemctl enable tarvane.service
        systemctl restart tarvane.service
        echo "tarvane.service runs; its files are in $service_dir"
    else
        echo "installed $unit; systemd is not running here, so it was not started"
    fi
}

service_remove() {
    if systemd_running && [ -e "$unit" ]; then systemctl disable --now tarvane.service; fi
    rm -f "$unit" "$service_dir/Tarvane" "$service_dir/README.md"
    if systemd_running; then systemctl daemon-reload; fi
    if getent passwd tarvane >/dev/null; then userdel tarvane; fi
    if [ -d "$service_dir" ] && ! rmdir "$service_dir" 2>/dev/null; then
        # No file is left to a user id that a later account may be given.
        chown -R root:root "$service_dir"
        echo "kept $service_dir: the settings and daily files"
    fi
}

case "${1:-}" in
desktop) desktop "${2:?BINARY}" "${3:?DIR}" ;;
desktop-remove) desktop_remove "${2:?DIR}" ;;
service) service "${2:?BINARY}" ;;
service-remove) service_remove ;;
*)
    echo "usage: $0 desktop BINARY DIR | desktop-remove DIR | service BINARY | service-remove" >&2
    exit 2
    ;;
esac
