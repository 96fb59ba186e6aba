#!/usr/bin/env bash
# The main job, step by step, against a simulated chip. Each command is shown
# before it runs so that it can be copied.
set -euo pipefail
BUILD=${1:-build}
run() { echo "\$ $*"; "$@"; }
run "$BUILD/romwick" -ver
run "$BUILD/romwick" -?
