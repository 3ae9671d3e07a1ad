#!/usr/bin/env bash
# The Win32 comm port on a line under Wine: a COM port of the Wine prefix
# ($WINEPREFIX/dosdevices/comN) is linked to a pseudo-terminal whose other side echoes every
# byte (pty_echo), and the test program's line tests run on it with the modem-line shim
# preloaded, as Wine asks a pty for modem lines it does not have.
# Usage: wine_comm_port.sh PTY_ECHO SHIM TEST_EXE COM_NUMBER
set -euo pipefail
echo_peer=$1 shim=$2 tests=$3 com=$4
: "${WINEPREFIX:?the Wine prefix of the build}"
scratch=$(mktemp -d)
link="$WINEPREFIX/dosdevices/com$com"
peer_pid=
cleanup() {
  exec 4>&- 2>/dev/null || true
  [ -n "$peer_pid" ] && kill "$peer_pid" 2>/dev/null || true
  rm -f "$link"
  rm -rf "$scratch"
}
trap cleanup EXIT

mkfifo "$scratch/in" "$scratch/out"
"$echo_peer" <"$scratch/in" >"$scratch/out" &
peer_pid=$!
exec 4>"$scratch/in"  # the peer ends when this closes
exec 3<"$scratch/out"
read -r -t 20 pty <&3
ln -sfn "$pty" "$link"
status=0
QUENZHAL_TEST_COM="COM$com" LD_PRELOAD="$shim" /usr/lib/wine/wine64 "$tests" \
  --gtest_filter='Win32CommPortLine.*' >"$scratch/log" 2>&1 || status=$?
cat "$scratch/log"
[ "$status" -eq 0 ] || exit 1
# Every line test ran, none was skipped for want of the port.
if grep -q SKIPPED "$scratch/log" || ! grep -q '^\[  PASSED  \] [1-9]' "$scratch/log"; then
  echo "the line tests did not run"
  exit 1
fi
