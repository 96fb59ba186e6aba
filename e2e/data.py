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


def pattern(args):
    """SIZE pseudo-random bytes from SEED, erased (FF) from each FROM up to
    its TO: a phase's first flash contents or a file it writes."""
    data = bytearray(pseudo_random(args.seed, args.size))
    for erased in args.erased:
        start, end = (int(text, 0) for text in erased.split(":"))
        data[start:end] = b"\xff" * (end - start)
    open(args.out, "wb").write(data)


def overlay(args):
    """The chip after an update (-u) with FILE at AT: each erase unit under
    the file holds the file's bytes over what it held, so the result does
    not depend on the unit's size."""
    chip = bytearray(open(args.chip, "rb").read())
    data = open(args.file, "rb").read()
    chip[args.at:args.at + len(data)] = data
    open(args.out, "wb").write(chip)


def erase(args):
    """The chip after a range erase of LEN bytes from AT, both on unit
    boundaries."""
    chip = bytearray(open(args.chip, "rb").read())
    chip[args.at:args.at + args.len] = b"\xff" * args.len
    open(args.out, "wb").write(chip)


def update_file(args):
    """A file for an update (-u) at AT over CHIP: below SPLIT, bytes that
    need an erase (some bit goes from 0 to 1); from SPLIT on, the chip's
    bytes with more bits cleared, which a program without an erase gives."""
    chip = open(args.chip, "rb").read()[args.at:args.at + args.size]
    noise = pseudo_random(args.seed, args.size)
    lower = args.split - args.at
    data = noise[:lower] + bytes(c & n for c, n in zip(chip[lower:], noise[lower:]))
    needs_erase = any(d & ~c for d, c in zip(data[:lower], chip[:lower]))
    clears_bits = data[lower:] != chip[lower:]
    if not (needs_erase and clears_bits):
        raise SystemExit("update-file: choose another seed: the halves do not differ as they must")
    open(args.out, "wb").write(data)


def place(args):
    """A SIZE-byte chip, erased but for FILE at AT."""
    data = open(args.file, "rb").read()
    chip = bytearray(b"\xff" * args.size)
    chip[args.at:args.at + len(data)] = data
    open(args.out, "wb").write(chip)


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
    p = sub.add_parser("pattern", help="pseudo-random bytes, erased in places")
    p.add_argument("--out", required=True)
    p.add_argument("--seed", type=number, required=True)
    p.add_argument("--size", type=number, required=True)
    p.add_argument("--erased", action="append", default=[], metavar="FROM:TO")
    p.set_defaults(run=pattern)
    p = sub.add_parser("overlay", help="the chip after an update (-u) with FILE at AT")
    for name in ("chip", "file", "out"):
        p.add_argument(f"--{name}", required=True)
    p.add_argument("--at", type=number, required=True)
    p.set_defaults(run=overlay)
    p = sub.add_parser("erase", help="the chip after a range erase")
    for name in ("chip", "out"):
        p.add_argument(f"--{name}", required=True)
    for name in ("at", "len"):
        p.add_argument(f"--{name}", type=number, required=True)
    p.set_defaults(run=erase)
    p = sub.add_parser("update-file", help="a file for an update (-u) that needs an erase below SPLIT only")
    for name in ("chip", "out"):
        p.add_argument(f"--{name}", required=True)
    for name in ("at", "size", "split", "seed"):
        p.add_argument(f"--{name}", type=number, required=True)
    p.set_defaults(run=update_file)
    p = sub.add_parser("place", help="an erased chip of SIZE bytes holding FILE at AT")
    for name in ("file", "out"):
        p.add_argument(f"--{name}", required=True)
    for name in ("at", "size"):
        p.add_argument(f"--{name}", type=number, required=True)
    p.set_defaults(run=place)
    args = parser.parse_args()
    args.run(args)


if __name__ == "__main__":
    main()
