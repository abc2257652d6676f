#!/bin/sh
# wine-run.sh WINE PROGRAM [ARGUMENT...]: runs a test program under Wine for CTest.
# Now and then Wine fails to start a program at all: it exits with an error at once, having
# printed nothing (seen once in CI, on a test that passes every other time). Such a launch is
# tried once more. A program that wrote anything, or that succeeded, is never run again, so a
# failing test still fails.
wine=$1
shift
scratch=$(mktemp -d) || exit 125
trap 'rm -rf "$scratch"' EXIT
for attempt in 1 2; do
  "$wine" "$@" >"$scratch/out" 2>"$scratch/err"
  status=$?
  if [ "$status" -eq 0 ] || [ -s "$scratch/out" ] || [ -s "$scratch/err" ] || [ "$attempt" -eq 2 ]; then
    break
  fi
  echo "wine-run.sh: Wine exited with status $status before $1 wrote anything; starting it again" >&2
done
cat "$scratch/out"
cat "$scratch/err" >&2
exit "$status"
