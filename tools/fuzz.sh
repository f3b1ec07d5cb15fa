#!/usr/bin/env bash
# The native fuzzers of the launcher's readers (tests/fuzz), with ASan and UBSan.
#   fuzz.sh build DIR             configure and build the fuzzers and reader_tests
#   fuzz.sh run DIR TARGET SECS   one fuzzer from its seed corpus for SECS seconds
#   fuzz.sh long DIR [RUNS] [TARGET...]
#                                 every fuzzer (or the given ones) for RUNS executions
#                                 (default 10 million), by hand; prints time,
#                                 executions and coverage per target
# A crash, a leak, a sanitizer report or a failed property exits non-zero and
# leaves the input under DIR/findings/TARGET.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
fuzz_src="$root/tests/fuzz"
targets=(block_map multipart command_line file_index json_reader manifest page_message signature ui_request version_record
  zip_reader)

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

build() {
  local dir="$1"
  bash "$root/tools/setup.sh"
  cmake -S "$fuzz_src" -B "$dir" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DKORVAL_PAGE_ARCHIVE="${KORVAL_PAGE_ARCHIVE:-$root/build/ui.zip}" >/dev/null
  cmake --build "$dir" --parallel "$(nproc)" >"$dir/build.log" 2>&1 ||
    { cat "$dir/build.log"; exit 1; }
}

# Runs TARGET on a working copy of its seeds, so the repository's corpus
# only changes by hand. Extra arguments go to libFuzzer.
run() {
  local dir="$1" target="$2" seconds="$3"
  shift 3
  local work="$dir/corpus/$target" findings="$dir/findings/$target"
  mkdir -p "$work" "$findings"
  cp -n "$fuzz_src/corpus/$target"/* "$work/" 2>/dev/null || true
  local dict=()
  [ -f "$fuzz_src/dict/$target.dict" ] && dict=(-dict="$fuzz_src/dict/$target.dict")
  "$dir/fuzz_$target" "${dict[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$@" "$work"
}

long_run() {
  local dir="$1" runs="${2:-10000000}"
  shift 2 || shift $#
  local chosen=("$@")
  [ ${#chosen[@]} -gt 0 ] || chosen=("${targets[@]}")
  printf '%-16s %9s %12s %8s %6s %6s %7s\n' target seconds executions exec/s cov ft corpus
  for target in "${chosen[@]}"; do
    local log="$dir/long_$target.log" start end
    start=$(date +%s)
    run "$dir" "$target" 0 -runs="$runs" >"$log" 2>&1 ||
      { echo "$target: FAILED, see $log"; tail -30 "$log"; exit 1; }
    end=$(date +%s)
    local done rate cov ft units
    done=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    units=$(grep -o 'corp: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    printf '%-16s %9s %12s %8s %6s %6s %7s\n' "$target" $((end - start)) "$done" "$rate" "$cov" "$ft" "$units"
  done
}

case "${1:-}" in
  build) build "$2" ;;
  run) run "$2" "$3" "$4" "${@:5}" ;;
  long) long_run "$2" "${3:-10000000}" "${@:4}" ;;
  *) sed -n '2,11p' "$0"; exit 2 ;;
esac
