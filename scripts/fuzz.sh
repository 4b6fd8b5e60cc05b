#!/usr/bin/env bash
# Coverage-guided fuzzing of the readers of outside input (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, clang). Builds into build/fuzz.
#   bash scripts/fuzz.sh                  lists the targets
#   bash scripts/fuzz.sh TARGET [SECONDS] fuzzes one target (60 s by default)
#   bash scripts/fuzz.sh all [SECONDS]    fuzzes every target in turn
# What the fuzzer finds is kept under build/fuzz/findings/TARGET and copied into
# fuzz/corpus/TARGET, whose files the ordinary test build replays as CTest tests.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# Target and the longest input worth trying, in bytes (the format's size and some spare).
declare -A max_len=(
  [scpi]=4096
  [filename]=300
  [http]=8192
  [websvc]=3100
  [admin]=400
  [file_setup]=1400
  [file_calibration]=2600
  [file_header]=256
  [file_trace]=4200
  [file_recorder]=128
  [mathexpr]=200
  [scenario]=8192
  [xml]=65536
  [recall]=8192
  [busdescriptor]=65536
  [busresults]=16384
  [probe]=8200
  [control]=1024
  [gauge]=4096
  [fetchup_index]=4096
  [batlevel]=16
)
targets=(scpi filename http websvc admin file_setup file_calibration file_header file_trace file_recorder mathexpr scenario xml recall busdescriptor busresults probe control gauge fetchup_index batlevel)

usage() {
  echo "usage: bash scripts/fuzz.sh [TARGET|all] [SECONDS]"
  echo "targets: ${targets[*]}"
}

if [ $# -eq 0 ]; then
  usage
  exit 0
fi
what="$1"
seconds="${2:-60}"
if [ "$what" = all ]; then
  run=("${targets[@]}")
elif [ -n "${max_len[$what]:-}" ]; then
  run=("$what")
else
  echo "unknown target: $what" >&2
  usage >&2
  exit 2
fi

if ! command -v clang++ >/dev/null 2>&1; then
  echo "Installing: clang"
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q < /dev/null
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends clang < /dev/null
fi
bv_install_missing
build_dir="$BV_SOURCE_DIR/build/fuzz"
CC=clang CXX=clang++ cmake -S "$BV_SOURCE_DIR" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBENCHVIEW_FUZZ=ON -DBENCHVIEW_TESTS=OFF -DBENCHVIEW_BENCH=OFF
cmake --build "$build_dir" --parallel "$(nproc)" --target "${run[@]/#/fuzz_}"

# The targets' simulated-board roots go to memory where the machine has it: a disk stalled by
# other work would show up as a hang of whatever input was running.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export BENCHVIEW_FUZZ_WORK_DIR="/dev/shm/benchview-fuzz-$(id -u)"
  # Targets that make their own temporary roots put them there too.
  mkdir -p "$BENCHVIEW_FUZZ_WORK_DIR/tmp"
  export TMPDIR="$BENCHVIEW_FUZZ_WORK_DIR/tmp"
fi

status=0
for target in "${run[@]}"; do
  seeds="$BV_SOURCE_DIR/fuzz/corpus/$target"
  work="$build_dir/corpus/$target"
  findings="$build_dir/findings/$target"
  mkdir -p "$work" "$findings"
  options=(-max_total_time="$seconds" -max_len="${max_len[$target]}" -timeout=1 -rss_limit_mb=2048
           -malloc_limit_mb=256 -print_final_stats=1 -artifact_prefix="$findings/")
  [ -f "$BV_SOURCE_DIR/fuzz/dict/$target.dict" ] && options+=(-dict="$BV_SOURCE_DIR/fuzz/dict/$target.dict")
  log="$build_dir/findings/$target.log"
  echo "== $target: $seconds s (log: $log)"
  before="$(ls "$findings" | sort)"
  result=0
  ASAN_OPTIONS="detect_leaks=0:${ASAN_OPTIONS:-}" \
    "$build_dir/fuzz/fuzz_$target" "${options[@]}" "$work" "$seeds" > "$log" 2>&1 || result=$?
  grep -E '^#[0-9]+.*(DONE|cov:)' "$log" | tail -n 1 || true
  grep -E 'stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" || true
  for found in $(comm -13 <(echo "$before") <(ls "$findings" | sort)); do
    cp "$findings/$found" "$seeds/$found"
    echo "FOUND: fuzz/corpus/$target/$found"
    echo "  replay: $build_dir/fuzz/fuzz_$target fuzz/corpus/$target/$found"
    echo "  then rename it after what it shows, fix the cause, and keep it in the corpus"
  done
  if [ "$result" -ne 0 ]; then
    echo "$target: the fuzzer stopped with status $result; see $log"
    status=1
  fi
done
exit "$status"
