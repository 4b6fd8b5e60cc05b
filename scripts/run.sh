#!/usr/bin/env bash
# Installs what is missing, builds and runs benchview on the simulated board, played first by
# the developer tool "simboard cellwarden" (boot, fuel gauge, battery daemon, console). Without
# a display it starts a virtual one with a VNC server on localhost and says how to see it. Like
# the board, it starts benchview again after the exit statuses 2, 3 and 4.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bv_install_missing
build_dir="$BV_SOURCE_DIR/build/run"
bv_build "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBENCHVIEW_TESTS=OFF -DBENCHVIEW_BENCH=OFF

started=()
cleanup() {
  local pid
  for pid in "${started[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  fdfile="$(mktemp)"
  Xvfb -displayfd 3 -screen 0 800x480x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
  started+=($!)
  for _ in $(seq 50); do
    [ -s "$fdfile" ] && break
    sleep 0.1
  done
  num="$(tr -dc '0-9' < "$fdfile")"
  rm -f "$fdfile"
  [ -n "$num" ] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$num"
  vnclog="$(mktemp)"
  x11vnc -display "$DISPLAY" -localhost -forever -shared -nopw -autoport 5900 -quiet >"$vnclog" 2>&1 &
  started+=($!)
  port=""
  for _ in $(seq 50); do
    port="$(grep -o 'PORT=[0-9]*' "$vnclog" | head -n1 | cut -d= -f2 || true)"
    [ -n "$port" ] && break
    sleep 0.1
  done
  echo "benchview runs on the virtual display $DISPLAY (800 x 480)."
  [ -n "$port" ] && echo "  See it with a VNC viewer at localhost:$port"
  echo "  Screenshot: DISPLAY=$DISPLAY import -window root benchview.png"
fi

# Each run is a power-on of the simulated board, played like the board's start-up scripts: the
# board player boots it (its volatile files go, its probes are read again), makes the off pipe,
# runs the battery's fuel gauge and starts the battery daemon. Its console is the terminal when
# there is one (a background job otherwise reads /dev/null). The relaunches below keep it.
root="${BENCHVIEW_SIMROOT:-$build_dir/simroot}"
if [ -e /dev/tty ] && { : </dev/tty; } 2>/dev/null; then
  "$build_dir/simboard" cellwarden </dev/tty &
else
  "$build_dir/simboard" cellwarden &
fi
started+=($!)
# The player makes the off pipe right after its boot; one already playing this root is used.
for _ in $(seq 50); do
  [ -p "$root/var/tmp/offpipe" ] && break
  sleep 0.1
done

# On the board, the start-up scripts act on benchview's exit status and start it again: 2 opens
# the configuration program, 3 the file manager, 4 a panel. Here the file manager is a terminal
# choice of a recording, which the next start opens in the viewer; the others are only named.
while :; do
  status=0
  "$build_dir/benchview" "$@" || status=$?
  echo "benchview exited with status $status"
  case "$status" in
    2) echo "The board would now run the configuration program; starting benchview again." ;;
    3) "$BV_SOURCE_DIR/scripts/pick_recording.sh" "$root" ;;
    4) echo "The board would now show the panel that was asked for; starting benchview again." ;;
    *) break ;;
  esac
done
exit "$status"
