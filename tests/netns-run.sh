#!/bin/sh
# Runs a command in a private network namespace with only lo up, so tests may
# bind port 514 or add the site's addresses without touching the host network.
# Name lookups stay inside as well: in a private mount namespace the command
# sees host tables that know only localhost and a resolver that asks 127.0.0.1,
# where nothing answers, never the host's resolver, cache or resolver daemon.
# As root plain namespaces; otherwise a user namespace maps us to root inside.
if [ "$(id -u)" = 0 ]; then flags=-nm; else flags=-rnm; fi
exec unshare $flags sh -c '
    set -e
    ip link set lo up
    # Each file is bound over its place, then unlinked: the mount keeps it.
    private() {
        f=$(mktemp)
        printf "$2" >"$f"
        mount --bind "$f" "$1"
        rm -f "$f"
    }
    private /etc/hosts "127.0.0.1 localhost\n"
    private /etc/nsswitch.conf "hosts: files dns\n"
    if [ -e /etc/resolv.conf ]; then
        private /etc/resolv.conf "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n"
    fi
    for d in /run/nscd /var/run/nscd /run/systemd/resolve; do
        if [ -d "$d" ]; then mount -t tmpfs none "$d"; fi
    done
    exec "$@"' netns-run "$@"
