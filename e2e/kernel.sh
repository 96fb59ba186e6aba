#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the guest kernel (zImage) and its device tree (zynq-spidev.dtb) into
# OUT from Debian's linux-source-6.1: allnoconfig plus kernel.frag. About two
# minutes on two cores; the source tree is removed afterwards.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1
tarball=/usr/src/linux-source-6.1.tar.xz
make_arm=(make ARCH=arm CROSS_COMPILE=arm-linux-gnueabihf-)

mkdir -p "$out"
work=$(mktemp -d "$out/build.XXXXXX")
trap 'rm -rf "$work"' EXIT
src=$work/linux
mkdir -p "$src"
tar xJf "$tarball" -C "$src" --strip-components=1
"${make_arm[@]}" -C "$src" KCONFIG_ALLCONFIG="$here/kernel.frag" allnoconfig >/dev/null
# A line of the fragment that did not survive allnoconfig (a missing
# dependency) would leave the guest without its console, its SPI device or
# its SD card, and the test would only time out; say which line it is.
missing=0
while IFS= read -r line; do
  grep -qxF "$line" "$src/.config" || { echo "kernel.sh: $line did not take" >&2; missing=1; }
done < <(grep '^CONFIG_' "$here/kernel.frag")
((missing == 0)) || exit 1
"${make_arm[@]}" -C "$src" -j"$(nproc)" zImage >/dev/null
cpp -nostdinc -I "$src/include" -I "$src/arch/arm/boot/dts" -I "$src/scripts/dtc/include-prefixes" \
    -undef -D__DTS__ -x assembler-with-cpp "$here/zynq-spidev.dts" |
  dtc -q -I dts -O dtb -o "$work/zynq-spidev.dtb" -
cp "$src/arch/arm/boot/zImage" "$work/zImage"
mv "$work/zImage" "$work/zynq-spidev.dtb" "$out/"
