#!/usr/bin/env bash
# One full flash of the Windows command-line flasher under Wine against the Linux device
# simulator: the simulator's pseudo-terminal is mapped to a COM port of the Wine prefix
# ($WINEPREFIX/dosdevices/comN), and the modem-line shim is preloaded, as Wine's serial code
# needs the modem ioctls of a real line (a pty fails them).
# Usage: wine_cli_flash.sh SIMULATOR SHIM CLI_EXE IMAGE COM_NUMBER
set -euo pipefail
sim=$1 shim=$2 cli=$3 image=$4 com=$5
: "${WINEPREFIX:?the Wine prefix of the build}"
scratch=$(mktemp -d)
link="$WINEPREFIX/dosdevices/com$com"
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -f "$link"
  rm -rf "$scratch"
}
trap cleanup EXIT

mkfifo "$scratch/out"
"$sim" --no-register --once --revision 0 --version 3.29 --time-limit 120 \
  --report "$scratch/report.json" --flash-out "$scratch/flash.bin" >"$scratch/out" 2>"$scratch/sim.err" &
sim_pid=$!
exec 3<"$scratch/out"
read -r -t 20 pty <&3
read -r -t 20 _ <&3 || true
ln -sfn "$pty" "$link"

status=0
LD_PRELOAD="$shim" /usr/lib/wine/wine64 "$cli" --port "COM$com" --yes >"$scratch/cli.out" 2>&1 || status=$?
cat "$scratch/cli.out"
wait "$sim_pid" || true
sim_pid=
if [ "$status" -ne 0 ]; then
  echo "the flasher ended with $status"; cat "$scratch/sim.err"; exit 1
fi
if ! cmp -s "$image" "$scratch/flash.bin"; then
  echo "the device's flash differs from the image"; exit 1
fi
echo "flashed: the device holds the image"
