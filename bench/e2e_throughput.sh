#!/usr/bin/env bash
# End-to-end heartbeat throughput on loopback: devsim drives heartbeats from
# many registered devices at rising rates, first against relay-server
# --headless, then against a bare UDP echo loop on the same port. For each it
# reports the highest rate answered with no loss.
#   bench/e2e_throughput.sh [BUILD_DIR] [DEVICES] [SECONDS_PER_STEP] [RATES...]
set -euo pipefail
build="${1:-build}"; shift || true
devices="${1:-1000}"; shift || true
seconds="${1:-3}"; shift || true
rates=("$@")
[ ${#rates[@]} -gt 0 ] || rates=(10000 20000 40000 60000 80000 100000 120000 140000)
. "$(dirname "$0")/common.sh" "$build"

"$bin/devsim" --make-ndx "$work/devices.ndx" --devices "$devices" --port "$devport" >/dev/null

# One step: start the peer, drive `rate` heartbeats/s for `seconds`, print
# "sent answered".
step() {
  local kind=$1 rate=$2 peer extra=()
  cp "$work/devices.ndx" "$work/relay-server.ndx"
  if [ "$kind" = server ]; then
    "$bin/relay-server" --headless --data-dir "$work" > "$work/server.log" 2>&1 &
  else
    "$bin/udp_echo" "$port" 127.0.0.1 2>/dev/null &
    extra=(--bare-echo)
  fi
  peer=$!
  sleep 0.3
  local per=$(( (rate * seconds + devices - 1) / devices ))
  local out
  out=$("$bin/devsim" --server "127.0.0.1:$port" --ndx "$work/devices.ndx" --port "$devport" \
        --rate "$rate" --heartbeats "$per" --answer-timeout-ms 1000 --quiet "${extra[@]}" 2>/dev/null || true)
  kill "$peer"; wait "$peer" 2>/dev/null || true
  echo "$out" | sed -n 's/.*heartbeats=\([0-9]*\)\/\([0-9]*\).*/\1 \2/p'
}

printf '%-7s %8s %10s %10s %8s\n' peer rate sent answered lost
for kind in server echo; do
  best=0
  for rate in "${rates[@]}"; do
    read -r sent answered < <(step "$kind" "$rate")
    lost=$((sent - answered))
    printf '%-7s %8s %10s %10s %8s\n' "$kind" "$rate" "$sent" "$answered" "$lost"
    if [ "$lost" -eq 0 ]; then best=$rate; fi
  done
  echo "$kind: highest rate with no loss: $best heartbeats/s"
  eval "best_$kind=$best"
done
awk -v s="$best_server" -v e="$best_echo" 'BEGIN { if (e > 0) printf "server / bare echo: %.2f\n", s / e }'
