# SPDX-License-Identifier: MIT
# The part of bench/run.sh for today's parts past 16 MiB, which it sources: a
# 32 MiB W25Q256JV and a 64 MiB MT25QL512 on the simulator, each at the
# fastest clock its datasheet allows, run whole (erase + write + verify, then
# a read) in both modes, --quick included: the sizes are what is measured.
#
# - Host time against flashrom's dummy programmer on the same work. flashrom
#   emulates no SPI part past 16 MiB, so its chip is VARIABLE_SIZE of the same
#   size, which it writes and reads as an opaque chip, with no SPI commands;
#   romwick moves every byte through the simulated bus. Both verify.
# - Peak memory of each romwick run against twice the chip plus 8 MB: the
#   image buffer and the simulated chip's array are both in the process.
# - Modelled time against the part's physical limit at that clock
#   (physical_limit <part> max <bytes>), with the simulator's call latency
#   (100 us a runtime call, a USB round trip) and without it (latency=0): the
#   target is the latter's, the command sequence's own time; the former is
#   shown, the interface's share of it named in bench/README.md.

readonly large_parts=(W25Q256JV MT25QL512)
# The parts' sizes, as their rows in flash/flashdev.cpp and sim/ hold them.
declare -A large_size=([W25Q256JV]=$((32 << 20)) [MT25QL512]=$((64 << 20)))
readonly large_time_target=0.3 large_modelled_target=1.1
readonly large_extra_bytes=8000000  # 8 MB beyond the image buffer and the chip
declare -A large_hz large_modelled

# The chip states a run starts from, in the same files as the 16 MiB runs'.
large_start() { cp large_start.bin chip.bin; }
large_random() { cp large_random.bin chip.bin; }
large_flashrom_start() { cp large_start.bin fchip.bin; }
large_flashrom_random() { cp large_random.bin fchip.bin; }

large_measure_part() {  # <part>
  # modelled_run drives the simulated $chip.
  local part=$1 chip=$1 bytes=${large_size[$1]} hz
  hz=$("$build/physical_limit" "$part" max "$bytes" | awk '$1 == "clock" {print $2}')
  large_hz[$part]=$hz
  random_bytes "$bytes" >large_random.bin
  random_bytes "$bytes" >large_start.bin
  local romwick_on=("$romwick" -d "sim:$part,image=$work/chip.bin,clock=$hz" -s "$hz")
  local flashrom_on=(flashrom -p "dummy:emulate=VARIABLE_SIZE,size=$bytes,image=$work/fchip.bin")
  say "$part: $((bytes >> 20)) MiB at $((hz / 1000000)) MHz"

  measure "large|$part|write" 0 large_start "${romwick_on[@]}" -E -w large_random.bin
  same chip.bin large_random.bin "$part erase+write+verify"
  if have flashrom; then
    measure "large|$part|write|flashrom" 0 large_flashrom_start "${flashrom_on[@]}" -w large_random.bin
    same fchip.bin large_random.bin "$part flashrom -w"
  fi
  large_random
  measure "large|$part|read" 0 nothing "${romwick_on[@]}" -r lout.bin
  same lout.bin large_random.bin "$part read"
  if have flashrom; then
    large_flashrom_random
    measure "large|$part|read|flashrom" 0 nothing "${flashrom_on[@]}" -r lpeer.bin
    same lpeer.bin large_random.bin "$part flashrom -r"
  fi

  local clock=",clock=$hz"
  large_modelled[$part|write]=$(modelled_run large_start 0 "$clock" -s "$hz" -E -w large_random.bin)
  same chip.bin large_random.bin "$part modelled erase+write+verify"
  large_modelled[$part|write0]=$(modelled_run large_start 0 "$clock,latency=0" -s "$hz" -E -w large_random.bin)
  large_modelled[$part|read]=$(modelled_run large_random 0 "$clock" -s "$hz" -r lout.bin)
  large_modelled[$part|read0]=$(modelled_run large_random 0 "$clock,latency=0" -s "$hz" -r lout.bin)
  same lout.bin large_random.bin "$part modelled read"
  rm -f large_random.bin large_start.bin chip.bin fchip.bin lout.bin lpeer.bin
}

large_measure() {
  # A warm-up and the median of three even in --quick: a run's first touch
  # of its two large buffers (large pages, compacted on demand) takes from
  # 0.06 s to 0.4 s on a shared machine.
  local part warmups=$((warmups > 0 ? warmups : 1)) runs=$((runs > 3 ? runs : 3))
  for part in "${large_parts[@]}"; do large_measure_part "$part"; done
}

large_time_line() {  # <part> <case> <key>
  local part=$1 key="large|$1|$3" kb=${peak_kb[large|$1|$3]} cap_kb r result=- peer=(- - -)
  cap_kb=$(((2 * ${large_size[$1]} + large_extra_bytes) / 1024))
  if ((kb > cap_kb)); then
    misses+=("$part $2: peak memory $(mb "$kb") MB > $(mb "$cap_kb") MB")
    result=MISSED
  fi
  if [[ -n ${seconds[$key|flashrom]:-} ]]; then
    r=$(ratio "${seconds[$key]}" "${seconds[$key|flashrom]}")
    peer=("$(printf %.3f "${seconds[$key|flashrom]}")" "$(mb "${peak_kb[$key|flashrom]}")" "$r")
    if within "$r" "$large_time_target"; then [[ $result == MISSED ]] || result=met; else
      result=MISSED
      misses+=("$part $2: ${r}x flashrom")
    fi
  fi
  printf '%-10s %-22s %9.3f %7s %7s  %10s %7s %6s %7s  %s\n' "$part" "$2" "${seconds[$key]}" "$(mb "$kb")" \
    "$(mb "$cap_kb")" "${peer[@]}" "<= $large_time_target" "$result"
}

large_modelled_line() {  # <part> <case> <run> <limit s>
  local m m0 r r0 result
  m=$(summary_field "${large_modelled[$1|$3]}" modelled)
  m0=$(summary_field "${large_modelled[$1|${3}0]}" modelled)
  r=$(ratio "$m" "$4")
  r0=$(ratio "$m0" "$4")
  if within "$r0" "$large_modelled_target"; then result=met; else
    result=MISSED
    misses+=("$1 modelled $2: ${r0}x its limit")
  fi
  printf '%-10s %-22s %10.3f %5s %12.3f %6s %10.3f %7s  %s\n' "$1" "$2" "$m" "$r" "$m0" "$r0" "$4" \
    "<= $large_modelled_target" "$result"
}

large_report() {
  local part limits erase program read_
  echo
  echo "today's parts past 16 MiB on the simulator, each at its fastest clock, against flashrom's dummy"
  echo "programmer (VARIABLE_SIZE: an opaque chip of the same size, written and read without SPI commands);"
  echo "MB: peak resident memory (10^6 bytes), its target twice the chip plus 8 MB"
  echo
  printf '%-10s %-22s %9s %7s %7s  %10s %7s %6s %7s  %s\n' part case "romwick s" MB "cap MB" "flashrom s" MB \
    ratio target result
  for part in "${large_parts[@]}"; do
    large_time_line "$part" "erase+write+verify" write
    large_time_line "$part" "read" read
  done
  echo
  echo "modelled time against the part's limit at that clock (its typical bulk erase and page program times,"
  echo "the command bytes with 4-byte addresses and fast reads): with the simulator's 100 us a runtime call,"
  echo "and without it (latency=0), which the target is for"
  echo
  printf '%-10s %-22s %10s %5s %12s %6s %10s %7s  %s\n' part run "modelled s" ratio "latency=0 s" ratio "limit s" \
    target result
  for part in "${large_parts[@]}"; do
    limits=$("$build/physical_limit" "$part" max "${large_size[$part]}")
    erase=$(awk '$1 == "erase" {print $2}' <<<"$limits")
    program=$(awk '$1 == "program" {print $2}' <<<"$limits")
    read_=$(awk '$1 == "read" {print $2}' <<<"$limits")
    echo "$part, $((${large_size[$part]} >> 20)) MiB at $(awk -v h="${large_hz[$part]}" 'BEGIN {print h / 1e6}') MHz:"
    large_modelled_line "$part" "erase+write+verify" write "$(awk -v a="$erase" -v b="$program" -v c="$read_" \
      'BEGIN {print a + b + c}')"
    large_modelled_line "$part" "read" read "$read_"
  done
}
