#!/usr/bin/env bash
# The VM bench: Linux's 8250 driver on the 16550A that QEMU models, with the device
# simulated on the host's end of the line.
#
#   vm.sh prepare BUILD_DIR OUT_DIR
#       Fetches Debian's kernel once (kept in the cache folder below) and builds the
#       initramfs into OUT_DIR: busybox, the flasher's CLI, the guest test programs, the
#       cost shim where it is built, and the shared libraries they need. Exit 77 with the
#       reason on standard error where the bench cannot be had (no QEMU, no kernel).
#   vm.sh boot OUT_DIR [--limit S] [--console FILE] [--] COMMAND
#       Boots the guest (TCG, one vCPU) with ttyS0 on a host pseudo-terminal and the console
#       on ttyS1. Prints "line /dev/pts/N" on standard output as soon as the terminal exists
#       (attach the simulator to it: mirbazento-sim --attach /dev/pts/N). The guest runs
#       COMMAND (a shell command line) within S seconds (default 120), prints its output
#       between marker lines on the console and powers off. The exit status is the
#       command's, 124 when it ran out of time, 125 when the guest gave no status.
#
# The kernel cache is $FLASHER_VM_CACHE, else /var/cache/flasher-vm where that can be
# written, else ${XDG_CACHE_HOME:-~/.cache}/flasher-vm.
set -euo pipefail

die() { echo "vm.sh: $*" >&2; exit 1; }
# Tells why the bench cannot run, also to the tests (they skip with this reason).
unavailable() {
  echo "vm.sh: VM bench unavailable: $*" >&2
  [ -n "${out_dir:-}" ] && mkdir -p "$out_dir" && echo "$*" >"$out_dir/unavailable"
  exit 77
}

cache_dir() {
  if [ -n "${FLASHER_VM_CACHE:-}" ]; then echo "$FLASHER_VM_CACHE"; return; fi
  if mkdir -p /var/cache/flasher-vm 2>/dev/null && [ -w /var/cache/flasher-vm ]; then
    echo /var/cache/flasher-vm
  else
    echo "${XDG_CACHE_HOME:-$HOME/.cache}/flasher-vm"
  fi
}

# The kernel image of Debian's current linux-image-amd64, unpacked from its package
# without installing it. A second run finds it in the cache.
fetch_kernel() {
  local cache; cache=$(cache_dir)
  mkdir -p "$cache"
  local found; found=$(ls "$cache"/vmlinuz-* 2>/dev/null | head -n1 || true)
  if [ -n "$found" ]; then echo "$found"; return; fi
  command -v apt-cache >/dev/null || unavailable "no apt-cache to find Debian's kernel package"
  local pkg
  pkg=$(apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-[0-9].*-amd64\)$/\1/p' | head -n1)
  [ -n "$pkg" ] || unavailable "apt-cache names no kernel package for linux-image-amd64"
  local work; work=$(mktemp -d "$cache/download.XXXXXX")
  echo "vm.sh: fetching $pkg (once; kept in $cache)" >&2
  if ! (cd "$work" && apt-get download -q "$pkg" >/dev/null 2>"$work/apt.err"); then
    cat "$work/apt.err" >&2
    rm -rf "$work"
    unavailable "cannot download $pkg"
  fi
  # Only the kernel image: the modules are not needed (the 8250 driver is built in).
  dpkg-deb --fsys-tarfile "$work"/*.deb | tar -x -C "$work" --wildcards './boot/vmlinuz-*'
  local image; image=$(ls "$work"/boot/vmlinuz-* | head -n1)
  mv "$image" "$cache/"
  rm -rf "$work"
  ls "$cache"/vmlinuz-* | head -n1
}

# Copies a program and every shared library it needs into the tree at $1.
add_program() {
  local root=$1 program=$2 dest=$3
  install -D -m 0755 "$program" "$root$dest"
  local lib
  for lib in $(ldd "$program" 2>/dev/null | grep -o '/[^ ]*' | sort -u); do
    [ -e "$root$lib" ] || install -D -m 0755 "$lib" "$root$lib"
  done
}

prepare() {
  local build=$1 out=$2
  out_dir=$out
  rm -f "$out/unavailable"
  command -v qemu-system-x86_64 >/dev/null ||
    unavailable "qemu-system-x86_64 is not installed (package qemu-system-x86)"
  local busybox=/bin/busybox
  [ -x "$busybox" ] || busybox=/usr/bin/busybox
  [ -x "$busybox" ] && ! ldd "$busybox" >/dev/null 2>&1 ||
    unavailable "no static busybox (package busybox-static)"
  local kernel; kernel=$(fetch_kernel)

  mkdir -p "$out"
  local root; root=$(mktemp -d "$out/root.XXXXXX")
  trap 'rm -rf "$root"' RETURN
  mkdir -p "$root"/{bin,dev,proc,sys,tmp,etc}
  install -m 0755 "$busybox" "$root/bin/busybox"
  add_program "$root" "$build/app/VERidOvudida-cli" /bin/VERidOvudida-cli
  add_program "$root" "$build/tests/vm/vm_probe" /bin/vm_probe
  local shim
  for shim in "$build"/tests/shim/*.so; do
    [ -e "$shim" ] && add_program "$root" "$shim" "/lib/shim/$(basename "$shim")"
  done
  [ -e "$build/app/dense.bin" ] && install -D -m 0644 "$build/app/dense.bin" "$root/data/dense.bin"
  install -m 0755 "$(dirname "$0")/init" "$root/init"
  (cd "$root" && find . | "$busybox" cpio -o -H newc 2>/dev/null | gzip -1) >"$out/initrd.img.tmp"
  mv "$out/initrd.img.tmp" "$out/initrd.img"
  cp "$kernel" "$out/vmlinuz.tmp" && mv "$out/vmlinuz.tmp" "$out/vmlinuz"
  echo "vm.sh: guest ready in $out ($(basename "$kernel"))" >&2
}

boot() {
  local out=$1; shift
  local limit=120 console=""
  while [ $# -gt 0 ]; do
    case $1 in
      --limit) limit=$2; shift 2 ;;
      --console) console=$2; shift 2 ;;
      --) shift; break ;;
      *) break ;;
    esac
  done
  [ $# -gt 0 ] || die "boot needs a command"
  [ -e "$out/vmlinuz" ] && [ -e "$out/initrd.img" ] || die "no guest in $out (run prepare)"
  work=$(mktemp -d)
  qemu=""
  trap 'rm -rf "$work"; if [ -n "$qemu" ]; then kill "$qemu" 2>/dev/null || true; fi' EXIT
  [ -n "$console" ] || console=$work/console
  : >"$console"
  local cmd; cmd=$(printf '%s' "$*" | base64 -w0)
  qemu-system-x86_64 -accel tcg -smp 1 -m 256 -nodefaults -display none -no-reboot \
    -kernel "$out/vmlinuz" -initrd "$out/initrd.img" \
    -append "console=ttyS1 quiet loglevel=3 panic=-1 vm.limit=$limit vm.cmd=$cmd" \
    -chardev pty,id=line -serial chardev:line \
    -chardev file,id=con,path="$console" -serial chardev:con \
    -monitor none >"$work/qemu.err" 2>&1 </dev/null &
  qemu=$!
  # QEMU names the terminal on standard error as soon as it has made it.
  local pts="" i
  for i in $(seq 100); do
    pts=$(sed -n 's/.*char device redirected to \(\/dev\/pts\/[0-9]*\) (label line).*/\1/p' \
          "$work/qemu.err")
    [ -n "$pts" ] && break
    kill -0 "$qemu" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$pts" ] || { cat "$work/qemu.err" >&2; die "QEMU did not start"; }
  echo "line $pts"
  # The guest bounds its command; this bounds the guest (boot and power-off included).
  local deadline=$((SECONDS + limit + 60))
  while kill -0 "$qemu" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.2; done
  if kill -0 "$qemu" 2>/dev/null; then
    kill "$qemu"
    echo "vm.sh: the guest did not power off; stopped" >&2
  fi
  wait "$qemu" 2>/dev/null || true
  qemu=""
  [ "$console" = "$work/console" ] && cat "$console"
  local status
  status=$(sed -n 's/^=== vm: status \([0-9]*\).*/\1/p' "$console" | tail -n1)
  [ -n "$status" ] || { tail -n 20 "$console" >&2; return 125; }
  return "$status"
}

case ${1:-} in
  prepare) [ $# -eq 3 ] || die "usage: vm.sh prepare BUILD_DIR OUT_DIR"; prepare "$2" "$3" ;;
  boot) [ $# -ge 3 ] || die "usage: vm.sh boot OUT_DIR [--limit S] [--console FILE] -- COMMAND"
    shift; boot "$@" ;;
  *) die "usage: vm.sh prepare BUILD_DIR OUT_DIR | vm.sh boot OUT_DIR [--limit S] [--console FILE] -- COMMAND" ;;
esac
