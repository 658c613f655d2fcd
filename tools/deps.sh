#!/usr/bin/env bash
# Installs the Debian packages a build needs, skipping the update when all are present already.
# Usage: tools/deps.sh PACKAGE...   (as root, or through sudo when available)
#
# Another package install (an unattended upgrade, a second command started beside this one) holds apt's
# locks while it runs. Rather than fail at once, each apt step waits for the locks to be free again, up to
# DEPS_LOCK_WAIT seconds (default 900), saying who holds them; past that it fails with that message.
set -euo pipefail

missing=()
for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
lock_wait=${DEPS_LOCK_WAIT:-900}

# Runs one apt command; while it fails only because another process holds a lock, waits and runs it again.
apt_step() {
    local deadline=$((SECONDS + lock_wait)) said=0 log
    log=$(mktemp)
    while true; do
        if "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive "$@" -o DPkg::Lock::Timeout=60 2>"$log"; then
            cat "$log" >&2
            rm -f "$log"
            return 0
        fi
        cat "$log" >&2
        if ! grep -q 'Could not get lock\|Unable to lock\|Unable to acquire the dpkg frontend lock' "$log"; then
            rm -f "$log"
            return 1 # a failure of its own: waiting would not help
        fi
        if [ $SECONDS -ge $deadline ]; then
            echo "tools/deps.sh: apt's lock is still held after ${lock_wait} s ($(grep -o 'held by process.*' "$log" | head -1))." >&2
            echo "tools/deps.sh: let that install finish (or stop it), then run this command again." >&2
            rm -f "$log"
            return 1
        fi
        if [ $said -eq 0 ]; then
            echo "tools/deps.sh: another package install holds apt's lock; waiting for it (at most ${lock_wait} s)..." >&2
            said=1
        fi
        sleep 5
    done
}

echo "Installing: ${missing[*]}"
apt_step apt-get update -q
apt_step apt-get install -y -q --no-install-recommends "${missing[@]}"
