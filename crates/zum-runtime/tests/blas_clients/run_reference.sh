#!/usr/bin/env bash
# Runs one reference BLAS test program (Debian's libblas-test) with libzum_blas preloaded, and
# passes when every line the program prints on success is there and the GEMM calls bound to
# the library. The reference libblas.so.3 beside the programs supplies the rest (the CBLAS
# programs' plumbing), never the system's default BLAS.
#   run_reference.sh LIBRARY PROGRAM INPUT SYMBOL EXPECTED_LINE...
set -euo pipefail
library="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" program=$2 input=$3 symbol=$4
shift 4
if [ ! -x "$program" ]; then
  echo "skipped: $program is missing (Debian: libblas-test)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
status=0
LD_DEBUG=bindings LD_DEBUG_OUTPUT="$work/bindings" LD_LIBRARY_PATH="$(dirname "$program")" \
  LD_PRELOAD="$library" "$program" < "$input" > output 2>&1 || status=$?
# The Fortran programs write their summary to the file the input names, the CBLAS ones to stdout.
shopt -s nullglob
cat output ./*.out > summary
cat summary
[ "$status" -eq 0 ] || { echo "FAILED: $program exited with $status"; exit 1; }
for line in "$@"; do
  grep -Eq "$line" summary || { echo "FAILED: no line matches '$line'"; exit 1; }
done
if grep -Eq 'FAIL|\*\*\*\*\*' summary; then echo "FAILED: the program reported a failure"; exit 1; fi
if ! grep -q "to $library \[0\]: normal symbol \`$symbol'" "$work"/bindings.*; then
  echo "FAILED: $symbol did not bind to $library"
  exit 1
fi
echo "$symbol bound to $library"
