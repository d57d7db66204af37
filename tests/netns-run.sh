#!/bin/sh
# Runs a command in a private network namespace with only lo up, so tests may
# bind port 514 or add the site's addresses without touching the host network.
# As root a plain namespace; otherwise a user namespace maps us to root inside.
if [ "$(id -u)" = 0 ]; then flags=-n; else flags=-rn; fi
exec unshare $flags sh -c 'ip link set lo up && exec "$@"' netns-run "$@"
