# SPDX-License-Identifier: MIT
# The SiFive board's phases, run by test.sh in the guest (scenario.sh says
# where each writes and reads):
#   low:   identification; with a 16 MiB part named, a range erase and write
#          at an unaligned address and reads of the area around it in the
#          three formats
#   range: with the chip identified by SFDP, a range erase and write, two
#          updates (-u), reads in the three formats and a range erase, each
#          across 16 MiB
#   full:  with the chip identified by SFDP, bulk erase and write of a
#          whole-chip image, a whole-chip read
#   reset: a read with the configuration reset (-cr) on a line of the
#          kernel's GPIO simulator, whose level the guest follows meanwhile
low_phase() {
  step -id &&
  step -m "$LOW_PART" -w /e2e/low.bin -a "$LOW_AT" &&
  step -m "$LOW_PART" -r low.bin -fb -a "$LOW_READ_AT" -l "$LOW_READ_LEN" &&
  step -m "$LOW_PART" -r low.hex -fh -a "$LOW_READ_AT" -l "$LOW_READ_LEN" &&
  step -m "$LOW_PART" -r low.ihx -fi -a "$LOW_READ_AT" -l "$LOW_READ_LEN"
}

range_phase() {
  step -id &&
  step -m sfdp -w /e2e/range.bin -a "$RANGE_AT" &&
  step -m sfdp -u -w /e2e/update.bin -a "$UPDATE_AT" &&
  step -m sfdp -u -w /e2e/update.bin -a "$UPDATE_AT" &&
  step -m sfdp -r range.bin -fb -a "$READ_AT" -l "$READ_LEN" &&
  step -m sfdp -r range.hex -fh -a "$READ_AT" -l "$READ_LEN" &&
  step -m sfdp -r range.ihx -fi -a "$READ_AT" -l "$READ_LEN" &&
  step -m sfdp -e -a "$ERASE_AT" -l "$ERASE_LEN"
}

full_phase() {
  step -m sfdp -E -w /e2e/full.bin &&
  step -m sfdp -r full.bin -fb
}

# gpio_sim_line: a GPIO simulator chip of one line, pulled up as an
# active-low reset input would be; sets reset_chip (the chip's name, for
# reset=), reset_level (the line's level) and reset_pull (its pull) in sysfs.
gpio_sim_line() {
  local config=/sys/kernel/config/gpio-sim/e2e
  mount -t configfs configfs /sys/kernel/config &&
  mkdir "$config" "$config/bank0" &&
  echo 1 > "$config/bank0/num_lines" &&
  echo 1 > "$config/live" || return
  reset_chip=$(cat "$config/bank0/chip_name")
  local line
  line=/sys/devices/platform/$(cat "$config/dev_name")/$reset_chip/sim_gpio0
  reset_level=$line/value
  reset_pull=$line/pull
  echo pull-up > "$reset_pull"
}

# The run holds the reset line while it works, from before the first
# transfer to after the last; the guest reads its level until the run has
# ended (the file done appears), and so sees it low throughout a read that
# takes seconds. Before and after, the pull-up holds it high; after, a
# pull-down takes it low too, which the simulator does only on a line that
# nothing drives: the run has let it go.
reset_phase() {
  gpio_sim_line || { echo "no GPIO simulator line" >> transcript.txt; return 1; }
  echo "reset line before the run: $(cat "$reset_level")" >> transcript.txt
  device=$device,reset=$reset_chip:0
  rm -f done
  { step -cr -m "$LOW_PART" -r reset.bin -l "$RESET_READ_LEN"; echo $? > done; } &
  local held=no level
  while [ ! -e done ]; do
    read -r level < "$reset_level"
    [ "$level" = 0 ] && held=yes
  done
  wait
  echo "reset line low while the run worked: $held" >> transcript.txt
  echo "reset line after the run: $(cat "$reset_level")" >> transcript.txt
  echo pull-down > "$reset_pull"
  echo "reset line pulled down after the run: $(cat "$reset_level")" >> transcript.txt
  [ "$(cat done)" = 0 ]
}
