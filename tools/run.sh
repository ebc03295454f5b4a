#!/bin/sh
# Installs what is missing (Debian), builds the program in ./build, and
# starts the Security Manager in its per-user data folder, where it keeps
# Gatekeep.acl. The program makes a missing folder private (0700) and puts
# the first-use marker in it, as an installer would leave it, so the first
# start offers to create the first login ID.
#
#   tools/run.sh                  the program of ./build
#   LARK_BUILD_DIR=dir tools/run.sh
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${LARK_BUILD_DIR:-$repo/build}
program=${LARK_PROGRAM:-$build/app/larkledger-security}

"$repo/tools/install-deps.sh" run
cmake -S "$repo" -B "$build" -G Ninja
cmake --build "$build" --target larkledger-security

if [ ! -x "$program" ]; then
    echo "run.sh: $program is not built yet. Build it with:" >&2
    echo "  cmake -S \"$repo\" -B \"$build\" -G Ninja && cmake --build \"$build\"" >&2
    exit 1
fi

LARK_PROGRAM=$program exec "$repo/packaging/launcher.sh" "$@"
