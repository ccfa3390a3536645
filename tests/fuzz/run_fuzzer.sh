#!/usr/bin/env bash
# Runs one libFuzzer target: first every regression input (each once failed), then fuzzing for
# SECONDS from the seed corpus. New inputs and the target's scratch files go to a temporary
# folder of this run (TMPDIR points into it; in /dev/shm where it exists), removed at the end;
# an input that fails is kept in ARTIFACTS. Prints the run's figures (executions, executions per
# second).
#
#   run_fuzzer.sh TARGET SECONDS ARTIFACTS CORPUS [REGRESSIONS]
#
# KESTREL_FUZZ_SECONDS, when set, overrides SECONDS (./dev.sh fuzz MINUTES).
set -euo pipefail
target="$1" seconds="${KESTREL_FUZZ_SECONDS:-$2}" artifacts="$3" corpus="$4" regressions="${5:-}"
# In a memory file system where there is one: the ROMFS extraction target makes and removes a
# folder tree for every input, which on a disk's file system costs it half its speed.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    scratch="$(mktemp -d -p /dev/shm kestrel-fuzz.XXXXXX)"
else
    scratch="$(mktemp -d -t kestrel-fuzz.XXXXXX)"
fi
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$artifacts" "$scratch/corpus" "$scratch/tmp"
export TMPDIR="$scratch/tmp"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
limits=(-rss_limit_mb=2048 -timeout=10)

if [ -n "$regressions" ] && [ -n "$(ls -A "$regressions" 2>/dev/null)" ]; then
    echo "Replaying $(ls -A "$regressions" | wc -l) regression inputs from $regressions"
    "$target" "${limits[@]}" "$regressions"/* > "$scratch/log" 2>&1 || {
        cat "$scratch/log"
        exit 1
    }
fi
set +e
"$target" "${limits[@]}" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$scratch/corpus" "$corpus" > "$scratch/log" 2>&1
status=$?
set -e
if [ "$status" -ne 0 ]; then
    grep -v '^#[0-9]*[[:space:]]*\(NEW\|REDUCE\|pulse\|RELOAD\)' "$scratch/log" | tail -n 100
    echo "FAILED: the failing input is in $artifacts/; once fixed, add it to $regressions"
else
    grep -E '^(Done|stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb))' \
        "$scratch/log" || true
fi
exit "$status"
