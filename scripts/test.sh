#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer + UndefinedBehaviorSanitizer and runs
# every test under a virtual display.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bv_install_missing
build_dir="${BENCHVIEW_TEST_BUILD_DIR:-$BV_SOURCE_DIR/build/test}"
bv_build "$build_dir" -DCMAKE_BUILD_TYPE=Debug -DBENCHVIEW_WERROR=ON -DBENCHVIEW_SANITIZE=address
cd "$build_dir"
bv_run_tests
