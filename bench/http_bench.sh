#!/usr/bin/env bash
# Usage: bash bench/http_bench.sh [path/to/benchview]
#   (default build/run/benchview, else build/test/benchview; BENCH_SECONDS per run, default 5;
#    BENCH_PORT_OFFSET to pick benchview's port offset, default a free random one)
#
# Compares benchview's HTTP server with lighttpd serving the same /index.html bytes, both on
# 127.0.0.1, with wrk over keep-alive connections (1, then 16). Target: benchview reaches at
# least half of lighttpd's requests/s with each. /Instrument.html and /PelanodeIV.jar are
# measured on benchview for the record. Builds and installs nothing.
# Exit status: 0 every target met, 1 a target missed, 2 the benchmark could not run.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${BENCH_SECONDS:-5}"
connection_counts=(1 16)

die() {
  echo "http_bench: $*" >&2
  exit 2
}

if ! [[ "$seconds" =~ ^[0-9]+$ ]] || ((seconds < 1 || seconds > 60)); then
  die "BENCH_SECONDS must be 1..60"
fi

# --- what it needs ---------------------------------------------------------------------------
missing=()
for tool in wrk lighttpd curl; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if ((${#missing[@]})); then
  # The Debian packages carry the tools' own names.
  die "missing ${missing[*]}; install with: apt-get install -y ${missing[*]}"
fi

if (($#)); then
  benchview="$1"
else
  benchview=""
  for candidate in "$repo/build/run/benchview" "$repo/build/test/benchview"; do
    if [ -x "$candidate" ]; then
      benchview="$candidate"
      break
    fi
  done
  [ -n "$benchview" ] || die "no built benchview in build/run or build/test; build it (bash scripts/run.sh) or pass its path"
fi
if ! [ -f "$benchview" ] || ! [ -x "$benchview" ]; then
  die "$benchview is not an executable file"
fi
benchview="$(cd "$(dirname "$benchview")" && pwd)/$(basename "$benchview")"

notes=()
if command -v readelf >/dev/null 2>&1 && readelf -d "$benchview" 2>/dev/null | grep -Eq 'lib(asan|tsan|ubsan)'; then
  notes+=("benchview is a sanitizer build: its figures are far below a release build's")
fi
cache="$(dirname "$benchview")/CMakeCache.txt"
if [ -f "$cache" ]; then
  build_type="$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$cache")"
  case "$build_type" in
    Release | RelWithDebInfo | MinSizeRel) ;;
    *) notes+=("benchview is a ${build_type:-unoptimised} build: its figures are below a release build's") ;;
  esac
fi

# --- clean-up of everything started here -----------------------------------------------------
work="$(mktemp -d "${TMPDIR:-/tmp}/http_bench.XXXXXX")"
cd "$work"
started=()

# Each server runs as the leader of its own process group (setsid): stopping the group also
# stops whatever it may have started.
stop_pid() {
  local pid="$1"
  if kill -TERM -- "-$pid" 2>/dev/null; then
    for _ in $(seq 50); do
      kill -0 -- "-$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL -- "-$pid" 2>/dev/null || true
  fi
  wait "$pid" 2>/dev/null || true
}

# shellcheck disable=SC2317  # called by the trap
cleanup() {
  local pid
  for pid in "${started[@]}"; do
    stop_pid "$pid"
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# --- helpers ---------------------------------------------------------------------------------
port_in_use() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# Waits (bounded) until the URL answers 200 while the given process lives.
wait_serving() {
  local pid="$1" url="$2" code
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || return 1
    code="$(curl -s -o /dev/null -m 2 -w '%{http_code}' "$url" || true)"
    [ "$code" = 200 ] && return 0
    sleep 0.2
  done
  return 1
}

# wrk writes one parsable line through this script when a run ends; latencies are in us.
cat >"$work/report.lua" <<'EOF'
done = function(summary, latency, requests)
  local e = summary.errors
  io.write(string.format("HTTP_BENCH %d %d %.0f %.0f %d %d %d %d %d\n",
    summary.requests, summary.duration, latency:percentile(50), latency:percentile(99),
    e.connect, e.read, e.write, e.timeout, e.status))
end
EOF

# run_wrk SERVER URL CONNECTIONS: prints a table row, sets $rps and $errors.
run_wrk() {
  local server="$1" url="$2" connections="$3" threads out line detail
  threads=$((connections < 4 ? connections : 4))
  out="$work/wrk.out"
  # A session of benchview ends a moment after its client closes: let the last run's go.
  sleep 1
  if ! timeout $((seconds + 30)) wrk -t"$threads" -c"$connections" -d"${seconds}s" --timeout 2s --latency \
      -s "$work/report.lua" "$url" >"$out" 2>&1; then
    cat "$out" >&2
    die "wrk failed against $server $url"
  fi
  line="$(grep '^HTTP_BENCH ' "$out" | tail -n1)"
  [ -n "$line" ] || { cat "$out" >&2; die "no result from wrk against $server $url"; }
  read -r _ requests duration p50 p99 e_connect e_read e_write e_timeout e_status <<<"$line"
  errors=$((e_connect + e_read + e_write + e_timeout + e_status))
  rps="$(awk -v n="$requests" -v d="$duration" 'BEGIN { printf "%.0f", (d > 0 ? n * 1e6 / d : 0) }')"
  detail="$errors"
  if ((errors)); then
    detail+=" (connect $e_connect, read $e_read, write $e_write, timeout $e_timeout, status $e_status)"
  fi
  printf '%-10s %-16s %5d %12s %10s %10s   %s\n' "$server" "/${url#http://127.0.0.1:*/}" "$connections" \
    "$rps" "$p50" "$p99" "$detail"
}

# --- benchview ---------------------------------------------------------------------------------
mkdir -p "$work/simroot" "$work/www"
if [ -n "${BENCH_PORT_OFFSET:-}" ]; then
  if ! [[ "$BENCH_PORT_OFFSET" =~ ^[0-9]+$ ]] || ((BENCH_PORT_OFFSET < 1000 || BENCH_PORT_OFFSET > 65000)); then
    die "BENCH_PORT_OFFSET must be 1000..65000"
  fi
  offset="$BENCH_PORT_OFFSET"
  { port_in_use $((80 + offset)) || port_in_use $((23 + offset)); } && die "port $((80 + offset)) or $((23 + offset)) is taken"
else
  offset=""
  for _ in $(seq 20); do
    candidate=$((20000 + RANDOM % 20000))
    if ! port_in_use $((80 + candidate)) && ! port_in_use $((23 + candidate)); then
      offset="$candidate"
      break
    fi
  done
  [ -n "$offset" ] || die "found no free port offset"
fi
bv_port=$((80 + offset))
bv_url="http://127.0.0.1:$bv_port"

# Offscreen with Qt Quick's software renderer: no display or GL needed, and no window shows up.
env BENCHVIEW_SIMROOT="$work/simroot" BENCHVIEW_PORT_OFFSET="$offset" \
  BENCHVIEW_HTTP_LOOPBACK_ONLY=1 BENCHVIEW_SCPI_LOOPBACK_ONLY=1 \
  QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software XDG_RUNTIME_DIR="$work" \
  setsid "$benchview" </dev/null >"$work/benchview.log" 2>&1 &
bv_pid=$!
started+=("$bv_pid")
if ! wait_serving "$bv_pid" "$bv_url/index.html"; then
  tail -n 20 "$work/benchview.log" >&2
  die "benchview did not serve $bv_url/index.html within 20 s"
fi

curl -sS -m 5 -o "$work/www/index.html" "$bv_url/index.html" || die "could not fetch /index.html from benchview"
[ -s "$work/www/index.html" ] || die "benchview's /index.html is empty"
for page in /Instrument.html /PelanodeIV.jar; do
  code="$(curl -s -m 10 -o /dev/null -w '%{http_code}' "$bv_url$page" || true)"
  [ "$code" = 200 ] || die "benchview answers $page with ${code:-nothing}, not 200"
done

# --- lighttpd --------------------------------------------------------------------------------
lt_pid=""
lt_port=""
for _ in $(seq 5); do
  candidate=$((40000 + RANDOM % 20000))
  port_in_use "$candidate" && continue
  # Keep-alive is not cut after a number of requests, as benchview does not cut it either.
  cat >"$work/lighttpd.conf" <<EOF
server.document-root = "$work/www"
server.bind = "127.0.0.1"
server.port = $candidate
server.errorlog = "$work/lighttpd.log"
server.max-keep-alive-requests = 1000000
mimetype.assign = (".html" => "text/html")
EOF
  lighttpd -tt -f "$work/lighttpd.conf" >"$work/lighttpd.check" 2>&1 || { cat "$work/lighttpd.check" >&2; die "lighttpd refuses its configuration"; }
  setsid lighttpd -D -f "$work/lighttpd.conf" </dev/null >>"$work/lighttpd.out" 2>&1 &
  pid=$!
  started+=("$pid")
  if wait_serving "$pid" "http://127.0.0.1:$candidate/index.html"; then
    lt_pid="$pid"
    lt_port="$candidate"
    break
  fi
  stop_pid "$pid"  # most likely the port was taken meanwhile: try another
done
if [ -z "$lt_pid" ]; then
  cat "$work/lighttpd.out" "$work/lighttpd.log" >&2 2>/dev/null || true
  die "lighttpd did not start"
fi
lt_url="http://127.0.0.1:$lt_port"
curl -sS -m 5 -o "$work/lighttpd.index.html" "$lt_url/index.html" || die "could not fetch /index.html from lighttpd"
cmp -s "$work/www/index.html" "$work/lighttpd.index.html" || die "lighttpd does not serve the same /index.html bytes"

# --- runs ------------------------------------------------------------------------------------
echo "HTTP benchmark: wrk, keep-alive, ${seconds} s per run, 127.0.0.1"
echo "benchview: $benchview (port $bv_port)"
echo "lighttpd:  $(lighttpd -v 2>&1 | head -n1 | cut -d' ' -f1) (port $lt_port)"
echo "/index.html: $(wc -c <"$work/www/index.html") bytes"
for note in "${notes[@]}"; do
  echo "note: $note"
done
echo
printf '%-10s %-16s %5s %12s %10s %10s   %s\n' server page conns requests/s "p50 (us)" "p99 (us)" errors

lt_rps=() bv_rps=() lt_errors=() bv_errors=()
for c in "${connection_counts[@]}"; do
  run_wrk lighttpd "$lt_url/index.html" "$c"
  lt_rps[c]="$rps"
  lt_errors[c]="$errors"
  run_wrk benchview "$bv_url/index.html" "$c"
  bv_rps[c]="$rps"
  bv_errors[c]="$errors"
done
for page in /Instrument.html /PelanodeIV.jar; do
  for c in "${connection_counts[@]}"; do
    run_wrk benchview "$bv_url$page" "$c"
  done
done

kill -0 "$bv_pid" 2>/dev/null || { tail -n 20 "$work/benchview.log" >&2; die "benchview ended during the runs"; }

# --- target ----------------------------------------------------------------------------------
echo
status=0
for c in "${connection_counts[@]}"; do
  what="/index.html, $c connection"
  ((c == 1)) || what+="s"
  if ((lt_errors[c])); then
    echo "MISS $what: lighttpd had ${lt_errors[c]} errors, no valid comparison"
    status=1
    continue
  fi
  percent=$((lt_rps[c] > 0 ? 100 * bv_rps[c] / lt_rps[c] : 0))
  verdict=MISS
  if ((lt_rps[c] > 0 && 2 * bv_rps[c] >= lt_rps[c] && bv_errors[c] == 0)); then
    verdict=PASS
  fi
  line="$verdict $what: benchview ${bv_rps[c]} requests/s, lighttpd ${lt_rps[c]} (${percent}%, target 50%)"
  if ((bv_errors[c])); then
    line+=", benchview had ${bv_errors[c]} errors"
  fi
  echo "$line"
  [ "$verdict" = PASS ] || status=1
done
exit "$status"
