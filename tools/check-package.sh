#!/bin/sh
# Checks a built Debian package: its contents list holds the program, the
# launcher, the desktop entry, both icons, the command-line program, both
# manual pages and the command line's bash completion; the launcher finds the
# program where the package puts it; every command in /usr/bin has a manual
# page and answers --help and --version without a display; every manual page
# is clean under man --warnings; the completion completes the commands, the
# rights and the options; every program is hardened and stripped;
# desktop-file-validate accepts the entry and appstreamcli the AppStream
# metadata; the Qt 6 libraries are among its dependencies; and lintian finds
# no error or warning.
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
    ./usr/share/metainfo/example.larkledger.SecurityManager.metainfo.xml \
    ./usr/share/icons/hicolor/scalable/apps/larkledger-security.svg \
    ./usr/share/icons/hicolor/32x32/apps/larkledger-security.png \
    ./usr/bin/larkledger-security-cli \
    ./usr/share/man/man1/larkledger-security-cli.1.gz \
    ./usr/share/man/man1/larkledger-security.1.gz \
    ./usr/share/bash-completion/completions/larkledger-security-cli \
    ./usr/share/doc/larkledger-security/copyright \
    ./usr/share/doc/larkledger-security/changelog.Debian.gz; do
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
trap 'rm -rf "$unpacked" "$unpacked.elf" "$unpacked.lint"' EXIT
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

# Every command, this program's and any other the package gains, has its
# page (packaging/man/NAME.1) and prints its help and version with no
# display at hand, as in a terminal over ssh.
for command in "$unpacked"/usr/bin/*; do
    name=${command##*/}
    if [ ! -f "$unpacked/usr/share/man/man1/$name.1.gz" ]; then
        problem "no manual page for /usr/bin/$name (add packaging/man/$name.1)"
    fi
    for option in --help --version; do
        if ! out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
            timeout 20 "$command" "$option" 2>&1 </dev/null); then
            problem "/usr/bin/$name $option fails without a display: $out"
        elif [ -z "$out" ]; then
            problem "/usr/bin/$name $option prints nothing"
        fi
    done
done

# Every manual page formats without a warning from man or troff, at the
# width lintian uses.
for page in "$unpacked"/usr/share/man/man*/*; do
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || problem "man cannot format ${page#"$unpacked"}"
    if [ -n "$warnings" ]; then
        problem "${page#"$unpacked"} has warnings: $warnings"
    fi
done

# The completion is sound bash and offers the commands, the rights after
# --grant and the options, as bash-completion would call it.
completion=$unpacked/usr/share/bash-completion/completions/larkledger-security-cli
complete_words() {
    bash -c '. "$1" && shift && COMP_WORDS=("$@") && COMP_CWORD=$(($# - 1)) &&
        _larkledger_security_cli && echo "${COMPREPLY[*]}"' sh "$completion" \
        larkledger-security-cli "$@"
}
if ! bash -n "$completion"; then
    problem "the bash completion is not sound bash"
else
    [ "$(complete_words acc)" = "account-add account-edit account-rm" ] ||
        problem "the bash completion does not complete commands: $(complete_words acc 2>&1)"
    [ "$(complete_words --grant Mod)" = "ModifyRecord ModifyUsers" ] ||
        problem "the bash completion does not complete rights: $(complete_words --grant Mod 2>&1)"
    [ "$(complete_words --user admin ls --w)" = "--wait" ] ||
        problem "the bash completion does not complete options: $(complete_words --user admin ls --w 2>&1)"
fi

# Every program is hardened: a position-independent executable, read-only
# relocations bound at start (full RELRO), the stack protector, and libc's
# checked functions (_FORTIFY_SOURCE). lintian sees no stack protector.
find "$unpacked" -type f -exec sh -c 'head -c 4 "$1" | grep -q ELF' sh {} \; -print >"$unpacked.elf"
while IFS= read -r elf; do
    name=${elf#"$unpacked"}
    dynamic=$(readelf -dW "$elf")
    case $dynamic in *"Flags: NOW PIE"*) ;; *) problem "$name: not a PIE bound at start" ;; esac
    readelf -lW "$elf" | grep -q GNU_RELRO || problem "$name: no RELRO"
    imports=$(nm -D --undefined-only "$elf")
    case $imports in *__stack_chk_fail*) ;; *) problem "$name: no stack protector" ;; esac
    case $imports in *_chk@*) ;; *) problem "$name: no checked libc function" ;; esac
    if readelf -SW "$elf" | grep -q -E ' \.(debug_info|symtab|comment) '; then
        problem "$name: not stripped"
    fi
done <"$unpacked.elf"

entry=$unpacked/usr/share/applications/larkledger-security.desktop
if ! desktop-file-validate "$entry"; then
    problem "desktop-file-validate rejects the desktop entry"
fi
grep -qx 'Name=Larkledger Security Manager' "$entry" || problem "desktop entry: wrong Name"
grep -qx 'Exec=larkledger-security %f' "$entry" || problem "desktop entry: wrong Exec"
grep -qx 'Icon=larkledger-security' "$entry" || problem "desktop entry: wrong Icon"

# The AppStream metadata, with its screenshots and the desktop entry it
# launches. --no-net: the screenshots' addresses are checked for form only.
if ! appstreamcli validate-tree --no-net "$unpacked"; then
    problem "appstreamcli rejects the AppStream metadata"
fi

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6gui6 libqt6core6; do
    case ", $depends" in
    *", $lib"*) ;;
    *) problem "Depends lacks $lib: $depends" ;;
    esac
done

# Debian's own checks, all of them shown; any error or warning fails.
# lintian needs no privilege and warns when run as root (as CI runs this),
# so root has nobody run it, on a copy nobody may read, in a home of its own.
lintian_deb=$deb
run_lintian() { lintian "$@"; }
if [ "$(id -u)" -eq 0 ] && command -v runuser >/dev/null 2>&1 && id nobody >/dev/null 2>&1; then
    mkdir -m 755 "$unpacked.lint"
    cp "$deb" "$unpacked.lint/"
    lintian_deb=$unpacked.lint/${deb##*/}
    chmod 644 "$lintian_deb"
    mkdir -m 700 "$unpacked.lint/home"
    chown nobody "$unpacked.lint/home"
    # From a folder nobody may enter: the clone may sit in root's home.
    run_lintian() {
        (cd "$unpacked.lint" && runuser -u nobody -- env HOME="$unpacked.lint/home" lintian "$@")
    }
fi
if ! run_lintian --pedantic --display-info --fail-on error,warning "$lintian_deb"; then
    problem "lintian reports errors or warnings"
fi

if [ "$failed" -ne 0 ]; then
    exit 1
fi
echo "check-package.sh: $deb is complete"
