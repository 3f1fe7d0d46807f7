# shellcheck shell=bash disable=SC2154
# Shared by the checks under Wine; the sourcing script sets wine_run first.

fail() { echo "FAIL: $*"; exit 1; }

# What a Wine command prints, without carriage returns. A Wine program now and then ends at
# start-up without a word; a query that printed nothing is asked again, twice at most.
wine_text() {
  local out attempt
  for attempt in 1 2 3; do
    out=$("$wine_run" "$@" | tr -d '\r')
    if [ -n "$out" ]; then
      printf '%s\n' "$out"
      return 0
    fi
    [ "$attempt" -lt 3 ] && echo "wine $1 printed nothing (attempt $attempt); asking again" >&2
  done
  return 1
}

# Whether a registry key is there (in the view /reg:32 or /reg:64 when one is given): reg
# query's exit status, its output unread.
wine_key_exists() { "$wine_run" reg query "$@" >/dev/null 2>&1; }

# Ends the check as skipped (status 77) on a machine that cannot execute 32-bit programs, where
# Wine has no 32-bit half.
need_32bit() {
  local probe
  if ! probe=$("$(dirname "${BASH_SOURCE[0]}")/../../scripts/probe-32bit"); then
    echo "SKIPPED: $1 needs a 32-bit program, and this machine cannot run 32-bit programs" \
      "(${probe#no: })"
    exit 77
  fi
}
