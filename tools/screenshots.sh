#!/usr/bin/env bash
# Installs what is missing (Debian), builds the program in ./build and takes
# the README's pictures of the real program on a virtual display (Xvfb at
# 96 dpi, no window manager, so the pictures show the windows' client areas
# without title bars). xdotool types and clicks as a person would; ImageMagick
# captures each window:
#
#   docs/screenshots/login.png           the login dialog, admin typed in
#   docs/screenshots/first-use.png       the first-use dialog (marker, no table)
#   docs/screenshots/user-details.png    the main window, admin signed in and
#   docs/screenshots/user-editor.png       a user picked, on each of its
#   docs/screenshots/bank-account.png      three sheets
#   docs/screenshots/new-account.png     the new-account dialog
#
#   tools/screenshots.sh                      96 dpi, into docs/screenshots
#   LARK_SCALE=2 tools/screenshots.sh         QT_SCALE_FACTOR=2, into
#                                             docs/screenshots/scale2
#   LARK_BUILD_DIR=dir LARK_SHOTS_DIR=dir tools/screenshots.sh
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${LARK_BUILD_DIR:-$repo/build}")
scale=${LARK_SCALE:-1}
if [ "$scale" = 1 ]; then
    out=${LARK_SHOTS_DIR:-$repo/docs/screenshots}
else
    out=${LARK_SHOTS_DIR:-$repo/docs/screenshots/scale$scale}
fi

"$repo/tools/install-deps.sh" run xvfb xdotool imagemagick
cmake -S "$repo" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target larkledger-security
program=$build/app/larkledger-security

work=$(mktemp -d /tmp/larkledger.XXXXXX)
xvfb_pid=
app_pid=
finish() {
    if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; fi
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap finish EXIT

# Xvfb picks a free display itself and names it once it takes connections.
Xvfb -displayfd 3 -screen 0 $((1280 * scale))x$((1024 * scale))x24 -dpi 96 -nolisten tcp \
    3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
if [ ! -s "$work/display" ]; then
    echo "screenshots.sh: Xvfb did not start" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
DISPLAY=":$(cat "$work/display")"
export DISPLAY

export QT_QPA_PLATFORM=xcb
export QT_SCALE_FACTOR=$scale
# Fixed 96 dpi whatever the display says, as the windows were laid out.
export QT_FONT_DPI=96
unset QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR QT_ENABLE_HIGHDPI_SCALING

mkdir -p "$out"

# Starts the program in directory $1.
start() {
    (cd "$1" && exec "$program") >"$work/program.log" 2>&1 &
    app_pid=$!
}
stop() {
    if ! kill "$app_pid" 2>/dev/null; then
        echo "screenshots.sh: the program ended before its time" >&2
        cat "$work/program.log" >&2
        exit 1
    fi
    local status=0
    wait "$app_pid" 2>/dev/null || status=$?
    app_pid=
    if [ "$status" -ne 143 ]; then # anything but the SIGTERM just sent
        echo "screenshots.sh: the program ended with status $status" >&2
        cat "$work/program.log" >&2
        exit 1
    fi
}
# The id of the visible window titled exactly $1, once it is there.
window() {
    local id
    for _ in $(seq 100); do
        kill -0 "$app_pid" 2>/dev/null || break
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1) || true
        if [ -n "$id" ]; then
            echo "$id"
            return
        fi
        sleep 0.1
    done
    echo "screenshots.sh: no window \"$1\" appeared" >&2
    cat "$work/program.log" >&2
    exit 1
}
# Clicks at x, y of window $1, in the pixels of the windows' layout.
click() {
    xdotool mousemove --window "$1" $(($2 * scale)) $(($3 * scale)) click 1
    settle
}
type_text() {
    xdotool type --delay 20 "$1"
    settle
}
key() {
    xdotool key "$@"
    settle
}
settle() { sleep 0.4; }
shoot() {
    settle
    import -window "$1" "$out/$2.png"
    echo "screenshots.sh: $out/$2.png"
}

# The login dialog, on a table with three users.
table=$work/table
mkdir -p "$table"
cp "$repo/tests/data/three-users.acl" "$table/Gatekeep.acl"
start "$table"
login=$(window Passwords)
xdotool windowfocus --sync "$login"
settle
type_text admin
key Tab
type_text secret
shoot "$login" login

# Signed in as admin, with admin picked in the user list.
key Return
main=$(window "KVS - admin")
click "$main" 300 26 # the first line of the user list
shoot "$main" user-details

# Modify loads the picked user into the editor sheet.
click "$main" 406 287 # Modify under the user list
shoot "$main" user-editor

# The Bank Account sheet of the same user, its first account picked.
click "$main" 10 250 # the sheet's tab
click "$main" 60 28   # the first line of the account list
shoot "$main" bank-account

# New on that sheet opens the new-account dialog.
click "$main" 60 175 # New
account=$(window "New Account")
type_text Payroll
shoot "$account" new-account
stop

# The first-use dialog: the marker file and no table.
first=$work/Data
mkdir -p "$first"
: >"$first/~first.log"
start "$first"
newid=$(window "New user")
shoot "$newid" first-use
stop
