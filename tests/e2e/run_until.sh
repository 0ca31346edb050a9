#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Runs a command that only a signal ends (the program's station mode), with
# its standard output to a file; once the output holds enough, and after a
# second in which more could still come, sends it the signal and waits for it.
#
#   run_until.sh SIGNAL lines:N|line:TEXT OUTPUT COMMAND...
#
# lines:N waits for N lines, line:TEXT for a line that is exactly TEXT (a CR
# before the line end is ignored). Gives up waiting after 100 s, or when the
# command ends by itself. Exits with the command's exit code, or 128 + the
# signal that ended it, as a shell does. With RUN_UNTIL_FILTER set to a
# command, the condition is looked for in what "COMMAND OUTPUT /dev/stdout"
# writes instead: the lines that a machine format stands for.
set -u
signal=$1 until=$2 output=$3
shift 3

: > "$output"
"$@" > "$output" &
pid=$!

shown() {
  if [ -n "${RUN_UNTIL_FILTER:-}" ]; then
    $RUN_UNTIL_FILTER "$output" /dev/stdout 2> /dev/null
  else
    cat "$output"
  fi
}

reached() {
  case $until in
    lines:*) [ "$(shown | wc -l)" -ge "${until#lines:}" ] ;;
    line:*) shown | tr -d '\r' | grep -qxF -- "${until#line:}" ;;
    *) echo "run_until.sh: bad condition $until" >&2; return 0 ;;
  esac
}

deadline=$((SECONDS + 100))
while ! reached && kill -0 "$pid" 2> /dev/null && [ $SECONDS -lt $deadline ]; do
  sleep 0.1
done
sleep 1
kill -s "$signal" "$pid" 2> /dev/null
wait "$pid"
