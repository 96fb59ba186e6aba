#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Input files of the end-to-end test, and what the chip and each read-back
file must hold after a phase. Every input is pseudo-random from a fixed seed,
so a byte landing at a wrong address, a missed erase (programming only
clears bits) or a lost chunk shows in the comparison."""
import argparse
import random


def pseudo_random(seed, size):
    return random.Random(seed).randbytes(size)


def inputs(args):
    """The flash image's first contents, the range write's file and the
    whole-chip image. In the first contents, the bytes of the write's first
    sector below the write address are already erased: a sector erase on
    QEMU's flash model erases a sector's length from the address the command
    names, not the sector holding it, and the program names the write's own
    first address, as a real chip allows. Erased beforehand, those bytes
    read the same after either."""
    seed = bytearray(pseudo_random(1, args.chip_size))
    first = args.range_at - args.range_at % args.sector
    seed[first:args.range_at] = b"\xff" * (args.range_at - first)
    for name, data in (("seed.bin", seed), ("range.bin", pseudo_random(2, args.range_size)),
                       ("full.bin", pseudo_random(3, args.chip_size))):
        with open(f"{args.dir}/{name}", "wb") as f:
            f.write(data)


def after_range_write(args):
    """The chip after a write of FILE at AT with the default range erase:
    every sector the file touches is erased, then the file is programmed."""
    chip = bytearray(open(args.chip, "rb").read())
    data = open(args.file, "rb").read()
    first = args.at - args.at % args.sector
    end = args.at + len(data)
    end += -end % args.sector
    chip[first:end] = b"\xff" * (end - first)
    chip[args.at:args.at + len(data)] = data
    open(args.out, "wb").write(chip)


def cut(args):
    data = open(args.file, "rb").read()
    open(args.out, "wb").write(data[args.at:args.at + args.len])


def main():
    number = lambda text: int(text, 0)
    parser = argparse.ArgumentParser(description=__doc__)
    sub = parser.add_subparsers(required=True)
    p = sub.add_parser("inputs", help="seed.bin, range.bin and full.bin into DIR")
    p.add_argument("dir")
    for name in ("chip-size", "range-at", "range-size", "sector"):
        p.add_argument(f"--{name}", type=number, required=True)
    p.set_defaults(run=inputs)
    p = sub.add_parser("after-range-write", help="the chip after a range erase and write")
    for name in ("chip", "file", "out"):
        p.add_argument(f"--{name}", required=True)
    for name in ("at", "sector"):
        p.add_argument(f"--{name}", type=number, required=True)
    p.set_defaults(run=after_range_write)
    p = sub.add_parser("cut", help="LEN bytes of FILE from AT")
    p.add_argument("--file", required=True)
    p.add_argument("--out", required=True)
    p.add_argument("--at", type=number, required=True)
    p.add_argument("--len", type=number, required=True)
    p.set_defaults(run=cut)
    args = parser.parse_args()
    args.run(args)


if __name__ == "__main__":
    main()
