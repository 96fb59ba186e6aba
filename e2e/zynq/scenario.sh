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
# The simulated chip that runs each phase beside the real one, as a control
# that needs nothing of the kernel, and the spidev device. Reads of more than
# 128 bytes in one transfer come back wrong through this controller, so
# every transfer is capped at 128.
SIM_CHIP=N25Q128
SPIDEV=spidev:/dev/spidev0.0,xfer=128
