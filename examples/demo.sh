#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The main job against a simulated N25Q128 whose contents persist in a file
# under the build folder: identify the chip, write the sample image, read
# it back, compare. Each command is shown before it runs, so it can be copied.
set -euo pipefail
BUILD=${1:-build}
HERE=$(cd "$(dirname "$0")" && pwd)
ROMWICK="$BUILD/romwick"
WORK="$BUILD/demo"
mkdir -p "$WORK"
rm -f "$WORK/write.trace"
CHIP="sim:N25Q128,image=$WORK/n25q128.bin"
IMAGE="$HERE/blink.bin"
SIZE=$(wc -c < "$IMAGE")

run() {
  echo "\$ $*"
  "$@"
  echo
}

run "$ROMWICK" -d "$CHIP" -id
run "$ROMWICK" -d "$CHIP,trace=$WORK/write.trace" -w "$IMAGE" -t
echo "The simulator's account of that write, as a real chip would have taken it:"
run tail -n 1 "$WORK/write.trace"
run "$ROMWICK" -d "$CHIP" -r "$WORK/readback.bin" -l "$SIZE" -t
run cmp "$IMAGE" "$WORK/readback.bin"
echo "The chip holds the image: $WORK/readback.bin is identical to $IMAGE."
echo
run "$ROMWICK" -d "$CHIP" -r "$WORK/readback.hex" -l "$SIZE" -fi
run head -n 3 "$WORK/readback.hex"
echo "The chip's contents stay in $WORK/n25q128.bin for the next run."
