#!/bin/sh
# Installs the Debian packages listed in tools/debian-packages.txt that are missing.
# Uses sudo when not run as root. Does nothing when everything is present.
set -eu
here=$(dirname "$0")
missing=""
for pkg in $(grep -v '^[[:space:]]*#' "$here/debian-packages.txt"); do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    case "$status" in
        *"install ok installed"*) ;;
        *) missing="$missing $pkg" ;;
    esac
done
[ -z "$missing" ] && exit 0
echo "Installing missing Debian packages:$missing"
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
# shellcheck disable=SC2086
$sudo apt-get install -y -q --no-install-recommends $missing
