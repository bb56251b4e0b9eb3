#!/usr/bin/env bash
# Restarts the throw-away PostgreSQL server of DIR (started by pg-start.sh), dropping every
# session, as a database restart in a store would.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/pg-common.sh"
dir=${1:?usage: pg-restart.sh DIR}
"${as_pg[@]}" "$pg_bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 -m fast restart >/dev/null
