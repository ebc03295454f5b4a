#!/bin/sh
# Installs what is missing (Debian), builds the program for release in
# ./build-package and makes the Debian package there:
#   build-package/larkledger-security_<version>_<arch>.deb
# Install it with: sudo apt-get install ./build-package/larkledger-security_*.deb
#
#   LARK_PACKAGE_DIR=dir tools/package.sh      another build folder
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${LARK_PACKAGE_DIR:-$repo/build-package}
jobs=${LARK_JOBS:-$(nproc)}

"$repo/tools/install-deps.sh" package
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLARK_GUI=ON \
    -DLARK_SANITIZE=OFF -DLARK_FUZZ=OFF
cmake --build "$build" -j "$jobs" --target larkledger-security
rm -f "$build"/larkledger-security_*.deb
(cd "$build" && cpack -G DEB)
ls "$build"/larkledger-security_*.deb
