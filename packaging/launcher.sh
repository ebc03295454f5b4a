#!/bin/sh
# Starts the Larkledger Security Manager: on the table in FOLDER when the
# command line names one (FOLDER, or --folder FOLDER), or else in the
# person's data folder, which the program makes private (0700), with the
# first-use marker, when it is missing. The program reads the whole command
# line itself, names starting with '-' and --help included; nothing here
# looks at it, changes directory or consults CDPATH, and the program makes
# the folder and the marker without following a link. tools/run.sh starts a
# build through here with LARK_PROGRAM set.
set -eu

here=$(dirname -- "$(readlink -f -- "$0")")
program=${LARK_PROGRAM:-$here/../lib/larkledger-security/larkledger-security}

# A relative XDG_DATA_HOME is to be ignored, as an unset one is. Without
# HOME either, the data folder is named empty: the program then says so,
# unless a folder is named.
data_home=${XDG_DATA_HOME:-}
case $data_home in
/*) ;;
*) data_home=${HOME:+$HOME/.local/share} ;;
esac

exec "$program" --data-folder "${data_home:+$data_home/larkledger-security}" "$@"
