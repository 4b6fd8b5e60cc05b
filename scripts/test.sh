#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer + UndefinedBehaviorSanitizer and runs
# every test under a virtual display.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bv_install_missing
build_dir="${BENCHVIEW_TEST_BUILD_DIR:-$BV_SOURCE_DIR/build/test}"
bv_build "$build_dir" -DCMAKE_BUILD_TYPE=Debug -DBENCHVIEW_WERROR=ON -DBENCHVIEW_SANITIZE=address
cd "$build_dir"
export ASAN_OPTIONS="detect_leaks=0"
# Undefined behaviour fails the test that meets it (programs the tests start inherit this).
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# -noreset: the server would otherwise reset whenever its last client leaves, refusing the
# connections of tests that start meanwhile.
xvfb-run -a -s "-screen 0 800x480x24 -noreset" \
  ctest --output-on-failure --timeout 120 -j"$(nproc)" < /dev/null
