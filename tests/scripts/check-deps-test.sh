#!/usr/bin/env bash
# Without the package that brings the wine command, the dependency check fails and names it.
set -u
out=$(scripts/check-deps --without wine 2>&1)
status=$?
echo "$out"
[ "$status" -ne 0 ] || { echo "FAIL: the check passed without the package wine"; exit 1; }
grep -q "command 'wine' .* package 'wine'" <<<"$out" || { echo "FAIL: wine not named"; exit 1; }
echo "the check names the missing package: ok"
