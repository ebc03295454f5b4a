#!/bin/sh
# Starts the Larkledger Security Manager in the user's data folder, where it
# keeps Gatekeep.acl. A fresh folder gets the first-use marker, so the first
# start offers to create the first login ID.
set -eu

here=$(dirname "$(readlink -f "$0")")
program=$here/../lib/larkledger-security/larkledger-security

data=${XDG_DATA_HOME:-$HOME/.local/share}/larkledger-security
mkdir -p "$data"
if [ ! -e "$data/Gatekeep.acl" ]; then
    : >>"$data/~first.log"
fi

cd "$data"
exec "$program" "$@"
