#!/usr/bin/env bash
# Run by the bench target: builds the bare Qt baseline, times the program's
# start-up against it (login dialog with a table, first-use dialog with the
# marker), then its account change against a bare durable file replace.
#   run-bench.sh KIT WORKDIR PROGRAM SAVE_BENCH TABLE
set -euo pipefail

kit=$1 work=$2 program=$3 save_bench=$4 table=$5
pairs=${LARK_BENCH_PAIRS:-25}

# The harness's own needs beyond the build's: Xlib's headers for its window
# watcher, xdpyinfo to see that each Xvfb answers.
"$(dirname "$0")/../install-deps.sh" run xvfb xauth libx11-dev x11-utils

build_baseline() {
    cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$2" >/dev/null
}
build_baseline "$kit/baseline" "$work/baseline"
baseline=$work/baseline/baseline

# The harness waits for one window name on both sides. For the first start
# the baseline's dialog is the same, only named like the first-use dialog.
renamed=$work/baseline-new-user-src
mkdir -p "$renamed"
cp "$kit/baseline/CMakeLists.txt" "$renamed/"
sed 's/QStringLiteral("Passwords")/QStringLiteral("New user")/' "$kit/baseline/main.cpp" \
    >"$renamed/main.cpp.new"
if ! grep -q 'QStringLiteral("New user")' "$renamed/main.cpp.new"; then
    echo "bench: cannot rename the baseline's dialog" >&2
    exit 1
fi
cmp -s "$renamed/main.cpp.new" "$renamed/main.cpp" || mv "$renamed/main.cpp.new" "$renamed/main.cpp"
rm -f "$renamed/main.cpp.new"
build_baseline "$renamed" "$work/baseline-new-user"
baseline_new_user=$work/baseline-new-user/baseline

mkdir -p "$work/tmp"
export TMPDIR=$work/tmp

summary=()
startup() {
    local label=$1 against=$2 log
    log=$work/startup-${1// /-}.log
    shift 2
    echo "==== start-up, $label: $pairs pairs against the baseline"
    "$kit/startup.sh" -n "$pairs" "$@" --vs "$against" -- "$program" | tee "$log"
    local time rss
    time=$(awk '/^A\/B time ratio/ {print $4}' "$log")
    rss=$(awk '/^A\/B peak-RSS ratio/ {print $4}' "$log")
    summary+=("start-up, $label: time ratio $time, peak-RSS ratio $rss")
}
startup "login dialog" "$baseline" --table "$table"
startup "first-use dialog" "$baseline_new_user" --touch '~first.log' --window 'New user'

echo "==== account change against a durable replace"
"$save_bench" "$work" | tee "$work/save.log"
summary+=("account change: time ratio $(awk '/^change\/floor/ {print $4}' "$work/save.log")")

echo "==== ratios (targets: start-up 1.05 time and peak RSS, save 1.5)"
printf '%s\n' "${summary[@]}"
