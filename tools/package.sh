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

# Debian's flags with every hardening feature: _FORTIFY_SOURCE, the strong
# stack protector, format checks, full RELRO with immediate binding (the
# project links a PIE itself). _FORTIFY_SOURCE=3 instead of Debian 12's 2:
# it checks buffers whose size is known only at run time, such as the
# loader's read of the table. Build type None adds nothing over these flags,
# so they set the optimisation, as in a Debian build; -DNDEBUG as in any
# release. Asked for in the repository, whose path dpkg-buildflags maps to
# "." in the debug information.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
export DEB_CPPFLAGS_MAINT_APPEND="-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=3 -DNDEBUG"
flags() { (cd "$repo" && dpkg-buildflags --get "$1"); }
cppflags=$(flags CPPFLAGS)
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None -DLARK_GUI=ON \
    -DLARK_SANITIZE=OFF -DLARK_FUZZ=OFF \
    -DCMAKE_C_FLAGS="$cppflags $(flags CFLAGS)" \
    -DCMAKE_CXX_FLAGS="$cppflags $(flags CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)"
cmake --build "$build" -j "$jobs" --target larkledger-security larkledger-security-cli \
    larkcli-completion-script
rm -f "$build"/larkledger-security_*.deb
(cd "$build" && cpack -G DEB)
ls "$build"/larkledger-security_*.deb
