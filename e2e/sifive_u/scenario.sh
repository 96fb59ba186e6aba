# SPDX-License-Identifier: MIT
# Where the scenario writes and reads, shared by the guest's phases and the
# host's expectations. The chip is 32 MiB; every phase starts from a flash
# image of its own (board.sh).
#
# QEMU's flash model erases an erase unit's length from the address an erase
# names, where a real chip erases the unit that holds it, and the program
# names a write's first address in its first erase. Each write starts off
# any page or unit boundary and ends inside another unit, and the bytes
# around it up to the 64 KiB boundaries are erased in the phase's first
# contents: whichever unit the program erases with (4, 32 or 64 KiB), the
# chip then ends up the same on the model and on a real chip. The reads
# start before the first unit around a write and end after the last, at odd
# addresses too.
CHIP_SIZE=33554432
# low: what the program can do today, within the first 16 MiB: a part of the
# device table whose commands the model takes (64 KiB sectors erased with
# D8h, three address bytes) named with -m.
LOW_PART=N25Q128
LOW_AT=0x5A3C71
LOW_SIZE=90001
LOW_READ_AT=0x59F0E3
LOW_READ_LEN=0x22151
# range: the chip identified by SFDP (-m sfdp); a write whose range erase
# crosses 16 MiB, an update (-u) across 16 MiB whose lower half needs an
# erase and whose upper half only clears bits, so that on any unit size it
# touches two units, once more with nothing left to do, reads across 16 MiB
# in the three formats, and a range erase of whole 64 KiB units across it.
RANGE_AT=0xFE9A5B
RANGE_SIZE=178607
UPDATE_AT=0xFFF800
UPDATE_SIZE=4096
READ_AT=0xFDF0C5
READ_LEN=0x41E75
ERASE_AT=0xFF0000
ERASE_LEN=0x20000
# reset: a read long enough for the guest to see the reset line held.
RESET_READ_LEN=0x100000
# No simulated part is the model's size: no control backend. The spidev
# device needs no cap on its transfers on this controller.
SIM_CHIP=
SPIDEV=spidev:/dev/spidev0.0
