# SPDX-License-Identifier: MIT
# The CH341A part of bench/run.sh, which sources this file: whole-chip work
# through the ch341a: backend and the CH341A emulator of testsupport/ (the
# program built with test hooks, its runtime core laid out in
# testrt-doubles), as modelled time against the chip's own limit at the
# CH341A's fixed clock and against the device's own USB limit; USB round
# trips per page; and the status polls with and without batches.
# Everything is reported; no target is checked.

readonly ch341a_hz=1500000
# At best the device adds this to every byte the bus clocks: 31 bytes go in
# a 32-byte OUT packet and come back in a 31-byte IN packet, each with 13
# bytes of bulk protocol, at 12 Mbit/s; and the device takes 4,893 ns a
# byte of its own (the emulator's figure, from ch341prog's measured read).
readonly ch341a_usb_s_per_byte=$(awk 'BEGIN {printf "%.12f", (32 + 13 + 31 + 13) / 31 * 8 / 12e6 + 4893e-9}')
declare -A ch341a_runs

# One run through the emulator; prints the summary line (the backend's
# counts, then the emulator's modelled time, round trips and chip commands).
ch341a_run() {  # <setup> <more device keys> <romwick args...>
  local setup=$1 keys=$2 rc=0
  shift 2
  "$setup"
  rm -f summary.txt
  ROMWICK_TEST_RUNTIME_DIR=$build/testrt-doubles ROMWICK_TEST_CH341A="chip=$chip,image=$work/chip.bin" \
    "$build/romwick_testrt" -d "ch341a:,summary=$work/summary.txt$keys" "$@" >stdout.txt 2>stderr.txt || rc=$?
  ((rc == 0)) || { cat stdout.txt stderr.txt >&2; die "CH341A run '$*' exited with $rc"; }
  cat summary.txt
}

ch341a_measure() {
  say "CH341A emulator"
  # A program that verifies its writes is told not to: the read is measured
  # on its own.
  local no_verify=()
  if "$romwick" -? 2>/dev/null | grep -q -- '-NV'; then no_verify=(-NV); fi
  ch341a_runs[id]=$(ch341a_run chip_random "" -id)
  ch341a_runs[whole]=$(ch341a_run chip_start "" -E -w random.bin "${no_verify[@]}")
  same chip.bin random.bin "CH341A erase+write"
  ch341a_runs[read]=$(ch341a_run chip_random "" -r out.bin)
  same out.bin random.bin "CH341A read"
  ch341a_runs[erase]=$(ch341a_run chip_start "" -E)
  ch341a_runs[erase1]=$(ch341a_run chip_start ",nobatch" -E)
  ch341a_runs[program]=$(ch341a_run chip_erased "" -NE -w random.bin "${no_verify[@]}")
  same chip.bin random.bin "CH341A write"
  ch341a_runs[program1]=$(ch341a_run chip_erased ",nobatch" -NE -w random.bin "${no_verify[@]}")
  same chip.bin random.bin "CH341A write without batches"
}

# <chip limit s> <bus bytes>: the limit with the bytes' USB packets added.
ch341a_usb_limit() { awk -v s="$1" -v b="$2" -v u="$ch341a_usb_s_per_byte" 'BEGIN {printf "%.6f", s + b * u}'; }

ch341a_line() {  # <label> <run> <chip limit s> <USB limit s>
  local line=${ch341a_runs[$2]} id=${ch341a_runs[id]}
  local m trips polls
  m=$(summary_field "$line" modelled)
  trips=$(($(summary_field "$line" round-trips) - $(summary_field "$id" round-trips)))
  polls=$(summary_field "$line" status-reads)
  printf '%-34s %11.3f %11.3f %6s %11.3f %6s %12s %12s\n' "$1" "$m" "$3" "$(ratio "$m" "$3")" "$4" \
    "$(ratio "$m" "$4")" "$trips" "$polls"
}

ch341a_report() {
  local limits erase program read_
  limits=$("$build/physical_limit" "$chip" "$ch341a_hz" "$size")
  erase=$(awk '$1 == "erase" {print $2}' <<<"$limits")
  program=$(awk '$1 == "program" {print $2}' <<<"$limits")
  read_=$(awk '$1 == "read" {print $2}' <<<"$limits")
  echo
  echo "CH341A emulator, $((size >> 20)) MiB on the simulated $chip at the CH341A's fixed 1.5 MHz, 1 ms round trips"
  echo "(chip limit: the datasheet's busy times and the command bytes at 1.5 MHz; USB limit: the same with every"
  echo "byte carried in full-speed USB packets of 31 bytes each way and the device's own 4.9 us a byte, as"
  echo "ch341prog's measured read gives it, and no round trip waited for)"
  echo
  printf '%-34s %11s %11s %6s %11s %6s %12s %12s\n' run "modelled s" "chip limit" ratio "USB limit" ratio \
    "round trips" "status reads"
  # The bytes physical_limit counts on the bus: 06, C7 and a status read;
  # 06, the page program command and a status read a page, and the data;
  # the read command and the data.
  local whole_chip whole_usb erase_usb program_usb read_usb
  erase_usb=$(ch341a_usb_limit "$erase" 4)
  program_usb=$(ch341a_usb_limit "$program" $((pages * 7 + size)))
  read_usb=$(ch341a_usb_limit "$read_" $((size + 4)))
  whole_chip=$(awk -v a="$erase" -v b="$program" 'BEGIN {print a + b}')
  whole_usb=$(awk -v a="$erase_usb" -v b="$program_usb" 'BEGIN {print a + b}')
  ch341a_line "erase + write (-E -w)" whole "$whole_chip" "$whole_usb"
  ch341a_line "  bulk erase alone (-E)" erase "$erase" "$erase_usb"
  ch341a_line "  the same, nobatch" erase1 "$erase" "$erase_usb"
  ch341a_line "  program alone (-NE -w)" program "$program" "$program_usb"
  ch341a_line "  the same, nobatch" program1 "$program" "$program_usb"
  ch341a_line "read (-r)" read "$read_" "$read_usb"
  awk -v a="$(summary_field "${ch341a_runs[program]}" round-trips)" \
    -v b="$(summary_field "${ch341a_runs[program1]}" round-trips)" \
    -v id="$(summary_field "${ch341a_runs[id]}" round-trips)" -v pages="$pages" \
    'BEGIN {printf "USB round trips a page programmed: %.3f (nobatch: %.3f)\n", (a - id) / pages, (b - id) / pages}'
}
