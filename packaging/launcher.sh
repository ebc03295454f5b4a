#!/bin/sh
# Starts the Larkledger Security Manager on the table in FOLDER (the first
# argument, or --folder FOLDER), or else in the user's data folder, where it
# keeps Gatekeep.acl. A FOLDER that holds no table (or only the empty file a
# start without one leaves) gets the first-use marker, so the start offers
# to create the first login ID there.
#
# The user's data folder: The folder is made private (0700): the table's
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
    -h | --help | -v | -V | --version) exec "$program" "$@" ;;
    esac
done

# The folder: first, or after --folder anywhere; the rest goes to the
# program (Qt's own options).
folder=
if [ $# -gt 0 ]; then
    case $1 in
    -*) ;;
    *)
        folder=$1
        shift
        ;;
    esac
fi
count=$#
while [ "$count" -gt 0 ]; do
    arg=$1
    shift
    count=$((count - 1))
    case $arg in
    --folder)
        if [ "$count" -eq 0 ]; then
            echo "larkledger-security: --folder needs a folder" >&2
            exit 2
        fi
        folder=$1
        shift
        count=$((count - 1))
        ;;
    --folder=*) folder=${arg#--folder=} ;;
    *) set -- "$@" "$arg" ;;
    esac
done

# An explicit Qt platform (offscreen, say) needs no display.
if [ -z "${QT_QPA_PLATFORM:-}" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "larkledger-security: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
    echo "The Security Manager is a desktop program; run it in a graphical session." >&2
    exit 1
fi

if [ -n "$folder" ]; then
    if [ ! -d "$folder" ]; then
        echo "larkledger-security: $folder: no such folder" >&2
        exit 2
    fi
    table=$folder/Gatekeep.acl
    if { [ ! -e "$table" ] && [ ! -L "$table" ]; } ||
        { [ -f "$table" ] && [ ! -L "$table" ] && [ ! -s "$table" ]; }; then
        : >>"$folder/~first.log"
    fi
    cd "$folder"
    exec "$program" "$@"
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
