#!/usr/bin/env bash
# A tour of the icl tool on a sample index cache: test the directory, write a
# label, register a second host, look at the label, see a mismatch, remove an
# access path, and measure the cache.
# Usage: demo.sh PATH/TO/icl DEMO_DIR   (DEMO_DIR is recreated from scratch)
set -euo pipefail

icl_bin=$(realpath "$1")
demo=$(realpath -m "$2")

# Runs `icl ARGS...` after echoing it the way it would be typed.
icl() {
  local line="icl" arg
  for arg in "$@"; do
    if [[ $arg =~ ^[A-Za-z0-9_./=:-]+$ ]]; then line+=" $arg"; else line+=" '$arg'"; fi
  done
  printf '\n$ %s\n' "$line"
  "$icl_bin" "$@"
}

rm -rf "$demo"
mkdir -p "$demo"
cd "$demo"
echo "Working in $demo"

# The index cache directory does not exist yet: test-dir creates it and
# proves that files can be created, written, locked, re-owned and removed
# there.
cache=cache7
icl test-dir "$cache"

# Host A writes the label: pool 3, index cache 7, marker 1001, access path 12.
icl new "$cache" --pool 3 --cache 7 --marker 1001 --path 12 --host hostA \
  --description "Demo index cache"

# Host B checks that the label is the one it expects; its access path 13 is
# added on the way.
icl check "$cache" --pool 3 --cache 7 --path 13 --host hostB

icl show "$cache"

# A host that expects pool 4 is refused (exit status 1) and told what the
# label holds instead; the demo goes on.
status=0
icl check "$cache" --pool 4 --cache 7 --path 14 --host hostC || status=$?
echo "(exit status $status)"
[ "$status" -eq 1 ]

# Host A stops using the cache; scripts read the outcome as JSON ("changed":
# whether the label's bytes changed).
icl --json remove "$cache" --pool 3 --cache 7 --path 12 --host hostA
icl show "$cache" --json

# Some index data: 10 + 2048 + 5000 bytes count 1 + 3 + 5 KB.
mkdir -p "$cache/ZU_Index/part1" "$cache/ZU_SIDB"
head -c 10 /dev/zero >"$cache/ZU_Index/header"
head -c 2048 /dev/zero >"$cache/ZU_Index/part1/data"
head -c 5000 /dev/zero >"$cache/ZU_SIDB/db"
icl du "$cache" --detail

icl version

printf '\nThe demo ran to its end; the sample index cache is in %s\n' "$demo/$cache"
