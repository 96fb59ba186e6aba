#!/bin/sh
# SPDX-License-Identifier: MIT
# One phase of the end-to-end scenario, run in the guest against each
# backend in turn: the simulated chip (a control: it needs nothing of the
# kernel) and the chip behind the kernel's spidev driver. Each backend works
# in /out/<backend>/, where the host finds the read-back files and a
# transcript (each command, its standard output, its exit code) to compare
# with e2e/expected/<phase>.txt; standard error goes to stderr.txt.
#   range: identification, a range erase and write of range.bin at an
#          unaligned address, reads of the area around it in the three formats
#   full:  bulk erase and write of a whole-chip image, a whole-chip read
. /e2e/scenario.sh
phase=$1

# step <args>: runs romwick on the current backend's device; false when it fails.
step() {
  echo "e2e: $backend: romwick $*"
  echo "\$ romwick -d <device> $*" >> transcript.txt
  romwick -d "$device" "$@" >> transcript.txt 2>> stderr.txt
  status=$?
  echo "exit $status" >> transcript.txt
  [ $status -eq 0 ]
}

range_phase() {
  step -id &&
  step -w /e2e/range.bin -a "$RANGE_AT" &&
  step -r range.bin -fb -a "$READ_AT" -l "$READ_LEN" &&
  step -r range.hex -fh -a "$READ_AT" -l "$READ_LEN" &&
  step -r range.ihx -fi -a "$READ_AT" -l "$READ_LEN"
}

full_phase() {
  step -id &&
  step -E -w /e2e/full.bin &&
  step -r full.bin -fb
}

case $phase in
  range | full) ;;
  *) echo "e2e: no phase '$phase'"; exit 1 ;;
esac
for backend in sim spidev; do
  mkdir -p /out/$backend
  cd /out/$backend || exit 1
  case $backend in
    sim)
      # /e2e/chip.bin holds what the flash image held when the guest
      # started, so the simulated chip starts where the real one does.
      cp /e2e/chip.bin chip.bin
      device=sim:N25Q128,image=/out/sim/chip.bin ;;
    spidev)
      # Reads of more than 128 bytes in one transfer come back wrong
      # through this controller, so every transfer is capped at 128.
      device=spidev:/dev/spidev0.0,xfer=128 ;;
  esac
  "${phase}_phase"
  cd /
done
