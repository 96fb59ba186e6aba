# SPDX-License-Identifier: MIT
# The Zynq board's phases, run by test.sh in the guest on each backend:
#   range: identification, a range erase and write of range.bin at an
#          unaligned address, reads of the area around it in the three formats
#   full:  bulk erase and write of a whole-chip image, a whole-chip read
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
