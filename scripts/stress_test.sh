#!/usr/bin/env bash
# Runs the whole test suite N times in a row on a loaded machine and stops at the first run that
# fails. The load is stress-ng on every processor when it is installed, else one busy loop per
# processor; BENCHVIEW_STRESS_LOAD=build loads the machine with a parallel build of the tree in
# a directory of its own instead, started again whenever it ends.
#   bash scripts/stress_test.sh [runs [ctest options...]]      (default 10 runs of everything)
# Each run's ctest output goes to build/stress/run-<n>.log; a summary line per run is printed.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

runs="${1:-10}"
shift || true
build_dir="${BENCHVIEW_TEST_BUILD_DIR:-$BV_SOURCE_DIR/build/test}"
log_dir="$BV_SOURCE_DIR/build/stress"
mkdir -p "$log_dir"

bv_install_missing
bv_build "$build_dir" -DCMAKE_BUILD_TYPE=Debug -DBENCHVIEW_WERROR=ON -DBENCHVIEW_SANITIZE=address

load_pids=()
start_load() {
  local cpus
  cpus="$(nproc)"
  case "${BENCHVIEW_STRESS_LOAD:-cpu}" in
    build)
      local load_build="$BV_SOURCE_DIR/build/stress-load"
      cmake -S "$BV_SOURCE_DIR" -B "$load_build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
      ( while :; do
          CCACHE_DISABLE=1 ninja -C "$load_build" -j"$cpus" >/dev/null 2>&1 || true
          ninja -C "$load_build" clean >/dev/null 2>&1 || true
        done ) &
      load_pids+=($!)
      ;;
    *)
      if command -v stress-ng >/dev/null; then
        stress-ng --cpu "$cpus" --cpu-load 90 --quiet &
        load_pids+=($!)
      else
        local i
        for ((i = 0; i < cpus; ++i)); do
          ( while :; do :; done ) &
          load_pids+=($!)
        done
      fi
      ;;
  esac
}
stop_load() {
  local pid
  for pid in "${load_pids[@]}"; do
    kill -- "$pid" 2>/dev/null || true
    pkill -P "$pid" 2>/dev/null || true
  done
  load_pids=()
}
trap stop_load EXIT

start_load
failed=0
for ((n = 1; n <= runs; ++n)); do
  started=$(date +%s)
  if (cd "$build_dir" && bv_run_tests "$@") >"$log_dir/run-$n.log" 2>&1; then
    status=passed
  else
    status=FAILED
    failed=$((failed + 1))
  fi
  echo "run $n/$runs: $status in $(( $(date +%s) - started )) s ($log_dir/run-$n.log)"
  if [ "$status" = FAILED ]; then
    grep -E "^\s*[0-9]+ - |\(Failed\)|\(Timeout\)" "$log_dir/run-$n.log" | head -20 || true
    [ -n "${BENCHVIEW_STRESS_KEEP_GOING:-}" ] || break
  fi
done
stop_load
[ "$failed" -eq 0 ]
