#!/usr/bin/env bash
# Installs, on Debian, the packages of the named groups that are missing,
# and any other package named. Runs apt-get itself as root, through sudo
# otherwise.
#
#   tools/install-deps.sh run        build and start the program (tools/run.sh)
#   tools/install-deps.sh test       run + the sanitizer and fuzz toolchain and
#                                    a virtual display (tools/test.sh)
#   tools/install-deps.sh package    run + the Debian package's tools and its
#                                    checks (tools/package.sh, check-package.sh)
#   tools/install-deps.sh run xdotool    a group and extra packages
#
# With no group named, every group is installed, so a caller written before
# the groups existed still gets everything it used to.
set -euo pipefail

for_run=(
    build-essential cmake ninja-build # compiler and build tools
    qt6-base-dev                      # Qt 6 Widgets and Qt Test
    fonts-liberation                  # faces with the metrics the windows were laid out in
)
for_test=(
    clang libclang-rt-14-dev # the loader's libFuzzer target
    clang-tidy               # the names' house style (.clang-tidy)
    # llvm-symbolizer, which turns sanitizer and fuzzer stack addresses into
    # function names; clang only recommends it, so --no-install-recommends
    # would leave it out.
    llvm-14
    xvfb xauth # a display for headless runs
)
for_package=(
    dpkg-dev            # dpkg-shlibdeps and dpkg-deb for CPack
    file                # CPack's shared-library scan skips the Depends without it
    desktop-file-utils  # desktop-file-validate
    lintian appstream   # the package's and its metadata's checks
    man-db groff-base   # man --warnings on the manual pages
)

packages=()
extra=()
grouped=false
for word in "$@"; do
    case $word in
    run) packages+=("${for_run[@]}") grouped=true ;;
    test) packages+=("${for_run[@]}" "${for_test[@]}") grouped=true ;;
    package) packages+=("${for_run[@]}" "${for_package[@]}") grouped=true ;;
    *) extra+=("$word") ;;
    esac
done
if ! $grouped; then
    packages+=("${for_run[@]}" "${for_test[@]}" "${for_package[@]}")
fi
packages+=(${extra[@]+"${extra[@]}"})

missing=()
for package_name in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package_name" 2>/dev/null | grep -q 'install ok installed'; then
        # A group may name a package twice (run inside test and package).
        case " ${missing[*]-} " in
        *" $package_name "*) ;;
        *) missing+=("$package_name") ;;
        esac
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi

echo "install-deps.sh: installing ${missing[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${missing[@]}"
