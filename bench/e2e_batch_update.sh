#!/usr/bin/env bash
# relayctl batch update-main over DEVICES devsim devices against relay-server
# --headless on loopback, at the operator's time-outs: a KIB KiB image to each
# device in turn, FAILING of them with a loader that takes no packet. All the
# devices send heartbeats every HB_MS throughout; devsim's summary tells how
# many went unanswered. Reports the total time, the time per device and the
# batch's table.
#   bench/e2e_batch_update.sh [BUILD_DIR] [DEVICES] [FAILING] [KIB] [HB_MS]
set -euo pipefail
build="${1:-build}"
devices="${2:-100}"
failing="${3:-3}"
kib="${4:-64}"
hb="${5:-2000}"
[ "$devices" -le 255 ] || { echo "at most 255 devices (numbers 1/0/1 to 1/0/255)" >&2; exit 2; }
. "$(dirname "$0")/common.sh" "$build"

"$bin/devsim" --make-ndx "$work/relay-server.ndx" --devices "$devices" --port "$devport" >/dev/null 2>&1
cp "$work/relay-server.ndx" "$work/devices.ndx"
head -c $((kib * 1024)) /dev/urandom > "$work/fw.bin"
srec_cat "$work/fw.bin" -binary -o "$work/main_4620.hex" -intel -obs=16 -crlf
printf 'admin\nadmin\n' > "$work/login"

# The failing devices spread over the batch.
numbers=() refuse=()
for k in $(seq 1 "$devices"); do numbers+=("1/0/$k"); done
for f in $(seq 1 "$failing"); do refuse+=("${numbers[$((f * devices / (failing + 1)))]}"); done
refuse_list=$(IFS=,; echo "${refuse[*]}")

"$bin/relay-server" --headless --data-dir "$work" --ports-dir "$work/ports" \
  > "$work/server.log" 2> "$work/server.err" &
server=$!
sleep 1
"$bin/devsim" --server "127.0.0.1:$port" --ndx "$work/devices.ndx" --port "$devport" --maint \
  --maint-loader-refuse "$refuse_list" --heartbeat-ms "$hb" --duration-ms 3600000 \
  > "$work/devsim.out" 2> "$work/devsim.err" &
sim=$!
sleep 2

t0=$(date +%s.%N)
status=0
"$bin/relayctl" --data-dir "$work" batch update-main "$work/main_4620.hex" "${numbers[@]}" \
  --credentials "$work/login" > "$work/batch.out" || status=$?
t1=$(date +%s.%N)
sleep 2  # the last heartbeats sent during the batch get their answers
kill -INT "$sim"; wait "$sim" || true
kill "$server"; wait "$server" 2>/dev/null || true

echo "devices=$devices failing=$failing ($refuse_list) image=${kib}KiB ($(wc -c < "$work/main_4620.hex") bytes of HEX) heartbeat_ms=$hb"
echo "relayctl exit status: $status"
awk -v t0="$t0" -v t1="$t1" -v n="$devices" 'BEGIN { printf "batch: %.1f s in all, %.2f s a device\n", t1 - t0, (t1 - t0) / n }'
# The table's header, its failed rows, its count, and the spread of the times of the rows done.
sed -n '/^Прибор /p; /не выполнено/p; /^Выполнено:/p' "$work/batch.out"
awk '/  выполнено  / { t = $3 + 0; s += t; c++; if (min == "" || t < min) min = t; if (t > max) max = t }
  END { if (c) printf "devices done: %d, time each: min %.1f s, mean %.2f s, max %.1f s\n", c, min, s / c, max }' \
  "$work/batch.out"
tail -n 1 "$work/devsim.out"
