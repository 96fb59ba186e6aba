# SPDX-License-Identifier: MIT
# The CH347 part of bench/run.sh, which sources this file: whole-chip work
# through the ch347: backend and the CH347 emulator of testsupport/ (the
# program built with test hooks, its runtime core laid out in
# testrt-doubles) at the device's fastest clock, 60 MHz, as modelled time
# against the chip's own limit at that clock and against the device's own
# limit in the emulator's model; USB round trips per page; and the status
# polls with and without batches. Everything is reported; no target is
# checked.

readonly ch347_hz=60000000
# The emulator's model (testsupport/ch347_emulator.h): every USB packet
# costs the device 23 us of its own and 30 bytes of bulk protocol, every
# byte on the USB 8 / 480 Mbit/s.
readonly ch347_packet_s=0.000023
readonly ch347_usb_byte_s=$(awk 'BEGIN {printf "%.15f", 8 / 480e6}')
# The least a page program takes on the USB: the select, data and release of
# its write enable and of the page (a C1 of 13 bytes, a C4 of 4 and one of
# 263), and one status sample (C1, a C2 of 5, C1): 9 commands of 350 bytes;
# the replies of the two C4 and the C2: 3 of 13 bytes.
readonly ch347_page_packets=12 ch347_page_bytes=363
declare -A ch347_runs

# One run through the emulator; prints the summary line (the backend's
# counts, then the emulator's modelled time, round trips and chip commands).
ch347_run() {  # <setup> <more device keys> <romwick args...>
  local setup=$1 keys=$2 rc=0
  shift 2
  "$setup"
  rm -f summary.txt
  ROMWICK_TEST_RUNTIME_DIR=$build/testrt-doubles ROMWICK_TEST_CH347="chip=$chip,image=$work/chip.bin" \
    "$build/romwick_testrt" -d "ch347:,summary=$work/summary.txt$keys" -s "$ch347_hz" "$@" \
    >stdout.txt 2>stderr.txt || rc=$?
  ((rc == 0)) || { cat stdout.txt stderr.txt >&2; die "CH347 run '$*' exited with $rc"; }
  [[ ! -s stderr.txt ]] || { cat stderr.txt >&2; die "CH347 run '$*': the emulator saw a broken rule"; }
  cat summary.txt
}

ch347_measure() {
  say "CH347 emulator"
  ch347_runs[id]=$(ch347_run chip_random "" -id)
  ch347_runs[whole]=$(ch347_run chip_start "" -E -w random.bin)
  same chip.bin random.bin "CH347 erase+write+verify"
  ch347_runs[read]=$(ch347_run chip_random "" -r out.bin)
  same out.bin random.bin "CH347 read"
  ch347_runs[program]=$(ch347_run chip_erased "" -NE -w random.bin -NV)
  same chip.bin random.bin "CH347 write"
  ch347_runs[program1]=$(ch347_run chip_erased ",nobatch" -NE -w random.bin -NV)
  same chip.bin random.bin "CH347 write without batches"
}

# <chip limit s> <USB packets> <USB bytes>: the limit with what the device
# and the USB add in the model, no round trip waited for.
ch347_device_limit() {
  awk -v s="$1" -v p="$2" -v b="$3" -v ps="$ch347_packet_s" -v bs="$ch347_usb_byte_s" \
    'BEGIN {printf "%.6f", s + p * (ps + 30 * bs) + b * bs}'
}

ch347_line() {  # <label> <run> <chip limit s> <device limit s>
  local line=${ch347_runs[$2]} id=${ch347_runs[id]}
  local m trips polls
  m=$(summary_field "$line" modelled)
  trips=$(($(summary_field "$line" round-trips) - $(summary_field "$id" round-trips)))
  polls=$(summary_field "$line" status-reads)
  printf '%-34s %11.3f %11.3f %6s %12.3f %6s %12s %12s\n' "$1" "$m" "$3" "$(ratio "$m" "$3")" "$4" \
    "$(ratio "$m" "$4")" "$trips" "$polls"
}

ch347_report() {
  local limits erase program read_ hz
  # The clock granted: the program asks for the chip's limit at most.
  hz=$(summary_field "${ch347_runs[read]}" clock)
  limits=$("$build/physical_limit" "$chip" "$hz" "$size" "$ch347_hz")
  erase=$(awk '$1 == "erase" {print $2}' <<<"$limits")
  program=$(awk '$1 == "program" {print $2}' <<<"$limits")
  read_=$(awk '$1 == "read" {print $2}' <<<"$limits")
  echo
  echo "CH347 emulator, $((size >> 20)) MiB on the simulated $chip at $(awk -v h="$hz" 'BEGIN {print h / 1e6}') MHz" \
    "(-s $ch347_hz, capped by the chip), 125 us round trips"
  echo "(chip limit: the datasheet's busy times and the command bytes at that clock; device limit: the same with"
  echo "the USB packets the work needs at least, each 23 us of the device's own, and no round trip waited for)"
  echo
  printf '%-34s %11s %11s %6s %12s %6s %12s %12s\n' run "modelled s" "chip limit" ratio "device limit" ratio \
    "round trips" "status reads"
  local read_packets read_dev program_dev whole_chip whole_dev
  read_packets=$(((size + 506) / 507 + 1))
  read_dev=$(ch347_device_limit "$read_" "$read_packets" $((size + 3 * read_packets + 7)))
  program_dev=$(ch347_device_limit "$program" $((pages * ch347_page_packets)) $((pages * ch347_page_bytes)))
  whole_chip=$(awk -v a="$erase" -v b="$program" -v c="$read_" 'BEGIN {print a + b + c}')
  whole_dev=$(awk -v a="$erase" -v b="$program_dev" -v c="$read_dev" 'BEGIN {print a + b + c}')
  ch347_line "erase + write + verify (-E -w)" whole "$whole_chip" "$whole_dev"
  ch347_line "  program alone (-NE -w -NV)" program "$program" "$program_dev"
  ch347_line "  the same, nobatch" program1 "$program" "$program_dev"
  ch347_line "read (-r)" read "$read_" "$read_dev"
  awk -v a="$(summary_field "${ch347_runs[program]}" round-trips)" \
    -v b="$(summary_field "${ch347_runs[program1]}" round-trips)" \
    -v id="$(summary_field "${ch347_runs[id]}" round-trips)" -v pages="$pages" \
    'BEGIN {printf "USB round trips a page programmed: %.3f (nobatch: %.3f)\n", (a - id) / pages, (b - id) / pages}'
  awk -v m="$(summary_field "${ch347_runs[read]}" modelled)" -v size="$size" \
    'BEGIN {printf "read rate: %.0f KiB/s (ch347-nor-prog measured 4,950 KB/s on a CH347 at 60 MHz)\n", size / 1024 / m}'
}
