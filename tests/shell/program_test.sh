#!/usr/bin/env bash
# The program as an operator starts it: it runs until SIGTERM and then exits
# 0; a second instance cannot have the command port and says so.
set -u
program=${1:?program}
log=$(mktemp -d)
trap 'rm -rf "$log"' EXIT

"$program" >"$log/out1" 2>"$log/err1" &
first=$!
for _ in $(seq 1 500); do
  grep -q 'All Started' "$log/err1" && break
  sleep 0.01
done
grep -q 'All Started' "$log/err1" || { echo "FAIL: the first instance did not start"; kill $first; exit 1; }

"$program" >"$log/out2" 2>"$log/err2"
second=$?
if [ $second -eq 0 ] || ! grep -q 'UDP port 45654 is already in use' "$log/err2"; then
  echo "FAIL: second instance exited $second with: $(tail -n 2 "$log/err2")"
  kill $first
  exit 1
fi

kill -TERM $first
wait $first
first_status=$?
[ $first_status -eq 0 ] || { echo "FAIL: the first instance exited $first_status after SIGTERM"; exit 1; }
grep -q 'KivServer::run HAS EXITED CORRECTLY' "$log/err1" || { echo "FAIL: no clean stop in the log"; exit 1; }
echo "program start, refusal of a second instance and stop: ok"
