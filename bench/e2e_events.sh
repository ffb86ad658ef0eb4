#!/usr/bin/env bash
# Events end to end: DEVICES devices each send EVENTS events to relay-server
# --headless over loopback UDP, and armsim plays the workstation on a socat pty
# pair, polling back to back. Reports events delivered per second, lost and
# duplicated events, and the time from a device's first send of an event to
# its arrival at the workstation's end of the pair (median and 95th centile).
# RATE limits the devices' telegrams per second (0 = all at once), so the
# latency can be read without a backlog.
#   bench/e2e_events.sh [BUILD_DIR] [DEVICES] [EVENTS] [RATE]
set -euo pipefail
build="${1:-build}"
devices="${2:-1000}"
events="${3:-1}"
rate="${4:-0}"
. "$(dirname "$0")/common.sh" "$build"

export SETUPC_STATE="$work/setupc.state"
# The pair outlives its command: it is removed with the scratch directory.
trap '"$bin/setupc" remove 0 >/dev/null 2>&1; kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
"$bin/setupc" install 0 --dir "$work/ports" >/dev/null
"$bin/devsim" --make-ndx "$work/relay-server.ndx" --devices "$devices" --port "$devport" \
  --link-state 0 >/dev/null
cp "$work/relay-server.ndx" "$work/devices.ndx"

"$bin/relay-server" --headless --data-dir "$work" --ports-dir "$work/ports" \
  > "$work/server.log" 2> "$work/server.err" &
server=$!
sleep 1
total=$((devices * events))
"$bin/armsim" --port "$work/ports/CNCA0" --groups 1 --poll-ms 0 --gap-ms 1 --timestamps \
  --items "$total" --duration-ms 600000 --json-summary > "$work/arm.out" &
arm=$!
rate_opt=()
[ "$rate" != 0 ] && rate_opt=(--rate "$rate")
t0=$(date +%s.%N)
"$bin/devsim" --server "127.0.0.1:$port" --ndx "$work/devices.ndx" --port "$devport" \
  --heartbeat-ms 0 --events "$events" --event-log "$work/sent.log" --start-spread-ms 0 \
  "${rate_opt[@]}" --quiet > "$work/devsim.out" || true
wait "$arm" || true
t1=$(date +%s.%N)
kill "$server"; wait "$server" 2>/dev/null || true

echo "devices=$devices events_per_device=$events rate=$rate"
cat "$work/devsim.out"
tail -n 1 "$work/arm.out"
# Join sent and received events on number and data byte.
awk -v total="$total" -v lat="$work/latency.txt" '
  function hex(h,   v, k) { v = 0; for (k = 1; k <= length(h); k++) v = v * 16 + index("0123456789ABCDEF", toupper(substr(h, k, 1))) - 1; return v }
  FNR == NR { sent[$1 " " $2] = $3; next }
  /"type":"item"/ {
    if ($0 ~ /"resend":true/) { resends++; next }
    match($0, /"number":"[^"]*"/); num = substr($0, RSTART + 10, RLENGTH - 11)
    match($0, /"data":"[^"]*"/); data = substr($0, RSTART + 8, RLENGTH - 9)
    match($0, /"mono_us":[0-9]+/); t = substr($0, RSTART + 10, RLENGTH - 10) + 0
    key = num " " hex(data)
    if (key in got) { dup++; next }
    got[key] = 1; n++
    if (key in sent) {
      printf "%.3f\n", (t - sent[key]) / 1000.0 > lat
      if (t > last) last = t
      if (first == "" || sent[key] < first) first = sent[key]
    }
  }
  END {
    printf "delivered=%d of %d lost=%d duplicated=%d resends=%d\n", n, total, total - n, dup + 0, resends + 0
    if (last > first) printf "events_per_s=%.1f (first send to last arrival %.2f s)\n", n / ((last - first) / 1e6), (last - first) / 1e6
  }' "$work/sent.log" "$work/arm.out"
sort -n "$work/latency.txt" | awk '{ v[NR] = $1 }
  END {
    if (NR == 0) exit
    p95 = int(NR * 0.95); if (p95 < 1) p95 = 1
    printf "latency_ms median=%.1f p95=%.1f max=%.1f (n=%d)\n", v[int((NR + 1) / 2)], v[p95], v[NR], NR
  }'
