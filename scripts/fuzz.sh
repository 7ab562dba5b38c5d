#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang into build-fuzz/ and runs each one from a
# scratch copy of its seed corpus, with AddressSanitizer, UndefinedBehaviorSanitizer and leak
# detection (tests/lsan.supp names the library leaks). Any crash, leak, timeout or sanitizer
# report makes it exit non-zero and keeps the scratch folder, with the input, for a look.
# Without clang's fuzzer runtime it says so and exits 0.
#
# Usage: scripts/fuzz.sh [--runs N | --seconds S] [TARGET ...]
#   TARGET       a name in fuzz/targets.txt (default: all of them)
#   default: each target's smoke runs (fuzz/targets.txt), a few tens of seconds in all
#   --runs N     N executions per target
#   --seconds S  S seconds per target (for long runs: scripts/fuzz.sh --seconds 3600 mesh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${TESSARY_FUZZ_BUILD:-$root/build-fuzz}

# The targets, their smoke runs and options, from the one list of them.
declare -A runs=() asan=() options=()
known=()
while read -r target _kind count extra rest; do
    [[ $target =~ ^[a-z] ]] || continue
    known+=("$target")
    runs[$target]=$count
    [ "$extra" = - ] || asan[$target]=$extra
    options[$target]=${rest//-dict=/-dict=$root/fuzz/}
done <"$root/fuzz/targets.txt"

usage="usage: $0 [--runs N | --seconds S] [$(IFS='|' && echo "${known[*]}") ...]"
limit=
targets=()
while [ $# -gt 0 ]; do
    case $1 in
    --runs) limit="-runs=$2" && shift 2 ;;
    --seconds) limit="-max_total_time=$2" && shift 2 ;;
    *)
        [[ " ${known[*]} " == *" $1 "* ]] || { echo "$usage" >&2 && exit 2; }
        targets+=("$1") && shift
        ;;
    esac
done
[ ${#targets[@]} -gt 0 ] || targets=("${known[@]}")

probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' \
    >"$probe/probe.cpp"
if ! command -v clang++ >/dev/null ||
    ! clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" 2>/dev/null
then
    echo "fuzz: skipped, clang++ with libFuzzer (packages clang, libclang-rt-14-dev) is missing"
    exit 0
fi

CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTESSARY_FUZZ=ON -DTESSARY_TESTS=OFF >/dev/null
cmake --build "$dir" --target fuzzers -j"$(nproc)" >/dev/null

export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The smoke is the same run every time (a fixed seed), so that a test run judges the code and
# not the draw; long runs (--seconds, --runs) explore afresh.
seed=-seed=1
[ -n "${limit:-}" ] && seed=
failed=0
for target in "${targets[@]}"; do
    work=$(mktemp -d)
    mkdir "$work/corpus"
    cp "$root/fuzz/corpus/$target"/* "$work/corpus/"
    # DevIL has no frame pointers: only the slow unwinder records the DevIL function that
    # tests/lsan.supp names in the stack of the leak it suppresses.
    unwind=1
    [ "$target" = picture ] && unwind=0
    start=$SECONDS
    # shellcheck disable=SC2086 # the options are separate words; a target's own come after
    # the defaults, which they override
    if ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=$unwind${asan[$target]:-} \
        "$dir/fuzz/${target}_fuzzer" ${limit:--runs=${runs[$target]}} -timeout=10 \
        ${options[$target]:-} $seed -detect_leaks=1 -print_final_stats=1 -artifact_prefix="$work/" \
        "$work/corpus" >"$work/log.txt" 2>&1; then
        # The last figures are the fuzzer's own (the DICOM target's check children may print
        # theirs before).
        executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log.txt" | tail -n 1)
        rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/log.txt" | tail -n 1)
        echo "fuzz $target: $executed executions in $((SECONDS - start)) s ($rate/s), no findings"
        rm -rf "$work"
    else
        tail -n 60 "$work/log.txt"
        echo "fuzz $target: FINDING, see $work (log.txt and the input it names)"
        failed=1
    fi
done
exit $failed
