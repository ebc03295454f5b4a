#!/bin/sh
# Checks a built Debian package: its contents list holds the program, the
# launcher, the desktop entry, both icons, the command-line program and its
# manual page; the launcher finds the program where the package puts it; the
# command-line program runs; desktop-file-validate accepts the entry; and
# the Qt 6 libraries are among its dependencies.
#
#   tools/check-package.sh [FILE.deb]    default: build-package/larkledger-security_*.deb
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -gt 0 ]; then
    deb=$1
else
    set -- "$repo"/build-package/larkledger-security_*.deb
    deb=$1
fi
if [ ! -f "$deb" ]; then
    echo "check-package.sh: no package at $deb (build it with tools/package.sh)" >&2
    exit 1
fi

failed=0
problem() {
    echo "check-package.sh: $*" >&2
    failed=1
}

contents=$(dpkg-deb -c "$deb")
for path in \
    ./usr/lib/larkledger-security/larkledger-security \
    ./usr/bin/larkledger-security \
    ./usr/share/applications/larkledger-security.desktop \
    ./usr/share/icons/hicolor/scalable/apps/larkledger-security.svg \
    ./usr/share/icons/hicolor/32x32/apps/larkledger-security.png \
    ./usr/bin/larkledger-security-cli \
    ./usr/share/man/man1/larkledger-security-cli.1.gz; do
    line=$(printf '%s\n' "$contents" | awk -v p="$path" '$6 == p')
    if [ -z "$line" ]; then
        problem "missing $path"
        continue
    fi
    case $path in
    */bin/* | */lib/larkledger-security/larkledger-security)
        case $line in
        -rwxr-xr-x*) ;;
        *) problem "$path is not executable: $line" ;;
        esac
        ;;
    esac
done

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"

# The launcher finds the program beside itself, wherever the tree is.
launcher=$unpacked/usr/bin/larkledger-security
if ! grep -q 'lib/larkledger-security/larkledger-security' "$launcher"; then
    problem "the launcher does not start lib/larkledger-security/larkledger-security"
fi

# The command-line program needs no display and nothing the package lacks.
cli=$unpacked/usr/bin/larkledger-security-cli
case $("$cli" --version 2>&1) in
"larkledger-security-cli (Larkledger Security Manager) "*) ;;
*) problem "larkledger-security-cli --version fails: $("$cli" --version 2>&1)" ;;
esac
if ! zcat "$unpacked/usr/share/man/man1/larkledger-security-cli.1.gz" | grep -q '^\.TH LARKLEDGER-SECURITY-CLI 1'; then
    problem "the manual page of larkledger-security-cli is not a section 1 page"
fi

entry=$unpacked/usr/share/applications/larkledger-security.desktop
if ! desktop-file-validate "$entry"; then
    problem "desktop-file-validate rejects the desktop entry"
fi
grep -qx 'Name=Larkledger Security Manager' "$entry" || problem "desktop entry: wrong Name"
grep -qx 'Exec=larkledger-security' "$entry" || problem "desktop entry: wrong Exec"
grep -qx 'Icon=larkledger-security' "$entry" || problem "desktop entry: wrong Icon"

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6gui6 libqt6core6; do
    case ", $depends" in
    *", $lib"*) ;;
    *) problem "Depends lacks $lib: $depends" ;;
    esac
done

if [ "$failed" -ne 0 ]; then
    exit 1
fi
echo "check-package.sh: $deb is complete"
