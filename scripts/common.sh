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
