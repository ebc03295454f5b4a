#!/bin/sh
# Starts the Larkledger Security Manager in the user's data folder, where it
# keeps Gatekeep.acl. A fresh folder gets the first-use marker, so the first
# start offers to create the first login ID. tools/run.sh starts a build
# through here with LARK_PROGRAM set.
set -eu

here=$(dirname "$(readlink -f "$0")")
program=${LARK_PROGRAM:-$here/../lib/larkledger-security/larkledger-security}

# Options that only print need neither a display nor the data folder.
for arg in "$@"; do
    case $arg in
    --) break ;;
    -h | --help | -v | --version) exec "$program" "$@" ;;
    esac
done

# An explicit Qt platform (offscreen, say) needs no display.
if [ -z "${QT_QPA_PLATFORM:-}" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "larkledger-security: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
    echo "The Security Manager is a desktop program; run it in a graphical session." >&2
    exit 1
fi

data=${XDG_DATA_HOME:-$HOME/.local/share}/larkledger-security
mkdir -p "$data"
if [ ! -e "$data/Gatekeep.acl" ]; then
    : >>"$data/~first.log"
fi

cd "$data"
exec "$program" "$@"
