#!/bin/sh
# Counts the system calls of one append to the LOG table in shared mode with
# its locks (d4appendStart with memo entries, field assignments, d4append,
# d4unlock), as the portal's event-log writer makes it: strace -c over the
# test helper appending N rows, minus a run appending none.
#
#   bench/table4_syscalls.sh BUILD_DIR [N [MEMOFLAG]]
#
# MEMOFLAG is d4appendStart's memo flag: 1 (the writer's choice, default)
# copies the current record's memos, which locks and reads that record.
set -eu
build=${1:?usage: table4_syscalls.sh BUILD_DIR [N [MEMOFLAG]]}
n=${2:-1000}
flag=${3:-1}
tool="$build/tests/table4_tool"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf 'USERID:C:21:0 NAME:Z:21:0 PROD:I:4:0 LEVEL:I:4:0 IP:C:16:0 TIME:T:8:0 COMMENT:M:10:0 FLAG_1:I:4:0 FLAG_2:I:4:0 EXTRA_1:M:10:0 EXTRA_2:M:10:0\n' |
  "$tool" write "$dir/LOG.dbf" 30
count() {
  strace -f -c -o "$dir/strace.$1" "$tool" append "$dir/LOG.dbf" "$1" 1 "$flag"
  # "calls" column per system call name
  awk 'NF >= 5 && $1 ~ /^[0-9.]+$/ && $NF != "total" { print $NF, $4 }' "$dir/strace.$1"
}
count 0 | sort > "$dir/base"
count "$n" | sort > "$dir/run"
echo "system calls per append (N=$n, memo flag $flag, baseline subtracted):"
join -a 2 -e 0 -o 0,1.2,2.2 "$dir/base" "$dir/run" |
  awk -v n="$n" '{ d = $3 - $2; if (d / n >= 0.005) { printf "  %-12s %8.2f\n", $1, d / n; total += d } }
                 END { printf "  %-12s %8.2f\n", "total", total / n }'
