#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test three ways:
#   1. a plain build with warnings as errors, all tests through CTest;
#   2. the same with AddressSanitizer and UndefinedBehaviorSanitizer, where
#      any sanitizer report fails the run;
#   3. the table loader's libFuzzer target, for LARK_FUZZ_SECONDS (60), whose
#      frames must name functions (llvm-symbolizer found);
#   4. the session core's libFuzzer target, for LARK_FUZZ_SECONDS too;
# and, after the plain build, checks that every name keeps the house style
# (.clang-tidy).
# Extra CMake arguments for every build: LARK_CMAKE_ARGS (e.g. -DLARK_GUI=OFF).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
fuzz_seconds=${LARK_FUZZ_SECONDS:-60}
jobs=${LARK_JOBS:-$(nproc)}
read -r -a extra_args <<<"${LARK_CMAKE_ARGS:-}"

"$repo/tools/install-deps.sh" test

step() { printf '\n==== %s ====\n' "$*"; }

# Sanitizer and fuzzer reports name functions only through llvm-symbolizer,
# and the runtimes look for it on PATH, where Debian's versioned llvm-14 does
# not put it: name it to them, or a report comes as bare addresses.
symbolizer=$(command -v llvm-symbolizer || true)
if [ -z "$symbolizer" ]; then
    symbolizer=$(printf '%s\n' /usr/lib/llvm-*/bin/llvm-symbolizer | sort -V | tail -n 1)
fi
if [ ! -x "$symbolizer" ]; then
    echo "test.sh: no llvm-symbolizer (install-deps.sh test installs it with llvm-14)" >&2
    exit 1
fi
export ASAN_SYMBOLIZER_PATH=$symbolizer UBSAN_SYMBOLIZER_PATH=$symbolizer

# GUI tests run offscreen; a virtual display covers anything that still
# wants a real one.
run_ctest() {
    local build=$1
    local ctest=(ctest --test-dir "$build" --output-on-failure --timeout 600 -j "$jobs")
    if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
        xvfb-run -a "${ctest[@]}"
    else
        "${ctest[@]}"
    fi
}

step "plain build and tests"
plain=$repo/build-test
cmake -S "$repo" -B "$plain" -G Ninja -DLARK_WERROR=ON -DLARK_SANITIZE=OFF -DLARK_FUZZ=OFF \
    "${extra_args[@]}"
cmake --build "$plain" -j "$jobs"
run_ctest "$plain"

step "names in Qt's style"
# Every source, headers included, as the plain build compiles it; the
# fuzzers, which only the clang build below compiles, are read the same way
# there. Qt's QSKIP leaves a variadic macro argument empty, which clang
# would otherwise call an error under the build's -Wpedantic.
check_names() {
    local build=$1 files=$2 names_log=$1/names.log
    if ! run-clang-tidy -p "$build" -j "$jobs" -quiet \
        -extra-arg=-Wno-gnu-zero-variadic-macro-arguments "$files" >"$names_log" 2>&1; then
        sed 's/\x1b\[[0-9;]*m//g' "$names_log" | grep -E -A3 ' (error|warning): ' >&2 || true
        echo "test.sh: a name breaks the house style, or a source did not parse (see $names_log)" >&2
        exit 1
    fi
}
check_names "$plain" "^$repo/(store|session|audit|cli|ui|signin|admin|accounts|app|tests|tools)/"

step "sanitizer build and tests"
sanitize=$repo/build-sanitize
cmake -S "$repo" -B "$sanitize" -G Ninja -DLARK_WERROR=ON -DLARK_SANITIZE=ON -DLARK_FUZZ=OFF \
    "${extra_args[@]}"
cmake --build "$sanitize" -j "$jobs"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-strict_string_checks=1:detect_stack_use_after_return=1}
run_ctest "$sanitize"
# Every report aborts its test already; this catches one printed by a
# library or a child process that did not. CTest keeps every test's output.
log=$sanitize/Testing/Temporary/LastTest.log
if grep -E 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$log"; then
    echo "test.sh: sanitizer reports found (see $log)" >&2
    exit 1
fi

step "fuzzing the table loader for ${fuzz_seconds} s"
fuzz=$repo/build-fuzz
CC=clang CXX=clang++ cmake -S "$repo" -B "$fuzz" -G Ninja -DLARK_GUI=OFF -DLARK_FUZZ=ON \
    -DLARK_SANITIZE=OFF -DLARK_WERROR=ON
cmake --build "$fuzz" -j "$jobs" --target store_load_fuzz
check_names "$fuzz" "^$repo/tests/[a-z]+/[A-Za-z]*Fuzz\.cpp$"
corpus=$fuzz/corpus
mkdir -p "$corpus"
install -m 0644 "$repo/tests/data/three-users.acl" "$corpus/"
# The coverage list at the end shows whether frames get function names; it
# goes to the log only, as it is long.
fuzz_log=$fuzz/fuzz.log
(cd "$fuzz" && ./tests/store/store_load_fuzz -max_total_time="$fuzz_seconds" -max_len=8192 \
    -timeout=10 -print_final_stats=1 -print_coverage=1 "$corpus") 2>&1 |
    tee "$fuzz_log" | grep -v -E '^COVERAGE:$|^(UN)?COVERED_FUNC: |^ +(UN)?COVERED_PC: '
# A crash found here is only worth its stack if the stack names functions:
# with no symbolizer, libFuzzer warns, its NEW_FUNC lines show addresses and
# its coverage list is empty.
if grep -E 'invalid path to external symbolizer|Failed to use and restart external symbolizer' \
    "$fuzz_log" >&2 ||
    grep -E 'NEW_FUNC\[' "$fuzz_log" | grep -v -E ': 0x[0-9a-f]+ in [^ ]' >&2 ||
    ! grep -q -E '^COVERED_FUNC: .* LLVMFuzzerTestOneInput ' "$fuzz_log"; then
    echo "test.sh: the fuzzer's frames show addresses, not function names (see $fuzz_log)" >&2
    exit 1
fi
echo "test.sh: the fuzzer's frames name functions ($(grep -c -E '^COVERED_FUNC: ' "$fuzz_log") covered)"

step "fuzzing the session core for ${fuzz_seconds} s"
cmake --build "$fuzz" -j "$jobs" --target session_fuzz
# It starts from nothing: the first bytes of an input describe the table.
session_corpus=$fuzz/session-corpus
mkdir -p "$session_corpus"
(cd "$fuzz" && ./tests/session/session_fuzz -max_total_time="$fuzz_seconds" -max_len=512 \
    -timeout=10 -print_final_stats=1 "$session_corpus")

step "all tests passed"
