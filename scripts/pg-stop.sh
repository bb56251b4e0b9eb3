#!/usr/bin/env bash
# Stops the throw-away PostgreSQL server of DIR, if it runs, and removes DIR.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/pg-common.sh"
dir=${1:?usage: pg-stop.sh DIR}
if [ -f "$dir/data/postmaster.pid" ]; then
  "${as_pg[@]}" "$pg_bin/pg_ctl" -D "$dir/data" -w -t 60 -m fast stop >/dev/null ||
    "${as_pg[@]}" "$pg_bin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null
fi
rm -rf "$dir"
