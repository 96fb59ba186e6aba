#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds a guest kernel into OUT from Debian's linux-source-6.1: allnoconfig
# plus the board's config fragment FRAG; with DTS, also that device tree,
# compiled against the kernel's own trees (it may include a board's .dts).
# ARCH picks the cross compiler and the image: arm gives zImage, riscv
# gives Image. Two to eight minutes on two cores, as loaded; the source tree
# is removed afterwards.
#
#   e2e/kernel.sh ARCH FRAG OUT [DTS]
set -euo pipefail
arch=$1 frag=$(realpath "$2") out=$3 dts=${4:+$(realpath "$4")}
tarball=/usr/src/linux-source-6.1.tar.xz
case $arch in
  arm) cross=arm-linux-gnueabihf- image=zImage ;;
  riscv) cross=riscv64-linux-gnu- image=Image ;;
  *) echo "kernel.sh: no recipe for ARCH $arch" >&2; exit 2 ;;
esac
make_kernel=(make ARCH="$arch" CROSS_COMPILE="$cross")

mkdir -p "$out"
work=$(mktemp -d "$out/build.XXXXXX")
trap 'rm -rf "$work"' EXIT
src=$work/linux
mkdir -p "$src"
tar xJf "$tarball" -C "$src" --strip-components=1
"${make_kernel[@]}" -C "$src" KCONFIG_ALLCONFIG="$frag" allnoconfig >/dev/null
# A line of the fragment that did not survive allnoconfig (a missing
# dependency) would leave the guest without its console, its SPI device or
# its GPIO simulator, and the test would only time out; say which line it is.
missing=0
while IFS= read -r line; do
  grep -qxF "$line" "$src/.config" || { echo "kernel.sh: $line did not take" >&2; missing=1; }
done < <(grep '^CONFIG_' "$frag")
((missing == 0)) || exit 1
"${make_kernel[@]}" -C "$src" -j"$(nproc)" "$image" >/dev/null
cp "$src/arch/$arch/boot/$image" "$work/$image"
if [[ -n $dts ]]; then
  cpp -nostdinc -I "$src/include" -I "$src/arch/$arch/boot/dts" -I "$src/scripts/dtc/include-prefixes" \
      -undef -D__DTS__ -x assembler-with-cpp "$dts" |
    dtc -q -I dts -O dtb -o "$work/spidev.dtb" -
  mv "$work/spidev.dtb" "$out/"
fi
mv "$work/$image" "$out/"
