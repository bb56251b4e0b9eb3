#!/usr/bin/env bash
# Runs a command against a throw-away PostgreSQL server: starts one on 127.0.0.1 in a
# temporary folder, exports where it is (LUMBRIO_PG_*), runs the command, and stops and removes
# the server whatever the outcome. The command's exit status is returned.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ $# -gt 0 ] || { echo "usage: pg-test.sh COMMAND [ARGS...]" >&2; exit 2; }

dir=$(mktemp -d "${TMPDIR:-/tmp}/lumbrio-pg.XXXXXX")
trap '"$here/pg-stop.sh" "$dir"' EXIT
trap 'exit 130' INT TERM

vars=$("$here/pg-start.sh" "$dir")
eval "$vars"
set +e
"$@"
status=$?
set -e
exit $status
