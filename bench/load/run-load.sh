#!/usr/bin/env bash
# Measures the price-check server against the fixed-reply baseline on loopback: builds the demo
# store grown to 100 000 items, starts both servers, runs the closed-loop, fixed-rate and memory
# loads, and stops everything. Usage: bench/load/run-load.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
bin=$(cd "${1:-$src/build}" && pwd)/bin
seconds=${2:-10}
work=$(mktemp -d /tmp/lumbrio-load-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

server_port=6901
baseline_port=6902
"$bin/lumbrio-db" demo "$work/Srv_Drel.db" --items 100000 >/dev/null
printf '[TCP]\nPUERTO=%s\n' "$server_port" >"$work/Conf.ini"

# The mix a store sees: six found items spread over the catalogue for every two pack or
# alphanumeric codes and two unknown codes.
{
  for i in $(seq 0 599); do echo $((3000000000000 + (i * 7919) % 100000)); done
  for i in $(seq 0 39); do printf '17501064191012\n27501064191019\n17501055300072\nBOLILLO\nJIT-KG\n'; done
  for i in $(seq 0 199); do echo $((4000000000000 + i)); done
} | shuf --random-source=<(yes) >"$work/codes.txt"

LUMBRIO_HEADLESS=1 LUMBRIO_CONF="$work/Conf.ini" "$bin/srv_lumbrio" &
pids+=($!)
server_pid=$!
"$bin/lumbrio-baseline" --port "$baseline_port" >/dev/null &
pids+=($!)
for _ in $(seq 50); do
  if "$bin/lumbrio-check" --port "$server_port" --timeout 200 750 >/dev/null 2>&1; then break; fi
  sleep 0.2
done

echo "== closed loop, 16 terminals: server, then baseline"
"$bin/lumbrio-load" --mode closed --connections 16 --duration "$seconds" \
  --port "$server_port" --compare-port "$baseline_port" --codes-file "$work/codes.txt"
echo "== fixed rate, 5000 requests/s over 1024 terminals"
"$bin/lumbrio-load" --mode rate --rate 5000 --connections 1024 --duration "$seconds" \
  --port "$server_port" --codes-file "$work/codes.txt"
echo "== memory with 1024 connections open"
"$bin/lumbrio-load" --mode memory --connections 1024 --port "$server_port" --pid "$server_pid" \
  --codes-file "$work/codes.txt"
