#!/bin/sh
# Starts the Larkledger Security Manager in the user's data folder, where it
# keeps Gatekeep.acl. The folder is made private (0700): the table's
# scrambling hides no password from a reader. Only a folder made here gets
# the first-use marker, so the first start offers to create the first login
# ID; a table that is missing later (or a link to nothing in its place) is
# no first use. tools/run.sh starts a build through here with LARK_PROGRAM
# set.
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
if [ ! -e "$data" ] && [ ! -L "$data" ]; then
    mkdir -p "$(dirname "$data")"
    # -m sets the mode whatever the umask; a folder that appeared meanwhile
    # fails here rather than getting a marker.
    mkdir -m 0700 "$data"
    : >>"$data/~first.log"
fi

cd "$data"
exec "$program" "$@"
