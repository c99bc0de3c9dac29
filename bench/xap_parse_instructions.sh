#!/bin/sh
# Instructions per parsed message (cmd+event mix: parse, class and target tests, three item
# lookups), for the parser and the one it replaced, and per built status event (build + ToXap),
# counted by callgrind. The cost of starting the program cancels out: two runs of different
# length are subtracted.
#   bench/xap_parse_instructions.sh [path/to/xap_bench]   (default build/bench/xap_bench)
set -eu
bench=${1:-build/bench/xap_bench}
short=2000
long=12000
count() {
  out=$(mktemp)
  valgrind --tool=callgrind --callgrind-out-file="$out" "$bench" "$@" >/dev/null 2>&1
  sed -n 's/^summary: //p' "$out"
  rm -f "$out"
}
for parser in old new; do
  a=$(count --parse-loop "$parser" "$short")
  b=$(count --parse-loop "$parser" "$long")
  # Each loop round parses two messages.
  echo "$parser parser: $(( (b - a) / ((long - short) * 2) )) instructions per message"
done
a=$(count --build-loop "$short")
b=$(count --build-loop "$long")
echo "build + ToXap status event: $(( (b - a) / (long - short) )) instructions per message"
