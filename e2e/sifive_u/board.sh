# SPDX-License-Identifier: MIT
# The SiFive board, read by run.sh: QEMU's sifive_u with its 32 MiB
# is25wp256 flash model (SFDP, 4-byte addressing) on chip select 0 of SPI0,
# behind the kernel's spi-sifive and spidev drivers; a 64-bit RISC-V guest.
triplet=riscv64-linux-gnu
toolchain_file=$board_dir/riscv64.cmake
loader=ld-linux-riscv64-lp64d.so.1
tohost_flags=()
kernel_arch=riscv
kernel_image=Image
# The device tree is QEMU's own, changed by spidev.dts (prepare_board).
kernel_dts=
# Debian 12 has no riscv64 packages; 13 has a static busybox.
busybox_suite=trixie
busybox_arch=riscv64
# The model's SFDP table came with QEMU 8.0; Debian 12 has 7.2, its
# backports 10.0, which is unpacked into the cache and run from there, the
# system's QEMU left as it is.
qemu_dir=$cache/qemu-riscv-bookworm-backports
# Enough for a phase's files twice over (the initramfs and its unpacked
# copy), what the guest reads back and the program's image buffers.
memory=1G
# The SBI console: QEMU 10's SiFive UART drops characters that user space
# writes to ttySIF0. panic=-1 and -no-reboot end QEMU on a panic.
kernel_command_line="console=hvc0 rdinit=/init panic=-1"
# The whole-chip write, verify and read take 6 minutes on idle cores and
# four times that beside other builds; a guest that is still running after
# this has hung.
guest_timeout=1800
# The phases make e2e runs, in this order (README.md in e2e/ says what each
# does).
phases=(low range full reset)

board_tools() {
  # OpenSBI, the firmware -bios default loads, comes with the system's QEMU
  # data; QEMU 10 finds it there.
  [[ -f /usr/share/qemu/opensbi-riscv64-generic-fw_dynamic.bin ]] || missing+=(qemu-system-data)
  # The device tree is made on every run.
  command -v dtc >/dev/null || missing+=(dtc)
  [[ -x $qemu_dir/usr/bin/qemu-system-riscv64 ]] || command -v apt-get >/dev/null || missing+=(apt-get)
}

# QEMU 10 with its own modules: from the system's folder it would load 7.2's
# and abort. Audio is off: the board has none, and the host may have no
# sound system.
fetch_qemu() {
  if [[ ! -x $qemu_dir/usr/bin/qemu-system-riscv64 ]]; then
    local tmp
    tmp=$(mktemp -d "$cache/qemu.XXXXXX")
    fetch_debs bookworm-backports "$(dpkg --print-architecture)" "$tmp" qemu-system-riscv qemu-system-common
    rm -rf "$qemu_dir"
    mv "$tmp" "$qemu_dir"
  fi
  local modules
  modules=$(dirname "$(find "$qemu_dir/usr/lib" -name 'hw-*.so' -print -quit)")
  qemu=(env QEMU_MODULE_DIR="$modules" "$qemu_dir/usr/bin/qemu-system-riscv64" -audio none)
  "${qemu[@]}" --version > "$work/qemu-version.txt" 2>&1 ||
    die "QEMU from bookworm-backports does not run: $(head -n 1 "$work/qemu-version.txt")"
  say "$(head -n 1 "$work/qemu-version.txt")"
}

# The device tree: QEMU's own, dumped for the boot's memory size (its memory
# node must match the boot's, or the kernel drops the initramfs), with
# spidev.dts's change. Made on every run, in a moment, so that it always
# comes from the QEMU that boots it.
device_tree() {
  "${qemu[@]}" -machine sifive_u,dumpdtb="$work/board.dtb" -m "$memory" -nographic >/dev/null
  dtc -q -I dtb -O dts -o "$work/board.dts" "$work/board.dtb"
  dtc -q -i "$work" -I dts -O dtb -o "$work/spidev.dtb" "$board_dir/spidev.dts"
}

prepare_board() {
  fetch_qemu
  device_tree
  qemu+=(-machine sifive_u -m "$memory" -serial stdio -bios default
         -kernel "$kernel_dir/Image" -dtb "$work/spidev.dtb")
}

# data.py makes each phase's inputs and what the chip and the files read
# back must hold after it.
data() { "$here/data.py" "$@"; }
# The 64 KiB boundaries at or below and at or above an address: the edges
# of the largest erase unit that holds it.
boundary_below() { echo $(($1 - $1 % 65536)); }
boundary_above() { echo $((($1 + 65535) / 65536 * 65536)); }

phase_low() {
  local in=$work/inputs exp=$work/expected
  data pattern --seed 11 --size "$CHIP_SIZE" --erased "$(boundary_below $LOW_AT):$LOW_AT" --out "$in/low-seed.bin"
  data pattern --seed 12 --size "$LOW_SIZE" --out "$in/low.bin"
  data after-range-write --chip "$in/low-seed.bin" --file "$in/low.bin" --at "$LOW_AT" --sector 65536 \
    --out "$exp/low-chip.bin"
  data cut --file "$exp/low-chip.bin" --at "$LOW_READ_AT" --len "$LOW_READ_LEN" --out "$exp/low.bin"
  reference_reads low
  cp "$in/low-seed.bin" "$work/flash.bin"
  boot low "$in/low.bin"
  check low "$exp/low-chip.bin" low.bin low.hex low.ihx
}

phase_range() {
  local in=$work/inputs exp=$work/expected
  local end=$((RANGE_AT + RANGE_SIZE))
  data pattern --seed 21 --size "$CHIP_SIZE" --erased "$(boundary_below $RANGE_AT):$RANGE_AT" \
    --erased "$end:$(boundary_above $end)" --out "$in/range-seed.bin"
  data pattern --seed 22 --size "$RANGE_SIZE" --out "$in/range.bin"
  data after-range-write --chip "$in/range-seed.bin" --file "$in/range.bin" --at "$RANGE_AT" --sector 65536 \
    --out "$exp/range-written.bin"
  data update-file --chip "$exp/range-written.bin" --at "$UPDATE_AT" --size "$UPDATE_SIZE" --split 0x1000000 \
    --seed 23 --out "$in/update.bin"
  data overlay --chip "$exp/range-written.bin" --file "$in/update.bin" --at "$UPDATE_AT" \
    --out "$exp/range-updated.bin"
  data cut --file "$exp/range-updated.bin" --at "$READ_AT" --len "$READ_LEN" --out "$exp/range.bin"
  reference_reads range
  data erase --chip "$exp/range-updated.bin" --at "$ERASE_AT" --len "$ERASE_LEN" --out "$exp/range-chip.bin"
  cp "$in/range-seed.bin" "$work/flash.bin"
  boot range "$in/range.bin" "$in/update.bin"
  check range "$exp/range-chip.bin" range.bin range.hex range.ihx
}

phase_full() {
  local in=$work/inputs exp=$work/expected
  data pattern --seed 31 --size "$CHIP_SIZE" --out "$in/full-seed.bin"
  data pattern --seed 32 --size "$CHIP_SIZE" --out "$in/full.bin"
  ln -sf ../inputs/full.bin "$exp/full.bin"
  cp "$in/full-seed.bin" "$work/flash.bin"
  boot full "$in/full.bin"
  check full "$in/full.bin" full.bin
}

phase_reset() {
  local in=$work/inputs exp=$work/expected
  data pattern --seed 41 --size "$CHIP_SIZE" --out "$in/reset-seed.bin"
  data cut --file "$in/reset-seed.bin" --at 0 --len "$RESET_READ_LEN" --out "$exp/reset.bin"
  cp "$in/reset-seed.bin" "$work/flash.bin"
  boot reset
  check reset "$in/reset-seed.bin" reset.bin
}
