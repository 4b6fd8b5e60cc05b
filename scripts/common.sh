# Shared by the run and test scripts: install what is missing, configure and build.
set -euo pipefail

BV_SOURCE_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

bv_install_missing() {
  local missing=()
  local pkg
  while read -r pkg; do
    [ -n "$pkg" ] || continue
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done < "$BV_SOURCE_DIR/scripts/packages.txt"
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q < /dev/null
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" < /dev/null
}

# bv_build BUILD_DIR [cmake options...]
bv_build() {
  local dir="$1"
  shift
  cmake -S "$BV_SOURCE_DIR" -B "$dir" -G Ninja "$@"
  cmake --build "$dir" --parallel "$(nproc)"
}

# bv_run_tests [ctest options...]: from the build directory, every test under a virtual display:
# each binary whole in one process (or in its groups), the timing cases alone one process each;
# the per-case registrations (label "case") are left out, their cases having run in the whole
# binary. The build's resource file bounds how many real-time processes run at once.
bv_run_tests() {
  export ASAN_OPTIONS="detect_leaks=0"
  # Undefined behaviour fails the test that meets it (programs the tests start inherit this).
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  # -noreset: the server would otherwise reset whenever its last client leaves, refusing the
  # connections of tests that start meanwhile.
  local resources=()
  [ -f test_resources.json ] && resources=(--resource-spec-file "$PWD/test_resources.json")
  # A fresh build has no measured costs, and CTest would start the longest tests late: it gets
  # those of an idle run (tests/ctest_costs.txt, a copy of Testing/Temporary/CTestCostData.txt).
  if [ ! -f Testing/Temporary/CTestCostData.txt ] && [ -f "$BV_SOURCE_DIR/tests/ctest_costs.txt" ]; then
    mkdir -p Testing/Temporary
    cp "$BV_SOURCE_DIR/tests/ctest_costs.txt" Testing/Temporary/CTestCostData.txt
  fi
  xvfb-run -a -s "-screen 0 800x480x24 -noreset" \
    ctest --output-on-failure --timeout 120 -j"$(nproc)" -LE '^case$' "${resources[@]}" "$@" < /dev/null
}
