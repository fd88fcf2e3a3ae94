#!/usr/bin/env bash
# Runs numpy_check.py under Debian's Python with libzum_blas preloaded, and passes when the
# check passes and NumPy's cblas_sgemm and cblas_dgemm bound to the library.
#   run_numpy.sh LIBRARY CHECK
set -euo pipefail
library="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" check=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
LD_DEBUG=bindings LD_DEBUG_OUTPUT="$work/bindings" LD_PRELOAD="$library" /usr/bin/python3 "$check" \
  || status=$?
[ "$status" -eq 0 ] || exit "$status"
for symbol in cblas_sgemm cblas_dgemm; do
  if ! grep -q "to $library \[0\]: normal symbol \`$symbol'" "$work"/bindings.*; then
    echo "FAILED: NumPy's $symbol did not bind to $library"
    exit 1
  fi
  echo "NumPy's $symbol bound to $library"
done
