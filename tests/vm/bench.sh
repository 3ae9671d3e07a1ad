#!/usr/bin/env bash
# Benchmark on the VM bench (not a test): the dense image flashed from the guest over the
# 8250 driver, the simulator on the host's end of ttyS0.
#   paced at 9600 Bd, default receive trigger and trigger 1: total time / line time
#   unpaced: turnaround median and p99 of the flasher, with and without 1 ms per
#   modem-status request
# Usage: tests/vm/bench.sh [BUILD_DIR [paced|unpaced]]   (default build/default, both;
# prepares the guest)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/default}
only=${2:-}
guest=$build/tests/vm/guest
tests/vm/vm.sh prepare "$build" "$guest"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cli="/bin/VERidOvudida-cli --port /dev/ttyS0 --file /data/dense.bin --yes"
shim="/bin/env LD_PRELOAD=/lib/shim/libmodem_shim.so MODEM_SHIM_COST_US=1000 MODEM_SHIM_COUNTS=/tmp/counts"

# run NAME "GUEST COMMAND" SIMULATOR-OPTION...
run() {
  local name=$1 command=$2; shift 2
  local limit=400
  tests/vm/vm.sh boot "$guest" --limit "$limit" --console "$work/$name.console" -- "$command" \
    >"$work/$name.vm" 2>&1 &
  local vm=$! pts="" i
  for i in $(seq 300); do
    pts=$(sed -n 's/^line //p' "$work/$name.vm")
    [ -n "$pts" ] && break
    sleep 0.1
  done
  [ -n "$pts" ] || { cat "$work/$name.vm"; exit 1; }
  "$build/tools/simulator/mirbazento-sim" --attach "$pts" --no-register --version 3.29 \
    --report "$work/$name.json" --time-limit $((limit + 120)) "$@" >/dev/null 2>"$work/$name.sim" &
  local sim=$!
  wait "$vm" || true
  wait "$sim" || true
}
field() { sed -n "s/.*\"$2\": \([0-9.]*\).*/\1/p" "$work/$1.json" | head -n1; }
seconds() { sed -n 's/^probe: seconds //p' "$work/$1.console"; }
turnaround() {  # median and p99 of the flasher's answers, in ms
  sed -n 's/.*"host": {"count": [0-9]*, "min": [0-9.]*, "median": \([0-9.]*\), "p99": \([0-9.]*\).*/\1 \2/p' \
    "$work/$1.json"
}

for trigger in default 1; do
  [ "$only" != unpaced ] || break
  set_trigger=""
  [ "$trigger" = default ] || set_trigger="echo $trigger >/sys/class/tty/ttyS0/rx_trig_bytes; "
  run "paced-$trigger" "${set_trigger}vm_probe line /dev/ttyS0 $cli" --baud 9600
  chars=$(( $(field "paced-$trigger" bytes_received) + $(field "paced-$trigger" bytes_sent) ))
  total=$(seconds "paced-$trigger")
  echo "paced 9600 Bd, rx trigger $trigger: $total s for $chars characters," \
    "$(awk -v t="$total" -v c="$chars" 'BEGIN { printf "%.3f", t / (c * 10 / 9600) }') x the line time"
done

[ "$only" != paced ] || exit 0
run unpaced "vm_probe line /dev/ttyS0 $cli"
run unpaced-shim "vm_probe line /dev/ttyS0 $shim $cli; echo counts: \$(cat /tmp/counts)"
plain=$(seconds unpaced)
costly=$(seconds unpaced-shim)
requests=$(sed -n 's/.*counts: .* total=\([0-9]*\).*/\1/p' "$work/unpaced-shim.console")
read -r median p99 < <(turnaround unpaced)
read -r median_shim p99_shim < <(turnaround unpaced-shim)
exchange=$(field unpaced exchange_ms)
answers=$(sed -n 's/.*"host": {"count": \([0-9]*\),.*/\1/p' "$work/unpaced.json")
echo "unpaced: $plain s; turnaround median $median ms, p99 $p99 ms;" \
  "the flasher's answers about $(awk -v n="$answers" -v m="$median" -v e="$exchange" \
    'BEGIN { printf "%.0f", 100 * n * m / e }') % of the exchange"
echo "unpaced, 1 ms per modem-status request: $costly s ($(awk -v a="$costly" -v b="$plain" \
  'BEGIN { printf "%.3f", a / b }') x), $requests requests" \
  "($(awk -v r="$requests" -v t="$costly" 'BEGIN { printf "%.1f", r / t }')/s);" \
  "turnaround median $median_shim ms, p99 $p99_shim ms"
