#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# make e2e: romwick, cross-compiled for a board's processor, against a flash
# model behind a QEMU board and the Linux kernel's own SPI controller and
# spidev drivers. Boots the guest once per phase of the board's scenario and
# compares, byte for byte, the flash image file and every file read back with
# what they must hold. Each board is a folder here, its board.sh saying what
# is its own: zynq (armhf, N25Q128 behind spi-cadence) and sifive_u
# (riscv64, a 32 MiB flash with SFDP behind spi-sifive). README.md in this
# folder has the details.
#
#   e2e/run.sh BOARD [--build DIR] [--host-build DIR] [--phases "PHASE..."]
#
# --build: the cross build and the run's files (default build-e2e/BOARD).
# --host-build: a host build of romwick, which writes the reference hex and
#   Intel HEX files from a simulated chip (default build).
# --phases: the phases to run, in this order, instead of the ones board.sh
#   switches on; a phase that is switched off can be tried this way.
# ROMWICK_E2E_CACHE: where kernels, busybox and fetched packages are kept
#   between runs (default ${XDG_CACHE_HOME:-$HOME/.cache}/romwick-e2e).
# ROMWICK_E2E_REQUIRED=1: a missing tool fails the run instead of skipping it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
usage="usage: $0 BOARD [--build DIR] [--host-build DIR] [--phases \"PHASE...\"]"
(($#)) || { echo "$usage" >&2; exit 2; }
board=$1
shift
build="build-e2e/$board"
host_build="build"
chosen_phases=
while (($#)); do
  case $1 in
    --build) build=$2; shift 2 ;;
    --host-build) host_build=$2; shift 2 ;;
    --phases) chosen_phases=$2; shift 2 ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
board_dir=$here/$board
[[ -f $board_dir/board.sh ]] || { echo "e2e: no board $board (a folder of $here with a board.sh)" >&2; exit 2; }
build=$(mkdir -p "$build" && cd "$build" && pwd)
host_romwick=$(cd "$host_build" 2>/dev/null && pwd)/romwick
cache=${ROMWICK_E2E_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/romwick-e2e}
work=$build/e2e

say() { echo "e2e: $board: $*"; }
die() { echo "e2e: $board: $*" >&2; exit 1; }
seconds_since() { echo $((SECONDS - $1)); }

# What every board needs; board.sh adds its own (board_tools).
check_tools() {
  local missing=() tool
  for tool in $triplet-gcc $triplet-g++ $triplet-readelf cmake ninja cpio python3 tar; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  if [[ ! -f $kernel_dir/$kernel_image ]]; then
    for tool in dtc flex bison bc make gcc cpp; do
      command -v "$tool" >/dev/null || missing+=("$tool")
    done
    [[ -f /usr/src/linux-source-6.1.tar.xz ]] || missing+=(linux-source-6.1)
  fi
  [[ -x $cache/busybox-$busybox_arch/busybox ]] || command -v apt-get >/dev/null || missing+=(apt-get)
  board_tools
  ((${#missing[@]} == 0)) && return
  local reason="missing ${missing[*]} (.ci/run installs what the end-to-end test needs)"
  [[ ${ROMWICK_E2E_REQUIRED:-0} == 1 ]] && die "$reason"
  say "skipped: $reason"
  exit 0
}

# fetch_debs SUITE ARCH DIR PACKAGE...: downloads the packages of Debian's
# SUITE for ARCH and unpacks them into DIR, through an apt configuration of
# its own: the system's sources, architectures and installed packages stay
# as they are. This is how a board gets what the system's release lacks or
# must not install (a newer QEMU beside the system's, a riscv64 busybox).
fetch_debs() {
  local suite=$1 arch=$2 dir=$3
  shift 3
  local mirror
  mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null |
             grep -v -- '-security' | head -n 1 || true)
  if [[ -z $mirror && -f /etc/apt/sources.list ]]; then
    mirror=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) { print $i; exit } }' /etc/apt/sources.list)
  fi
  mirror=${DEBIAN_MIRROR:-$mirror}
  [[ -n $mirror ]] || die "no Debian mirror in the apt sources; set DEBIAN_MIRROR"
  local tmp
  tmp=$(mktemp -d)
  mkdir -p "$tmp/lists/partial" "$tmp/cache/archives/partial" "$tmp/debs"
  echo "deb [arch=$arch signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $suite main" \
    > "$tmp/sources.list"
  local options=(-o "Dir::Etc::SourceList=$tmp/sources.list" -o Dir::Etc::SourceParts=/nonexistent
                 -o "Dir::State::Lists=$tmp/lists" -o "Dir::Cache=$tmp/cache" -o "APT::Architectures::=$arch"
                 -o APT::Sandbox::User=root)
  local package
  local -a wanted=()
  for package in "$@"; do wanted+=("$package:$arch/$suite"); done
  if ! { apt-get "${options[@]}" update -q && (cd "$tmp/debs" && apt-get "${options[@]}" download -q "${wanted[@]}"); } \
      > "$tmp/apt.log" 2>&1; then
    cat "$tmp/apt.log" >&2
    rm -rf "$tmp"
    die "cannot fetch $* for $arch from $suite"
  fi
  mkdir -p "$dir"
  for package in "$tmp"/debs/*.deb; do dpkg-deb -x "$package" "$dir"; done
  rm -rf "$tmp"
}

# The kernel is cached under a key of the files it is built from.
kernel() {
  if [[ -f $kernel_dir/$kernel_image ]]; then
    say "kernel: cached in $kernel_dir"
    return
  fi
  local start=$SECONDS
  say "kernel: building into $kernel_dir (a few minutes)"
  "$here/kernel.sh" "$kernel_arch" "$board_dir/kernel.frag" "$kernel_dir" ${kernel_dts:+"$kernel_dts"}
  say "kernel: built in $(seconds_since $start) s"
}

# A static busybox from Debian gives the guest its shell and tools.
busybox() {
  local dir=$cache/busybox-$busybox_arch
  [[ -x $dir/busybox ]] && return
  local tmp
  tmp=$(mktemp -d)
  fetch_debs "$busybox_suite" "$busybox_arch" "$tmp" busybox-static
  mkdir -p "$dir"
  # In /bin up to Debian 12, in the merged /usr after it.
  local binary
  for binary in "$tmp/bin/busybox" "$tmp/usr/bin/busybox"; do
    [[ -x $binary ]] && break
  done
  cp "$binary" "$dir/busybox"
  rm -rf "$tmp"
}

cross_build() {
  local start=$SECONDS
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr -DROMWICK_TESTS=OFF >/dev/null
  cmake --build "$build"
  say "cross build: $(seconds_since $start) s"
}

# The shared libraries FILE needs, by name, then their own, recursively.
needed_libraries() {
  "$triplet-readelf" -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'
}

find_cross_library() {
  local dir
  for dir in /usr/$triplet/lib /usr/lib/$triplet /lib/$triplet; do
    [[ -f $dir/$1 ]] && { echo "$dir/$1"; return; }
  done
  return 1
}

# Copies into ROOT/lib the loader and every library the installed program and
# runtime need that the install did not bring. The program is linked
# dynamically on every board: it loads its runtime libraries with dlopen,
# which a static program can do only with the same C library's shared
# objects beside it anyway.
copy_libraries() {
  local root=$1 file lib path
  local -a queue
  mapfile -t queue < <(find "$root/usr" -type f \( -path '*/bin/romwick' -o -name '*.so*' \))
  local -A seen=()
  while ((${#queue[@]})); do
    file=${queue[0]}
    queue=("${queue[@]:1}")
    for lib in $(needed_libraries "$file"); do
      [[ -n ${seen[$lib]:-} ]] && continue
      seen[$lib]=1
      [[ -n $(find "$root/usr" -name "$lib" -print -quit) ]] && continue
      path=$(find_cross_library "$lib") || die "no $triplet library $lib (needed by $file)"
      cp -L "$path" "$root/lib/$lib"
      queue+=("$root/lib/$lib")
    done
  done
  cp -L "$(find_cross_library "$loader")" "$root/lib/"
}

# The part of the initramfs every phase shares: busybox, the installed
# program with its runtime and libraries, the guest's scripts and the
# board's scenario.
common_initramfs() {
  local root=$work/root
  rm -rf "$root"
  mkdir -p "$root"/{bin,dev,lib,proc,sys,e2e}
  DESTDIR=$root cmake --install "$build" --strip >/dev/null
  copy_libraries "$root"
  cp "$cache/busybox-$busybox_arch/busybox" "$root/bin/"
  "$triplet-gcc" -static "${tohost_flags[@]}" -O2 -Wall -Wextra -o "$root/bin/tohost" "$here/guest/tohost.c"
  cp "$here/guest/init" "$root/init"
  cp "$here/guest/test.sh" "$board_dir/scenario.sh" "$board_dir/guest.sh" "$root/e2e/"
  (cd "$root" && find . | cpio -o -H newc -R 0:0 --quiet) > "$work/common.cpio"
}

# reference_reads NAME: NAME.hex and NAME.ihx in $work/expected, as the host
# build writes them from the bytes of NAME.bin there. The files count their
# addresses from -a, so a simulated chip that holds the bytes at 0 writes
# them for a read anywhere, past the end of the simulated parts too.
reference_reads() {
  local exp=$work/expected name=$1
  local length
  length=$(stat -c %s "$exp/$name.bin")
  "$here/data.py" place --file "$exp/$name.bin" --at 0 --size 16777216 --out "$exp/$name-reference-chip.bin"
  local format
  for format in hex:-fh ihx:-fi; do
    "$host_romwick" -d "sim:N25Q128,image=$exp/$name-reference-chip.bin" -r "$exp/$name.${format%%:*}" \
      "${format#*:}" -a 0 -l "$length" >/dev/null
  done
  rm "$exp/$name-reference-chip.bin"
}

# boot PHASE FILE...: boots the guest with FILE... in its /e2e and the flash
# image ($work/flash.bin) as it stands; unpacks what the guest handed back
# into $work/PHASE/out.
boot() {
  local phase=$1 dir=$work/$1
  shift
  rm -rf "$dir"
  mkdir -p "$dir/root/e2e" "$dir/out"
  (($# == 0)) || cp "$@" "$dir/root/e2e/"
  # The simulated chip starts where the real one does.
  [[ -z $SIM_CHIP ]] || cp "$work/flash.bin" "$dir/root/e2e/chip.bin"
  (cd "$dir/root" && find . | cpio -o -H newc -R 0:0 --quiet) > "$dir/phase.cpio"
  cat "$work/common.cpio" "$dir/phase.cpio" > "$dir/initramfs.cpio"
  local start=$SECONDS status
  set +e
  # Run from $dir: the guest's results.tar lands there.
  (cd "$dir" && timeout "$guest_timeout" "${qemu[@]}" -nographic -monitor none -no-reboot \
    -semihosting-config enable=on,userspace=on -initrd initramfs.cpio \
    -append "$kernel_command_line romwick_e2e=$phase" \
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

# check PHASE CHIP FILE...: a phase's results on each backend: the chip
# (the flash image file, the simulator's image), the transcript, standard
# error and each read-back FILE.
check() {
  local phase=$1 want_chip=$2 backend file want
  shift 2
  local out=$work/$phase/out
  for backend in $backends; do
    # A backend whose chip answers differently (another identification
    # code) has a transcript of its own.
    want=$board_dir/expected/$phase.$backend.txt
    [[ -f $want ]] || want=$board_dir/expected/$phase.txt
    expect "$phase: $backend: transcript" "$out/$backend/transcript.txt" "$want"
    expect_quiet "$phase: $backend: standard error" "$out/$backend/stderr.txt"
    for file in "$@"; do
      expect "$phase: $backend: read-back $file" "$out/$backend/$file" "$work/expected/$file"
    done
  done
  [[ -z $SIM_CHIP ]] || expect "$phase: sim: chip" "$out/sim/chip.bin" "$want_chip"
  expect "$phase: spidev: flash image" "$work/flash.bin" "$want_chip"
}

. "$board_dir/scenario.sh"
. "$board_dir/board.sh"
backends="spidev"
[[ -z $SIM_CHIP ]] || backends="sim spidev"
kernel_key=$(cat "$here/kernel.sh" "$board_dir/kernel.frag" ${kernel_dts:+"$kernel_dts"} | sha256sum | cut -c1-16)
kernel_dir=$cache/$board-kernel-$kernel_key
if [[ -n $chosen_phases ]]; then
  read -r -a phases <<< "$chosen_phases"
fi
for phase in "${phases[@]}"; do
  declare -F "phase_$phase" >/dev/null ||
    die "no phase $phase (board.sh has $(declare -F | sed -n 's/^declare -f phase_//p' | paste -sd ' '))"
done
total_start=$SECONDS
check_tools
[[ -x $host_romwick ]] || die "no host build of romwick in $host_build (make build)"
rm -rf "$work/inputs" "$work/expected"
mkdir -p "$work/inputs" "$work/expected" "$cache"
kernel
busybox
prepare_board
cross_build
common_initramfs
failures=0
for phase in "${phases[@]}"; do
  "phase_$phase"
done

((failures == 0)) || die "$failures check(s) failed ($(seconds_since $total_start) s); files in $work"
say "passed: ${phases[*]} ($(seconds_since $total_start) s)"
