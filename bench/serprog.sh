# SPDX-License-Identifier: MIT
# The serprog part of bench/run.sh, which sources this file: a whole-chip
# erase + write + verify and a whole-chip read through the serprog: backend
# and the serprog emulator of testsupport/ (pico-serprog's model on a real
# pseudo-terminal, run as a program of its own; the program built with test
# hooks, its runtime core laid out in testrt-doubles, hands its pauses to the
# emulator's clock through its side channel and leaves the time to its
# model), as modelled time against the
# chip's own limit at pico-serprog's top clock and against the device's own
# limit. Everything is reported; no target is checked.

readonly serprog_hz=31250000  # pico-serprog's fastest: 125 MHz / 4 cycles a bit
# The emulator's model (testsupport/serprog_emulator.cpp): every byte each
# way 1,294 ns on the USB CDC link (pico-serprog pull request #8: 16 MiB
# read in 26 s), 0.3 ms for each answer the host waits for (issue #10).
readonly serprog_byte_s=1.294e-6
readonly serprog_trip_s=300e-6
declare -A serprog_runs

# One run through the emulator; prints the backend's summary line, then the
# emulator's report (modelled time, round trips, commands, chip commands).
serprog_run() {  # <setup> <romwick args...>
  local setup=$1 rc=0 pid name channel i
  shift
  "$setup"
  rm -f summary.txt serprog-report.txt serprog-name.txt
  "$build/serprog_emulator" "chip=$chip,image=$work/chip.bin,report=$work/serprog-report.txt" >serprog-name.txt &
  pid=$!
  for ((i = 0; i < 200; i++)); do
    (($(wc -l <serprog-name.txt) == 2)) && break
    sleep 0.05
  done
  name=$(sed -n 1p serprog-name.txt) channel=$(sed -n 2p serprog-name.txt)
  [[ -n $channel ]] || { kill "$pid"; die "the serprog emulator gave no port"; }
  ROMWICK_TEST_RUNTIME_DIR=$build/testrt-doubles ROMWICK_TEST_SERPROG="channel=$channel" \
    "$build/romwick_testrt" -d "serprog:$name,summary=$work/summary.txt" "$@" >stdout.txt 2>stderr.txt || rc=$?
  # The emulator saves the chip and writes its report when it is told to stop.
  kill -TERM "$pid"
  wait "$pid" || die "the serprog emulator failed"
  ((rc == 0)) || { cat stdout.txt stderr.txt >&2; die "serprog run '$*' exited with $rc"; }
  echo "$(cat summary.txt) $(cat serprog-report.txt)"
}

serprog_measure() {
  say "serprog emulator"
  serprog_runs[whole]=$(serprog_run chip_start -E -w random.bin)
  same chip.bin random.bin "serprog erase+write+verify"
  serprog_runs[read]=$(serprog_run chip_random -r out.bin)
  same out.bin random.bin "serprog read"
}

# <chip limit s> <bytes over USB> <round trips>: the device's own limit.
serprog_device_limit() {
  awk -v s="$1" -v b="$2" -v t="$3" -v u="$serprog_byte_s" -v r="$serprog_trip_s" 'BEGIN {printf "%.6f", s + b * u + t * r}'
}

serprog_line() {  # <label> <run> <chip limit s> <device limit s>
  local line=${serprog_runs[$2]} m
  m=$(summary_field "$line" modelled)
  printf '%-30s %11.3f %11.3f %6s %12.3f %6s %12s %10s\n' "$1" "$m" "$3" "$(ratio "$m" "$3")" "$4" \
    "$(ratio "$m" "$4")" "$(summary_field "$line" round-trips)" "$(summary_field "$line" spi-ops)"
}

# physical_limit counts the bus at the clock the simulator grants (60 MHz
# divided by a whole number: 30 MHz for 31.25); <limit s> <bus bytes> at
# pico-serprog's own clock instead.
serprog_at_top_clock() {
  awk -v s="$1" -v b="$2" -v granted="$serprog_granted" -v hz="$serprog_hz" \
    'BEGIN {printf "%.6f", s - b * 8 / granted + b * 8 / hz}'
}

serprog_report() {
  local limits erase program read_ reads whole_chip whole_device read_device serprog_granted
  limits=$("$build/physical_limit" "$chip" "$serprog_hz" "$size")
  serprog_granted=$(awk '$1 == "clock" {print $2}' <<<"$limits")
  # The bytes physical_limit counts on the bus: 06, C7 and a status read;
  # 06, the page program command and a status read a page, and the data;
  # the read command and the data.
  erase=$(serprog_at_top_clock "$(awk '$1 == "erase" {print $2}' <<<"$limits")" 4)
  program=$(serprog_at_top_clock "$(awk '$1 == "program" {print $2}' <<<"$limits")" $((pages * 7 + size)))
  read_=$(serprog_at_top_clock "$(awk '$1 == "read" {print $2}' <<<"$limits")" $((size + 4)))
  reads=$((size / 65536))  # the program's read commands of 64 KiB
  echo
  echo "serprog emulator (pico-serprog on a Raspberry Pi Pico, USB CDC), $((size >> 20)) MiB on the simulated $chip"
  echo "at pico-serprog's top clock of 31.25 MHz (chip limit: the datasheet's busy times and the command bytes"
  echo "at that clock; device limit: the same with every byte through the USB CDC link at 1,294 ns and one"
  echo "0.3 ms round trip for each page programmed and each read command, the least a host must wait)"
  echo
  printf '%-30s %11s %11s %6s %12s %6s %12s %10s\n' run "modelled s" "chip limit" ratio "device limit" ratio \
    "round trips" "SPI ops"
  # Bytes over USB: a page is a write enable, the page program and a status
  # read, each an S_CMD_O_SPIOP (7 bytes of header), and their answers; a
  # read command is 11 bytes out and its data back.
  local page_bytes=$((8 + 7 + 260 + 8 + 1 + 1 + 2))
  local read_bytes=$((reads * (11 + 1) + size))
  whole_chip=$(awk -v a="$erase" -v b="$program" -v c="$read_" 'BEGIN {print a + b + c}')
  whole_device=$(serprog_device_limit "$whole_chip" $((pages * page_bytes + read_bytes)) $((pages + reads)))
  read_device=$(serprog_device_limit "$read_" "$read_bytes" "$reads")
  serprog_line "erase + write + verify" whole "$whole_chip" "$whole_device"
  serprog_line "read (-r)" read "$read_" "$read_device"
}
