#!/bin/sh
# SPDX-License-Identifier: MIT
# One phase of the board's end-to-end scenario, run in the guest against each
# backend in turn: the simulated chip when the board names one (SIM_CHIP, a
# control: it needs nothing of the kernel) and the chip behind the kernel's
# spidev driver. The board's guest.sh holds each phase as <phase>_phase,
# scenario.sh where it writes and reads. Each backend works in
# /out/<backend>/, where the host finds the read-back files and a transcript
# (each command, its standard output, its exit code) to compare with
# e2e/<board>/expected/<phase>.txt; standard error goes to stderr.txt.
. /e2e/scenario.sh
. /e2e/guest.sh
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

if ! command -v "${phase}_phase" > /dev/null; then
  echo "e2e: no phase '$phase'"
  exit 1
fi
backends=spidev
[ -z "$SIM_CHIP" ] || backends="sim spidev"
for backend in $backends; do
  mkdir -p /out/$backend
  cd /out/$backend || exit 1
  case $backend in
    sim)
      # /e2e/chip.bin holds what the flash image held when the guest
      # started, so the simulated chip starts where the real one does.
      cp /e2e/chip.bin chip.bin
      device=sim:$SIM_CHIP,image=/out/sim/chip.bin ;;
    spidev)
      device=$SPIDEV ;;
  esac
  "${phase}_phase"
  cd /
done
