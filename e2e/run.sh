#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# make e2e: romwick, cross-compiled for armhf, against an N25Q128 flash model
# behind QEMU's Zynq board and the Linux kernel's own spi-cadence and spidev
# drivers. Boots the guest once per phase (guest/test.sh) and compares, byte
# for byte, the flash image file and every file read back with what they
# must hold. README.md in this folder has the details.
#
#   e2e/run.sh [--build DIR] [--host-build DIR]
#
# --build: the cross build and the run's files (default build-e2e).
# --host-build: a host build of romwick, which writes the reference hex and
#   Intel HEX files from a simulated chip (default build).
# ROMWICK_E2E_CACHE: where the kernel and busybox are kept between runs
#   (default ${XDG_CACHE_HOME:-$HOME/.cache}/romwick-e2e).
# ROMWICK_E2E_REQUIRED=1: a missing tool fails the run instead of skipping it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
build="build-e2e"
host_build="build"
while (($#)); do
  case $1 in
    --build) build=$2; shift 2 ;;
    --host-build) host_build=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--host-build DIR]" >&2; exit 2 ;;
  esac
done
build=$(mkdir -p "$build" && cd "$build" && pwd)
host_romwick=$(cd "$host_build" 2>/dev/null && pwd)/romwick
cache=${ROMWICK_E2E_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/romwick-e2e}
work=$build/e2e
triplet=arm-linux-gnueabihf
# A whole-chip write and read at 128 bytes a transfer take about a minute
# under emulation; a guest that is still running after this has hung.
guest_timeout=600
. "$here/guest/scenario.sh"

say() { echo "e2e: $*"; }
die() { echo "e2e: $*" >&2; exit 1; }
seconds_since() { echo $((SECONDS - $1)); }

# Everything the run needs from Debian; .ci/run installs it.
check_tools() {
  local missing=() tool
  for tool in qemu-system-arm $triplet-gcc $triplet-g++ $triplet-readelf cmake ninja cpio python3 tar; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  if [[ ! -f $kernel_dir/zImage ]]; then
    for tool in dtc flex bison bc make gcc cpp; do
      command -v "$tool" >/dev/null || missing+=("$tool")
    done
    [[ -f /usr/src/linux-source-6.1.tar.xz ]] || missing+=(linux-source-6.1)
  fi
  [[ -x $cache/busybox/busybox ]] || command -v apt-get >/dev/null || missing+=(apt-get)
  ((${#missing[@]} == 0)) && return
  local reason="missing ${missing[*]} (.ci/run installs what the end-to-end test needs)"
  [[ ${ROMWICK_E2E_REQUIRED:-0} == 1 ]] && die "$reason"
  say "skipped: $reason"
  exit 0
}

# The kernel is cached under a key of the files it is built from.
kernel() {
  if [[ -f $kernel_dir/zImage && -f $kernel_dir/zynq-spidev.dtb ]]; then
    say "kernel: cached in $kernel_dir"
    return
  fi
  local start=$SECONDS
  say "kernel: building into $kernel_dir (a few minutes)"
  "$here/kernel.sh" "$kernel_dir"
  say "kernel: built in $(seconds_since $start) s"
}

# A static busybox from Debian's armhf package gives the guest its shell and tools.
busybox() {
  local dir=$cache/busybox
  [[ -x $dir/busybox ]] && return
  local tmp
  tmp=$(mktemp -d)
  # apt's sandbox user cannot write into a private temporary folder; as root
  # apt says so and downloads anyway, so its messages matter only on failure.
  if ! (cd "$tmp" && apt-get download -q busybox-static:armhf && dpkg-deb -x busybox-static_*.deb x) \
      > "$tmp/apt.log" 2>&1; then
    cat "$tmp/apt.log" >&2
    rm -rf "$tmp"
    die "cannot fetch busybox-static:armhf (dpkg --add-architecture armhf; apt-get update)"
  fi
  mkdir -p "$dir"
  cp "$tmp/x/bin/busybox" "$dir/busybox"
  rm -rf "$tmp"
}

cross_build() {
  local start=$SECONDS
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/armhf.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr -DROMWICK_TESTS=OFF >/dev/null
  cmake --build "$build"
  say "cross build: $(seconds_since $start) s"
}

# The armhf shared libraries FILE needs, by name, then their own, recursively.
needed_libraries() {
  "$triplet-readelf" -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'
}

find_armhf_library() {
  local dir
  for dir in /usr/$triplet/lib /usr/lib/$triplet /lib/$triplet; do
    [[ -f $dir/$1 ]] && { echo "$dir/$1"; return; }
  done
  return 1
}

# Copies into ROOT/lib the loader and every library the installed program and
# runtime need that the install did not bring.
copy_libraries() {
  local root=$1 file lib path
  local -a queue
  mapfile -t queue < <(find "$root/usr" -type f \( -name romwick -o -name '*.so*' \))
  local -A seen=()
  while ((${#queue[@]})); do
    file=${queue[0]}
    queue=("${queue[@]:1}")
    for lib in $(needed_libraries "$file"); do
      [[ -n ${seen[$lib]:-} ]] && continue
      seen[$lib]=1
      [[ -n $(find "$root/usr" -name "$lib" -print -quit) ]] && continue
      path=$(find_armhf_library "$lib") || die "no armhf library $lib (needed by $file)"
      cp -L "$path" "$root/lib/$lib"
      queue+=("$root/lib/$lib")
    done
  done
  cp -L "$(find_armhf_library ld-linux-armhf.so.3)" "$root/lib/"
}

# The part of the initramfs every phase shares: busybox, the installed
# program with its runtime and libraries, the guest's scripts.
common_initramfs() {
  local root=$work/root
  rm -rf "$root"
  mkdir -p "$root"/{bin,dev,lib,proc,sys,e2e}
  DESTDIR=$root cmake --install "$build" --strip >/dev/null
  copy_libraries "$root"
  cp "$cache/busybox/busybox" "$root/bin/"
  "$triplet-gcc" -static -marm -O2 -Wall -Wextra -o "$root/bin/tohost" "$here/guest/tohost.c"
  cp "$here/guest/init" "$root/init"
  cp "$here/guest/test.sh" "$here/guest/scenario.sh" "$root/e2e/"
  (cd "$root" && find . | cpio -o -H newc -R 0:0 --quiet) > "$work/common.cpio"
}

# Inputs and what the chip and the read-back files must hold. The hex and
# Intel HEX references come from the host build reading a simulated chip
# that holds the expected contents.
expectations() {
  local in=$work/inputs exp=$work/expected
  rm -rf "$in" "$exp"
  mkdir -p "$in" "$exp"
  "$here/data.py" inputs "$in" --chip-size "$CHIP_SIZE" --range-at "$RANGE_AT" --range-size "$RANGE_SIZE" \
    --sector "$SECTOR_SIZE"
  "$here/data.py" after-range-write --chip "$in/seed.bin" --file "$in/range.bin" --at "$RANGE_AT" \
    --sector "$SECTOR_SIZE" --out "$exp/range-chip.bin"
  "$here/data.py" cut --file "$exp/range-chip.bin" --at "$READ_AT" --len "$READ_LEN" --out "$exp/range.bin"
  cp "$exp/range-chip.bin" "$exp/reference-chip.bin"
  local format
  for format in hex:-fh ihx:-fi; do
    "$host_romwick" -d "sim:N25Q128,image=$exp/reference-chip.bin" -r "$exp/range.${format%%:*}" \
      "${format#*:}" -a "$READ_AT" -l "$READ_LEN" >/dev/null
  done
  ln -s ../inputs/full.bin "$exp/full.bin"
}

# boot PHASE FILE...: boots the guest with FILE... in its /e2e and the flash
# image as it stands; unpacks what the guest handed back into $work/PHASE/out.
boot() {
  local phase=$1 dir=$work/$1
  shift
  rm -rf "$dir"
  mkdir -p "$dir/root/e2e" "$dir/out"
  cp "$@" "$dir/root/e2e/"
  cp "$work/flash.bin" "$dir/root/e2e/chip.bin"
  (cd "$dir/root" && find . | cpio -o -H newc -R 0:0 --quiet) > "$dir/phase.cpio"
  cat "$work/common.cpio" "$dir/phase.cpio" > "$dir/initramfs.cpio"
  local start=$SECONDS status
  set +e
  # Run from $dir: the guest's results.tar lands there.
  (cd "$dir" && timeout $guest_timeout qemu-system-arm -M xilinx-zynq-a9 -m 512M -nographic -monitor none \
    -no-reboot -serial null -serial stdio -semihosting-config enable=on,userspace=on \
    -kernel "$kernel_dir/zImage" -dtb "$kernel_dir/zynq-spidev.dtb" -initrd initramfs.cpio \
    -append "console=ttyPS0,115200 rdinit=/init random.trust_bootloader=on romwick_e2e=$phase" \
    -drive if=mtd,format=raw,file="$work/flash.bin" < /dev/null 2>&1) |
    tr -d '\r' | tee "$dir/console.log" | grep --line-buffered '^e2e: '
  status=${PIPESTATUS[0]}
  set -e
  ((status == 0)) || die "$phase: the guest did not finish (status $status); console: $dir/console.log"
  tar -xf "$dir/results.tar" -C "$dir/out" || die "$phase: no results from the guest; console: $dir/console.log"
  say "$phase: guest ran $(seconds_since $start) s"
}

# expect WHAT GOT WANT: compares two files byte for byte.
expect() {
  if [[ ! -f $2 ]]; then
    say "FAIL $1: $2 is missing"
    failures=$((failures + 1))
  elif cmp -s "$2" "$3"; then
    say "ok   $1"
  else
    local difference
    difference=$(cmp "$2" "$3" 2>&1 | head -n 1 || true)
    # cmp counts bytes from 1; a flash address reads better.
    if [[ $difference =~ differ:\ (byte|char)\ ([0-9]+) ]]; then
      difference=$(printf 'first difference at offset 0x%X' $((BASH_REMATCH[2] - 1)))
    fi
    say "FAIL $1: $difference ($2 against $3)"
    failures=$((failures + 1))
  fi
}

# expect_quiet WHAT FILE: the program and the runtime wrote nothing to
# standard error (FILE) in a run that succeeded.
expect_quiet() {
  if [[ -s $2 ]]; then
    say "FAIL $1: $(head -n 1 "$2") ($2)"
    failures=$((failures + 1))
  else
    say "ok   $1"
  fi
}

# check PHASE CHIP FILE...: a phase's results on both backends: the chip
# (the simulator's image, the flash image file), the transcript, standard
# error and each read-back FILE.
check() {
  local phase=$1 want_chip=$2 backend file
  shift 2
  local out=$work/$phase/out
  for backend in sim spidev; do
    expect "$phase: $backend: transcript" "$out/$backend/transcript.txt" "$here/expected/$phase.txt"
    expect_quiet "$phase: $backend: standard error" "$out/$backend/stderr.txt"
    for file in "$@"; do
      expect "$phase: $backend: read-back $file" "$out/$backend/$file" "$work/expected/$file"
    done
  done
  expect "$phase: sim: chip" "$out/sim/chip.bin" "$want_chip"
  expect "$phase: spidev: flash image" "$work/flash.bin" "$want_chip"
}

kernel_key=$(cat "$here/kernel.sh" "$here/kernel.frag" "$here/zynq-spidev.dts" | sha256sum | cut -c1-16)
kernel_dir=$cache/kernel-$kernel_key
total_start=$SECONDS
check_tools
[[ -x $host_romwick ]] || die "no host build of romwick in $host_build (make build)"
mkdir -p "$work"
kernel
busybox
cross_build
common_initramfs
expectations
failures=0
cp "$work/inputs/seed.bin" "$work/flash.bin"
boot range "$work/inputs/range.bin"
check range "$work/expected/range-chip.bin" range.bin range.hex range.ihx
boot full "$work/inputs/full.bin"
check full "$work/inputs/full.bin" full.bin

((failures == 0)) || die "$failures check(s) failed ($(seconds_since $total_start) s); files in $work"
say "passed ($(seconds_since $total_start) s)"
