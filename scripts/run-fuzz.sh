#!/usr/bin/env bash
# Builds the request fuzz target with clang's libFuzzer (address and undefined-behaviour
# sanitizers on) and runs it for a bounded time. Usage: run-fuzz.sh BUILD_DIR [SECONDS]
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
out=${1:?build directory}
seconds=${2:-30}
mkdir -p "$out/corpus"
clang++ -std=c++20 -O1 -g -ffp-contract=off -fsanitize=fuzzer,address,undefined \
  -fno-sanitize-recover=undefined -I"$src" \
  "$src/tests/fuzz/request_fuzz.cpp" "$src/service/framing.cpp" "$src/service/protocol.cpp" \
  "$src/service/textforms.cpp" "$src/service/regional.cpp" -o "$out/request_fuzz"
# A few seeds so the search starts from real requests.
printf '\x02123|750\x03' >"$out/corpus/seed1"
printf '\x027|12\x03\x027|34\x03' >"$out/corpus/seed2"
printf '\x0212\xff3| 1,5E+3 \x03' >"$out/corpus/seed3"
cd "$out"
./request_fuzz -max_total_time="$seconds" -timeout=5 -rss_limit_mb=1024 -print_final_stats=1 corpus
