#!/bin/bash
# Puts a built Tarvane where a desktop user expects it; build.sh builds and calls this.
#   install.sh desktop BINARY DIR   the program folder DIR, menu entry, icon, metainfo
#   install.sh desktop-remove [DIR] all of that but the settings and daily files; without DIR,
#                                   the folder the menu entry points at
#   install.sh default-dir          the folder an install without DIR uses
# The program keeps its settings and daily files beside its binary, so the binary is copied
# into the folder it will write to. The capability for port 514 is granted by the caller.
# The headless collector comes as a Debian package instead (build.sh deb).
set -euo pipefail
dist=$(cd "$(dirname "$0")" && pwd)
source_root=$(dirname "$dist")
metainfo=io.tarvane.tarvane.metainfo.xml

data_dir() { printf '%s' "${XDG_DATA_HOME:-${HOME:?neither XDG_DATA_HOME nor HOME is set}/.local/share}"; }

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
    local binary=$1 dir data
    dir=$(realpath -m "$2")
    data=$(data_dir)
    if [[ $dir == *$'\n'* ]]; then
        echo "a folder name with a line break cannot be named in a menu entry: $dir" >&2
        exit 1
    fi
    mkdir -p "$dir" "$data/applications" "$data/icons/hicolor/scalable/apps" "$data/metainfo"
    # Stripped: the debugging symbols are for the build folder, not the user's.
    put "$binary" "$dir/Tarvane" 0755 -s
    put "$source_root/README.md" "$dir/README.md" 0644
    local entry
    entry=$(<"$dist/tarvane.desktop.in")
    entry=${entry//@PROGRAM@/"$(exec_argument "$dir/Tarvane")"}
    entry=${entry//@FOLDER@/"$(exec_argument "$dir")"}
    # Where uninstall finds the program again; a string value escapes only the backslash.
    entry=${entry//@DIR@/"${dir//\\/\\\\}"}
    printf '%s\n' "$entry" > "$data/applications/tarvane.desktop.new"
    mv -f "$data/applications/tarvane.desktop.new" "$data/applications/tarvane.desktop"
    put "$source_root/app/tarvane.svg" "$data/icons/hicolor/scalable/apps/tarvane.svg" 0644
    put "$dist/$metainfo" "$data/metainfo/$metainfo" 0644
    refresh_menu "$data"
    echo "installed $dir/Tarvane; menu entry $data/applications/tarvane.desktop"
}

# The program folder the installed menu entry names, if there is one.
entry_dir() {  # DATA
    local line
    line=$(grep -m1 '^X-Tarvane-Folder=' "$1/applications/tarvane.desktop" 2>/dev/null) || return 1
    line=${line#X-Tarvane-Folder=}
    printf '%s' "${line//\\\\/\\}"
}

desktop_remove() {  # [DIR]
    local data dir entry_folder removed=() f
    data=$(data_dir)
    entry_folder=$(entry_dir "$data" || true)
    if [ $# -gt 0 ]; then
        dir=$(realpath -m "$1")
    elif [ -n "$entry_folder" ]; then
        dir=$entry_folder
    else
        echo "no menu entry names an installed Tarvane; for a copy in a folder of your own:" >&2
        echo "  ./build.sh uninstall DIR" >&2
        exit 1
    fi
    if [ ! -e "$dir/Tarvane" ] && [ "$dir" != "$entry_folder" ]; then
        echo "no Tarvane in $dir${entry_folder:+; the menu entry names $entry_folder}" >&2
        exit 1
    fi
    local files=("$dir/Tarvane" "$dir/README.md")
    # The menu entry and its files go with the program they start, and only then.
    if [ "$dir" = "$entry_folder" ]; then
        files+=("$data/applications/tarvane.desktop" "$data/icons/hicolor/scalable/apps/tarvane.svg"
                "$data/metainfo/$metainfo")
    fi
    for f in "${files[@]}"; do
        if [ -e "$f" ]; then rm -f "$f" && removed+=("$f"); fi
    done
    refresh_menu "$data"
    [ ${#removed[@]} -eq 0 ] || printf 'removed %s\n' "${removed[@]}"
    if [ -d "$dir" ] && ! rmdir "$dir" 2>/dev/null; then
        echo "kept $dir: the settings and daily files"
    fi
}

refresh_menu() {  # DATA
    if command -v update-desktop-database >/dev/null; then
        update-desktop-database -q "$1/applications" || true
    fi
}

case "${1:-}" in
desktop) desktop "${2:?BINARY}" "${3:?DIR}" ;;
desktop-remove) shift; desktop_remove "$@" ;;
default-dir) printf '%s\n' "$(data_dir)/tarvane" ;;
*)
    echo "usage: $0 desktop BINARY DIR | desktop-remove [DIR] | default-dir" >&2
    exit 2
    ;;
esac
