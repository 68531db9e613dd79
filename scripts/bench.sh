#!/bin/sh
# Builds velmora-cli, installs the peers and runs the benchmark; the table
# goes to build/bench/ (bench.txt, bench.csv, bench.png). Scratch data lives
# on /dev/shm and is removed at the end.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
sh scripts/install-toolchain.sh
sh scripts/install-bench-tools.sh
sh scripts/build.sh
exec python3 tools/bench/run_bench.py build build/bench
