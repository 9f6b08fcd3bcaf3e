#!/bin/sh
# wait-lines FILE PATTERN COUNT SECONDS: waits until FILE has at least COUNT lines that hold
# PATTERN (grep -F); fails after SECONDS.
file="$1" pattern="$2" count="$3" end=$(($(date +%s) + $4))
while :; do
    n=$(grep -c -F -- "$pattern" "$file" 2>/dev/null)
    [ "${n:-0}" -ge "$count" ] && exit 0
    [ "$(date +%s)" -lt "$end" ] || { echo "wait-lines: ${n:-0} of $count lines with $pattern in $file"; exit 1; }
    usleep 100000
done
