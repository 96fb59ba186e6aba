# SPDX-License-Identifier: MIT
# The Zynq board, read by run.sh: QEMU's xilinx-zynq-a9 with an N25Q128
# flash model on chip select 0 of its first Cadence SPI controller, behind
# the kernel's spi-cadence and spidev drivers; a 32-bit ARM (armhf) guest.
triplet=arm-linux-gnueabihf
toolchain_file=$board_dir/armhf.cmake
loader=ld-linux-armhf.so.3
# The A32 semihosting call (guest/tohost.c).
tohost_flags=(-marm)
kernel_arch=arm
kernel_image=zImage
kernel_dts=$board_dir/spidev.dts
busybox_suite=bookworm
busybox_arch=armhf
# The board's second UART is the console; the first leads nowhere.
qemu=(qemu-system-arm -M xilinx-zynq-a9 -m 512M -serial null -serial stdio)
kernel_command_line="console=ttyPS0,115200 rdinit=/init"
# A whole-chip write and read at 128 bytes a transfer take about a minute
# under emulation; a guest that is still running after this has hung.
guest_timeout=600
# The phases make e2e runs, in this order.
phases=(range full)

board_tools() {
  command -v qemu-system-arm >/dev/null || missing+=(qemu-system-arm)
}

prepare_board() {
  qemu+=(-kernel "$kernel_dir/zImage" -dtb "$kernel_dir/spidev.dtb")
  "$here/data.py" inputs "$work/inputs" --chip-size "$CHIP_SIZE" --range-at "$RANGE_AT" \
    --range-size "$RANGE_SIZE" --sector "$SECTOR_SIZE"
}

phase_range() {
  local exp=$work/expected
  "$here/data.py" after-range-write --chip "$work/inputs/seed.bin" --file "$work/inputs/range.bin" \
    --at "$RANGE_AT" --sector "$SECTOR_SIZE" --out "$exp/range-chip.bin"
  "$here/data.py" cut --file "$exp/range-chip.bin" --at "$READ_AT" --len "$READ_LEN" --out "$exp/range.bin"
  reference_reads range
  cp "$work/inputs/seed.bin" "$work/flash.bin"
  boot range "$work/inputs/range.bin"
  check range "$exp/range-chip.bin" range.bin range.hex range.ihx
}

phase_full() {
  ln -sf ../inputs/full.bin "$work/expected/full.bin"
  cp "$work/inputs/seed.bin" "$work/flash.bin"
  boot full "$work/inputs/full.bin"
  check full "$work/inputs/full.bin" full.bin
}
