#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# romwick against the tools a user would pick instead, on the same work and in
# the same run: whole-chip erase+write and read on a simulated chip against
# flashrom's dummy programmer, the Intel HEX and raw hex text of a whole chip
# against objcopy, srec_cat, xxd and hexdump. Then the simulator's modelled
# time against the chip's physical limit, today's parts past 16 MiB (32 and
# 64 MiB, in both modes) against flashrom and their limits, and the
# micro-benchmarks.
#
#   bench/run.sh [--quick] [--runs N] [--build DIR]
#
# Full mode: 16 MiB inputs on the simulated N25Q128, one warm-up and N timed
# runs (default 5) of every command; the table shows medians. --quick: 1 MiB
# inputs on the simulated M25P80, one run each, so that CI keeps the
# benchmarks working. The build folder (default build-bench) is configured
# for Release unless it is configured already. A missed target is reported,
# never an error: the script fails only when a command fails or leaves a
# wrong result.
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."

quick=0
runs=5
build=build-bench
while (($#)); do
  case $1 in
    --quick) quick=1 ;;
    --runs) runs=$2; shift ;;
    --build) build=$2; shift ;;
    *) echo "usage: bench/run.sh [--quick] [--runs N] [--build DIR]" >&2; exit 2 ;;
  esac
  shift
done

# flashrom's dummy programmer emulates a 16 MiB part, or a chip of any size
# that it does not drive through SPI commands.
if ((quick)); then
  size=$((1 << 20)) runs=1 warmups=0 chip=M25P80
  flashrom_programmer="dummy:emulate=VARIABLE_SIZE,size=$size" flashrom_chip=()
else
  size=$((16 << 20)) warmups=1 chip=N25Q128
  flashrom_programmer="dummy:emulate=W25Q128FV" flashrom_chip=(-c W25Q128.V)
fi
# Targets: time ratios to the peer, peak memory of every romwick run, and the
# modelled time against the physical limit.
readonly max_rss_kb=39062  # 40 MB
readonly max_modelled_ratio=1.3
requested_hz=50000000  # romwick's clock when "-s" is not given

say() { printf 'bench: %s\n' "$*" >&2; }
die() { say "$*"; exit 1; }
# The CH341A emulator's runs and report.
. bench/ch341a.sh
# The CH347 emulator's runs and report.
. bench/ch347.sh
# The serprog emulator's.
. bench/serprog.sh
# Today's parts past 16 MiB.
. bench/large_parts.sh

# --- Tools ------------------------------------------------------------------

# The peers and helpers, each with the Debian package that brings it.
declare -A package_of=([flashrom]=flashrom [srec_cat]=srecord [objcopy]=binutils [xxd]=xxd
                       [hexdump]=bsdextrautils [/usr/bin/time]=time)

have() { command -v "$1" >/dev/null 2>&1; }

apt_install() {
  local sudo=()
  if ((EUID != 0)); then
    sudo -n true 2>/dev/null || return 1
    sudo=(sudo -n)
  fi
  have apt-get || return 1
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@" >/dev/null 2>&1 ||
    { "${sudo[@]}" apt-get update -q >/dev/null 2>&1 &&
      "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@" >/dev/null 2>&1; }
}

install_missing_tools() {
  local missing=() tool
  for tool in "${!package_of[@]}"; do have "$tool" || missing+=("${package_of[$tool]}"); done
  ((${#missing[@]})) || return 0
  say "installing ${missing[*]} with apt-get"
  apt_install "${missing[@]}" ||
    say "cannot install ${missing[*]} (apt-get failed, or not root); the comparisons that need them are skipped"
}

install_missing_tools
timer=()
if have /usr/bin/time; then
  timer=(/usr/bin/time -v -o)
else
  say "no /usr/bin/time: peak memory is not measured"
fi

# --- Build ------------------------------------------------------------------

# A folder that is not configured yet is configured for Release; one that is
# (CI passes the test build) is used as it is.
if [[ ! -f $build/CMakeCache.txt ]]; then
  say "configuring a Release build in $build"
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
build_type=$(cached CMAKE_BUILD_TYPE)
targets=(romwick physical_limit)
# The micro-benchmarks exist where CMake found Google Benchmark and the tests.
benchmark_dir=$(cached benchmark_DIR)
micro=0
if [[ $(cached ROMWICK_TESTS) == ON && -n $benchmark_dir && $benchmark_dir != *NOTFOUND ]]; then
  micro=1
  targets+=(micro_bench)
else
  say "no Google Benchmark library (Debian: libbenchmark-dev): the micro-benchmarks are skipped"
fi
# The spidev ioctl counts need the program built with test hooks and the
# runtime core that puts the fake spidev kernel behind spidev: names.
spidev=0
if [[ $(cached ROMWICK_TESTS) == ON && $(uname -s) == Linux ]]; then
  spidev=1
  targets+=(romwick_testrt rw_doubles_layout serprog_emulator)
else
  say "no test build (ROMWICK_TESTS) on Linux: the spidev ioctl counts are skipped"
fi
say "building ${targets[*]} ($build_type) in $build"
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null
build=$(cd "$build" && pwd)
romwick=$build/romwick

# --- Inputs -----------------------------------------------------------------

work=$(mktemp -d "${TMPDIR:-/tmp}/romwick-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

random_bytes() { head -c "$1" /dev/urandom; }
erased_bytes() { head -c "$1" /dev/zero | tr '\0' '\377'; }

random_bytes "$size" >random.bin   # the image written
random_bytes "$size" >start.bin    # what the chip holds before a write
erased_bytes "$size" >erased.bin
# Firmware-like: erased, but for code at the start and a few data blocks.
cp erased.bin firmware.bin
blocks=$((size / 65536))
for block in 0 1 2 3 $((blocks / 4)) $((blocks / 2 + 1)) $((blocks - 1)); do
  random_bytes 65536 | dd of=firmware.bin bs=65536 seek="$block" conv=notrunc status=none
done
say "inputs: $((size >> 20)) MiB random and firmware-like images in $work"

# --- Measuring --------------------------------------------------------------

declare -A seconds peak_kb
case_order=()  # the romwick cases, in the order they ran

# Chip states a run starts from (not timed).
chip_start() { cp start.bin chip.bin; }
chip_erased() { cp erased.bin chip.bin; }
chip_random() { cp random.bin chip.bin; }
flashrom_start() { cp start.bin fchip.bin; }
flashrom_random() { cp random.bin fchip.bin; }
nothing() { :; }

median() { sort -g | awk '{v[NR] = $1} END {print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# measure <key> <expected exit code> <setup> <command...>: warm-ups, then the
# timed runs; records the median wall time and the highest peak memory.
measure() {
  local key=$1 expected=$2 setup=$3
  shift 3
  local times=() peak=0 i rc t0 t1 kb
  for ((i = -warmups; i < runs; i++)); do
    "$setup"
    rc=0
    t0=$EPOCHREALTIME
    if ((${#timer[@]})); then
      "${timer[@]}" rusage.txt "$@" >stdout.txt 2>stderr.txt || rc=$?
    else
      "$@" >stdout.txt 2>stderr.txt || rc=$?
    fi
    t1=$EPOCHREALTIME
    if ((rc != expected)); then
      cat stdout.txt stderr.txt >&2
      die "$key: '$*' exited with $rc (expected $expected)"
    fi
    ((i >= 0)) || continue
    times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.6f", b - a}')")
    if ((${#timer[@]})); then
      kb=$(awk '/Maximum resident set size/ {print $NF}' rusage.txt)
      ((kb > peak)) && peak=$kb
    fi
  done
  seconds[$key]=$(printf '%s\n' "${times[@]}" | median)
  peak_kb[$key]=$(( ${#timer[@]} ? peak : -1 ))
}

# same <file> <expected file> <what>: a wrong result fails the benchmark.
same() { cmp -s "$1" "$2" || die "$3: $1 differs from $2"; }

# The cases: each romwick command, then its peers on the same work. A result
# file of "-" is checked elsewhere, or not at all (a peer's own text layout).
declare -A peers_of target_of

romwick_on_chip=("$romwick" -d "sim:$chip,image=$work/chip.bin")
flashrom_on_chip=(flashrom -p "$flashrom_programmer,image=$work/fchip.bin" "${flashrom_chip[@]}")

# romwick_case <case> <target ratio> <exit code> <setup> <result> <expected> <romwick arguments...>
romwick_case() {
  local name=$1 result=$5 expected=$6
  case_order+=("$name")
  target_of[$name]=$2
  say "$name"
  measure "$name" "$3" "$4" "${romwick_on_chip[@]}" "${@:7}"
  [[ $result == - ]] || same "$result" "$expected" "$name"
}

# peer_case <case> <peer> <setup> <result> <expected> <command...>; skipped
# when the command is not installed.
peer_case() {
  local name=$1 peer=$2 result=$4 expected=$5
  have "$6" || return 0
  measure "$name|$peer" 0 "$3" "${@:6}"
  [[ $result == - ]] || same "$result" "$expected" "$name ($peer)"
  peers_of[$name]+="$peer;"
}

# check_text <case> <command...>: a peer reads romwick's text back into check.bin.
check_text() {
  have "$2" || return 0
  "${@:2}"
  same check.bin random.bin "$1"
}

for image in random firmware; do
  name="erase+write $image"
  romwick_case "$name" 0.3 0 chip_start chip.bin $image.bin -E -w $image.bin
  # Both read the image back after writing it.
  peer_case "$name" "flashrom -w" flashrom_start fchip.bin $image.bin "${flashrom_on_chip[@]}" -w $image.bin
done

chip_random
flashrom_random
romwick_case read 0.5 0 nothing out.bin random.bin -r out.bin
peer_case read "flashrom -r" nothing peer.bin random.bin "${flashrom_on_chip[@]}" -r peer.bin

romwick_case "Intel HEX save" 1.5 0 nothing - - -r out.hex -fi
check_text "Intel HEX save" objcopy -I ihex -O binary out.hex check.bin
peer_case "Intel HEX save" "objcopy -O ihex" nothing - - objcopy -I binary -O ihex random.bin peer.hex
peer_case "Intel HEX save" "srec_cat -intel" nothing - - srec_cat random.bin -binary -o peer.hex -intel
# The loads take the text the saves wrote, onto an erased chip.
romwick_case "Intel HEX load" 2 0 chip_erased chip.bin random.bin -NE -NV -w out.hex -fi
peer_case "Intel HEX load" "objcopy -I ihex" nothing peer.bin random.bin objcopy -I ihex -O binary out.hex peer.bin

romwick_case "raw hex save" 2 0 nothing - - -r out.txt -fh
check_text "raw hex save" xxd -r -p out.txt check.bin
peer_case "raw hex save" "xxd -p" nothing - - xxd -p random.bin peer.txt
# romwick's layout, 32 upper-case pairs a line, written to stdout.txt.
peer_case "raw hex save" hexdump nothing - - hexdump -v -e '32/1 "%02X "' -e '"\n"' random.bin
romwick_case "raw hex load" 2 0 chip_erased chip.bin random.bin -NE -NV -w out.txt -fh
peer_case "raw hex load" "xxd -r -p" nothing peer.bin random.bin xxd -r -p out.txt peer.bin

# --- Modelled time ----------------------------------------------------------

# One run with the simulator's summary line; prints the line.
modelled_run() {  # <setup> <expected exit code> <more device keys> <romwick args...>
  local setup=$1 expected=$2 keys=$3 rc=0
  shift 3
  "$setup"
  rm -f summary.txt
  "$romwick" -d "sim:$chip,image=$work/chip.bin,summary=$work/summary.txt$keys" "$@" >stdout.txt 2>stderr.txt ||
    rc=$?
  ((rc == expected)) || { cat stdout.txt stderr.txt >&2; die "modelled run '$*' exited with $rc"; }
  cat summary.txt
}
# summary_field <line> <name>: a number from the summary line ("modelled", "read status", ...).
summary_field() { sed -n "s/.*[ :,]$2=\([0-9.]*\).*/\1/p" <<<"$1"; }
limit_of() { awk -v k="$1" '$1 == k {print $2}' <<<"$limits"; }

say "modelled time"
limits=$("$build/physical_limit" "$chip" "$requested_hz" "$size")
# Against the chip's limits for erasing and programming: without the verify.
whole=$(modelled_run chip_start 0 "" -E -w random.bin -NV)
erase=$(modelled_run chip_start 0 "" -E)
program=$(modelled_run chip_erased 0 "" -NE -w random.bin -NV)
# Without the interface's latency per runtime call (a USB round trip), what
# is left of the difference is the command sequence's own.
program_at_once=$(modelled_run chip_erased 0 ",latency=0" -NE -w random.bin -NV)
read_=$(modelled_run chip_random 0 "" -r out.bin)
# What the verify adds to a write, and -u on a chip that holds the image.
whole_verified=$(modelled_run chip_start 0 "" -E -w random.bin)
update_same=$(modelled_run chip_random 0 "" -u -w random.bin)

# --- Today's parts past 16 MiB ----------------------------------------------

large_measure

# --- spidev ioctls ----------------------------------------------------------

# One run through the fake spidev kernel at buffer size <bufsiz>; prints the
# fake's report line (ioctls, messages, the chip's commands by kind).
spidev_run() {  # <setup> <expected exit code> <bufsiz> <romwick args...>
  local setup=$1 expected=$2 bufsiz=$3 rc=0
  shift 3
  "$setup"
  rm -f report.txt
  ROMWICK_TEST_RUNTIME_DIR=$build/testrt-doubles \
    ROMWICK_TEST_FAKE_SPIDEV="chip=$chip,image=$work/chip.bin,bufsiz=$bufsiz,report=$work/report.txt" \
    "$build/romwick_testrt" -d spidev:/dev/spidev0.0 "$@" >stdout.txt 2>stderr.txt || rc=$?
  ((rc == expected)) || { cat stdout.txt stderr.txt >&2; die "spidev run '$*' exited with $rc"; }
  cat report.txt
}
spidev_buffer_sizes=(4096 65536)
declare -A spidev_read spidev_write spidev_program spidev_id
if ((spidev)); then
  say "spidev ioctls"
  for bufsiz in "${spidev_buffer_sizes[@]}"; do
    spidev_id[$bufsiz]=$(spidev_run chip_random 0 "$bufsiz" -id)
    spidev_read[$bufsiz]=$(spidev_run chip_random 0 "$bufsiz" -r out.bin)
    same out.bin random.bin "spidev read at bufsiz $bufsiz"
    spidev_write[$bufsiz]=$(spidev_run chip_start 0 "$bufsiz" -E -w random.bin)
    same chip.bin random.bin "spidev erase+write at bufsiz $bufsiz"
    spidev_program[$bufsiz]=$(spidev_run chip_erased 0 "$bufsiz" -NE -w random.bin -NV)
    same chip.bin random.bin "spidev write at bufsiz $bufsiz"
  done
  # The same test build carries the CH341A, CH347 and serprog emulators.
  ch341a_measure
  ch347_measure
  serprog_measure
fi

# --- FTDI MPSSE through its emulator ---------------------------------------

# One run through the MPSSE emulator (an FT232H, 125 us round trips) with
# the ftdi: device keys <keys>; prints the emulator's report line (USB
# writes, modelled time, the chip's commands by kind).
ftdi_run() {  # <setup> <expected exit code> <keys> <romwick args...>
  local setup=$1 expected=$2 keys=$3 rc=0
  shift 3
  "$setup"
  rm -f report.txt
  ROMWICK_TEST_RUNTIME_DIR=$build/testrt-doubles \
    ROMWICK_TEST_FTDI="chip=$chip,image=$work/chip.bin,report=$work/report.txt" \
    "$build/romwick_testrt" -d "ftdi:$keys" "$@" >stdout.txt 2>stderr.txt || rc=$?
  ((rc == expected)) || { cat stdout.txt stderr.txt >&2; die "ftdi run '$*' exited with $rc"; }
  cat report.txt
}
declare -A ftdi_write ftdi_program ftdi_id
# single: one status read a round trip (polls=1), as without the batching.
ftdi_polls=(single batched)
ftdi_keys() { [[ $1 == single ]] && echo polls=1 || true; }
if ((spidev)); then
  say "ftdi through the MPSSE emulator"
  for polls in "${ftdi_polls[@]}"; do
    keys=$(ftdi_keys "$polls")
    ftdi_id[$polls]=$(ftdi_run chip_random 0 "$keys" -id)
    ftdi_write[$polls]=$(ftdi_run chip_start 0 "$keys" -E -w random.bin -NV)
    same chip.bin random.bin "ftdi erase+write ($polls)"
    ftdi_program[$polls]=$(ftdi_run chip_erased 0 "$keys" -NE -w random.bin -NV)
    same chip.bin random.bin "ftdi write ($polls)"
  done
  ftdi_read=$(ftdi_run chip_random 0 "" -r out.bin)
  same out.bin random.bin "ftdi read"
fi

# --- Report -----------------------------------------------------------------

misses=()
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
within() { awk -v r="$1" -v t="$2" 'BEGIN {exit !(r <= t)}'; }
mb() { awk -v kb="$1" 'BEGIN {if (kb < 0) print "n/a"; else printf "%.1f", kb * 1024 / 1e6}'; }

echo
echo "romwick ($build_type build), $((size >> 20)) MiB on the simulated $chip, $( ((quick)) && echo "one run each" ||
  echo "median of $runs runs after $warmups warm-up") ($(nproc) CPUs, load $(cut -d' ' -f1 /proc/loadavg))"
echo
# The first peer of a case is the one its target compares with.
row() { printf '%-22s %9s %6s   %-16s %7s %6s %6s %7s  %s\n' "$@" | sed 's/ *$//'; }
row case "romwick s" MB peer "peer s" MB ratio target result
for name in "${case_order[@]}"; do
  kb=${peak_kb[$name]}
  if ((kb > max_rss_kb)); then misses+=("$name: peak memory $(mb "$kb") MB > 40 MB"); fi
  own=("$name" "$(printf %.3f "${seconds[$name]}")" "$(mb "$kb")")
  peers=${peers_of[$name]:-}
  if [[ -z $peers ]]; then
    row "${own[@]}" "(no peer installed)"
    continue
  fi
  IFS=';' read -ra list <<<"$peers"
  for peer in "${list[@]}"; do
    key="$name|$peer"
    r=$(ratio "${seconds[$name]}" "${seconds[$key]}")
    peer_cells=("$peer" "$(printf %.3f "${seconds[$key]}")" "$(mb "${peak_kb[$key]}")" "$r")
    if [[ $peer == "${list[0]}" ]]; then
      if within "$r" "${target_of[$name]}"; then result=met; else result=MISSED; misses+=("$name: ${r}x $peer"); fi
      row "${own[@]}" "${peer_cells[@]}" "<= ${target_of[$name]}" "$result"
    else
      row "" "" "" "${peer_cells[@]}"
    fi
  done
done
echo "(MB: peak resident memory, 10^6 bytes; every romwick run's target is 40 MB)"

echo
pages=$((size / 256))  # both chips program 256-byte pages
hz=$(limit_of clock)
echo "modelled time of the simulated $chip at $((${hz%.*} / 1000000)) MHz against its physical limit"
echo "(datasheet typical program and erase times plus the command bytes at that clock)"
echo
printf '%-28s %12s %12s %7s %8s  %s\n' run "modelled s" "limit s" ratio target result
modelled_line() {  # <label> <summary> <limit> [target]
  local m r
  m=$(summary_field "$2" modelled)
  r=$(ratio "$m" "$3")
  if [[ -n ${4:-} ]]; then
    if within "$r" "$4"; then result=met; else result=MISSED; misses+=("modelled $1: ${r}x"); fi
    printf '%-28s %12.3f %12.3f %7s %8s  %s\n' "$1" "$m" "$3" "$r" "<= $4" "$result"
  else
    printf '%-28s %12.3f %12.3f %7s\n' "$1" "$m" "$3" "$r"
  fi
}
modelled_line "erase + write (-E -w)" "$whole" \
  "$(awk -v a="$(limit_of erase)" -v b="$(limit_of program)" 'BEGIN {print a + b}')" "$max_modelled_ratio"
modelled_line "  bulk erase alone (-E)" "$erase" "$(limit_of erase)"
modelled_line "  program alone (-NE -w)" "$program" "$(limit_of program)"
modelled_line "  the same, latency=0" "$program_at_once" "$(limit_of program)"
modelled_line "read (-r)" "$read_" "$(limit_of read)" "$max_modelled_ratio"
# Against the modelled read of the whole chip.
read_s=$(summary_field "$read_" modelled)
verify_s=$(awk -v a="$(summary_field "$whole_verified" modelled)" -v b="$(summary_field "$whole" modelled)" \
  'BEGIN {print a - b}')
echo
printf '%-28s %12s %12s %7s %8s  %s\n' run "modelled s" "read s" ratio target result
against_read() {  # <label> <modelled s> <target>
  local r
  r=$(ratio "$2" "$read_s")
  if within "$r" "$3"; then result=met; else result=MISSED; misses+=("modelled $1: ${r}x a read"); fi
  printf '%-28s %12.3f %12.3f %7s %8s  %s\n' "$1" "$2" "$read_s" "$r" "<= $3" "$result"
}
against_read "verify added to -E -w" "$verify_s" 1.05
against_read "-u, the chip holds the image" "$(summary_field "$update_same" modelled)" 1.1
awk -v calls="$(summary_field "$program" bus-calls)" -v polls="$(summary_field "$program" "read status")" \
  -v pages="$pages" -v m="$(summary_field "$program" modelled)" -v l="$(limit_of program)" \
  'BEGIN {printf "program: %.2f runtime calls a page (write enable, page program, %.2f status reads), %.0f us a page\n" \
                 "against %.0f us: the latency of the two calls before each page program adds to the time,\n" \
                 "the status reads overlap the programming\n", calls / pages, polls / pages, m / pages * 1e6, l / pages * 1e6}'

if ((spidev)); then
  echo
  echo "spidev ioctls through the fake spidev kernel, $((size >> 20)) MiB on the simulated $chip"
  echo "(read ioctls: the read's messages, its identifications taken off; read floor: one ioctl per"
  echo "buffer size of data; a page: its write enable and page program beyond its status polls, the"
  echo "ioctls of an -id run, its open, bring-up, identification and close, taken off)"
  echo
  printf '%-7s %11s %7s %6s %7s  %-7s %18s %13s %11s %7s  %s\n' bufsiz "read ioctls" floor ratio target result \
    "erase+write ioctls" "status reads" "page ioctls" target result
  for bufsiz in "${spidev_buffer_sizes[@]}"; do
    floor=$((size / bufsiz))
    id=$(summary_field "${spidev_id[$bufsiz]}" ioctls)
    # The read's messages (SPI_IOC_MESSAGE ioctls) less its identifications;
    # the clock settings of the run are no reads.
    reads=$(($(summary_field "${spidev_read[$bufsiz]}" messages) -
             $(summary_field "${spidev_read[$bufsiz]}" "read id")))
    r=$(ratio "$reads" "$floor")
    if within "$r" 1.05; then read_result=met; else read_result=MISSED; misses+=("spidev read at $bufsiz: ${r}x"); fi
    per_page=$(awk -v all="$(summary_field "${spidev_program[$bufsiz]}" ioctls)" \
      -v polls="$(summary_field "${spidev_program[$bufsiz]}" "read status")" \
      -v id="$id" -v pages="$pages" \
      'BEGIN {printf "%.3f", (all - polls - id) / pages}')
    if within "$per_page" 2; then page_result=met; else page_result=MISSED; misses+=("spidev page at $bufsiz: $per_page"); fi
    printf '%-7s %11s %7s %6s %7s  %-7s %18s %13s %11s %7s  %s\n' "$bufsiz" "$reads" "$floor" "$r" "<= 1.05" \
      "$read_result" "$(summary_field "${spidev_write[$bufsiz]}" ioctls)" \
      "$(summary_field "${spidev_write[$bufsiz]}" "read status")" "$per_page" "<= 2" "$page_result"
  done
fi

if ((spidev)); then
  echo
  echo "FTDI FT232H through the MPSSE emulator (125 us USB round trips), $((size >> 20)) MiB on the simulated $chip"
  echo "at $((${hz%.*} / 1000000)) MHz, against the chip's own limit: its typical erase and program times plus"
  echo "the command bytes on the bus (erase+write and the read are separate runs; their sum is the"
  echo "erase + write + read back). Round trips per page: USB writes of -NE -w less those of an"
  echo "-id run, per page programmed. single: polls=1, each status read in a round trip of its own."
  echo
  whole_limit=$(awk -v a="$(limit_of erase)" -v b="$(limit_of program)" -v c="$(limit_of read)" 'BEGIN {print a + b + c}')
  read_s=$(summary_field "$ftdi_read" modelled)
  printf '%-9s %14s %12s %9s %7s  %-7s %15s %7s  %s\n' polls "erase+write s" "+ read s" "limit s" ratio \
    "<= 1.15" "trips a page" target result
  for polls in "${ftdi_polls[@]}"; do
    write_s=$(summary_field "${ftdi_write[$polls]}" modelled)
    r=$(awk -v w="$write_s" -v rd="$read_s" -v l="$whole_limit" 'BEGIN {printf "%.3f", (w + rd) / l}')
    trips=$(awk -v all="$(summary_field "${ftdi_program[$polls]}" usb-writes)" \
      -v id="$(summary_field "${ftdi_id[$polls]}" usb-writes)" -v pages="$pages" \
      'BEGIN {printf "%.3f", (all - id) / pages}')
    # The targets are the batched runs'; the single ones show what batching changes.
    whole_result=- trip_result=-
    if [[ $polls == batched ]]; then
      if within "$r" 1.15; then whole_result=met; else whole_result=MISSED; misses+=("ftdi erase+write+read: ${r}x"); fi
      if within "$trips" 1.49999; then trip_result=met; else trip_result=MISSED; misses+=("ftdi round trips a page: $trips"); fi
    fi
    printf '%-9s %14.3f %12.3f %9.3f %7s  %-7s %15s %7s  %s\n' "$polls" "$write_s" "$read_s" "$whole_limit" \
      "$r" "$whole_result" "$trips" "< 1.5" "$trip_result"
  done
  r=$(ratio "$read_s" "$(limit_of read)")
  if within "$r" 1.05; then result=met; else result=MISSED; misses+=("ftdi read: ${r}x"); fi
  printf 'read %s MiB: %.3f s against %.3f s on the bus: %s (target <= 1.05: %s)\n' "$((size >> 20))" "$read_s" \
    "$(limit_of read)" "$r" "$result"
  for polls in "${ftdi_polls[@]}"; do
    printf 'program alone (-NE -w), %s polls: %.3f s against %.3f s, %s status reads\n' "$polls" \
      "$(summary_field "${ftdi_program[$polls]}" modelled)" "$(limit_of program)" \
      "$(summary_field "${ftdi_program[$polls]}" "read status")"
  done
fi

if ((spidev)); then
  ch341a_report
  ch347_report
  serprog_report
fi

large_report

if ((micro)); then
  echo
  say "micro-benchmarks"
  bench_args=(--benchmark_filter="/$size\$")
  ((quick)) && bench_args+=(--benchmark_min_time=0.01)
  "$build/micro_bench" "${bench_args[@]}" >micro.txt 2>&1 || { cat micro.txt >&2; die "micro_bench failed"; }
  cat micro.txt
  ! grep -q "ERROR OCCURRED" micro.txt || die "a micro-benchmark reported an error"
fi

echo
if ((${#misses[@]})); then
  echo "targets missed (reported, not an error):"
  printf '  %s\n' "${misses[@]}"
else
  echo "every target met"
fi
