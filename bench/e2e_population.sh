#!/usr/bin/env bash
# Full population: a registry of DEVICES registered devices (devsim --make-ndx),
# every device heartbeating every PERIOD ms for SECONDS against relay-server
# --headless with link supervision on its one-second tick. The devices start
# with a normal link, so a silence long enough would be declared a link
# failure. Reports heartbeats sent and answered, the server's resident memory
# and CPU share of one core, and the link states of the registry the server
# writes at exit (link_state1 counts declared failures).
#   bench/e2e_population.sh [BUILD_DIR] [DEVICES] [SECONDS] [PERIOD_MS]
set -euo pipefail
build="${1:-build}"
devices="${2:-65534}"
seconds="${3:-120}"
period="${4:-15000}"
. "$(dirname "$0")/common.sh" "$build"

"$bin/devsim" --make-ndx "$work/relay-server.ndx" --devices "$devices" --port "$devport" \
  --link-state 0 >/dev/null
cp "$work/relay-server.ndx" "$work/devices.ndx"

"$bin/relay-server" --headless --data-dir "$work" > "$work/server.log" 2> "$work/server.err" &
server=$!
sleep 1
ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$server/stat"; }
rss() { awk '/^VmRSS/ {print $2}' "/proc/$server/status"; }
cpu0=$(cpu); t0=$(date +%s.%N); rss0=$(rss)

"$bin/devsim" --server "127.0.0.1:$port" --ndx "$work/devices.ndx" --port "$devport" \
  --heartbeat-ms "$period" --duration-ms $((seconds * 1000)) --quiet > "$work/devsim.out" &
sim=$!
peak=0
while kill -0 "$sim" 2>/dev/null; do
  r=$(rss); [ "$r" -gt "$peak" ] && peak=$r
  sleep 1
done
wait "$sim" && simstatus=0 || simstatus=$?
cpu1=$(cpu); t1=$(date +%s.%N)
hwm=$(awk '/^VmHWM/ {print $2}' "/proc/$server/status")
kill "$server"; wait "$server" 2>/dev/null || true
echo "registry at exit: $("$bin/ndx_stats" "$work/relay-server.ndx")"

echo "devices=$devices period_ms=$period seconds=$seconds"
cat "$work/devsim.out"
echo "devsim exit status: $simstatus"
awk -v c0="$cpu0" -v c1="$cpu1" -v t0="$t0" -v t1="$t1" -v hz="$ticks" \
  'BEGIN { printf "server CPU: %.1f%% of one core over %.0f s\n", 100 * (c1 - c0) / hz / (t1 - t0), t1 - t0 }'
echo "server resident memory: at start ${rss0} kB, peak during run ${peak} kB, high-water mark ${hwm} kB"
echo "server message lines: $(wc -l < "$work/server.log")"
