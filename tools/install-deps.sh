#!/bin/sh
# Installs the Debian packages named on the command line that are not yet
# installed. apt-get update runs once, and only when something is missing.
# A name that an installed package provides counts as installed (a Node.js
# build that brings its own npm provides "npm").
set -eu
provided=$(dpkg-query -W -f='${db:Status-Abbrev} ${Provides}\n' 2>/dev/null |
           sed -n 's/^ii *//p' | tr ',' '\n' | sed 's/ *(.*//; s/^ *//; s/:.*//')
missing=""
for pkg in "$@"; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    case "$status" in
        *"ok installed"*) continue ;;
    esac
    if printf '%s\n' "$provided" | grep -qx -- "$pkg"; then
        continue
    fi
    missing="$missing $pkg"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages. Install them as root with:" >&2
    echo "  apt-get update && apt-get install -y$missing" >&2
    exit 1
fi
echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends $missing
