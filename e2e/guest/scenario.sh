# SPDX-License-Identifier: MIT
# Where the scenario writes and reads, shared by the guest's test and the
# host's expectations. The write starts off any page or sector boundary and
# ends inside the next sector: QEMU's flash model erases a sector's length
# from the address a sector erase names (data.py says more), and ending in
# the next sector keeps that length inside the sectors a real chip erases.
# The reads start before the first erased sector and end after the last
# one, at odd addresses too.
CHIP_SIZE=16777216
SECTOR_SIZE=65536
RANGE_AT=0x123457
RANGE_SIZE=70001
READ_AT=0x11FF31
READ_LEN=0x201A0
