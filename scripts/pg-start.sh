#!/usr/bin/env bash
# Creates and starts a throw-away PostgreSQL server in DIR (a new, empty folder), listening on
# 127.0.0.1 only, with a role "lumbrio" (password "lumbrio-test") owning a database "drel".
# Prints the export lines that tell the tests where it is. Stop it with pg-stop.sh DIR.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/pg-common.sh"

dir=${1:?usage: pg-start.sh DIR}
mkdir -p "$dir"
[ ${#as_pg[@]} -eq 0 ] || chown postgres: "$dir"

"${as_pg[@]}" "$pg_bin/initdb" -D "$dir/data" -U postgres -E UTF8 --locale=C.UTF-8 \
  --auth-local=trust --auth-host=scram-sha-256 >"$dir/initdb.log" 2>&1 ||
  { cat "$dir/initdb.log" >&2; exit 1; }

# A free port: try a few at random; a port in use makes the start fail at once.
started=
for _ in 1 2 3 4 5 6 7 8 9 10; do
  port=$((20000 + RANDOM % 40000))
  if "${as_pg[@]}" "$pg_bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
       -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=off" start >/dev/null; then
    started=1
    break
  fi
done
if [ -z "$started" ]; then
  echo "PostgreSQL did not start; its log:" >&2
  cat "$dir/server.log" >&2
  exit 1
fi
echo "$port" >"$dir/port"

"${as_pg[@]}" psql -q -h "$dir" -p "$port" -U postgres -d postgres -v ON_ERROR_STOP=1 \
  -c "CREATE ROLE lumbrio LOGIN PASSWORD 'lumbrio-test'" \
  -c "CREATE DATABASE drel OWNER lumbrio" >&2

cat <<VARS
export LUMBRIO_PG_HOST=127.0.0.1
export LUMBRIO_PG_PORT=$port
export LUMBRIO_PG_USER=lumbrio
export LUMBRIO_PG_PASSWORD=lumbrio-test
export LUMBRIO_PG_DATABASE=drel
export LUMBRIO_PG_RESTART="$here/pg-restart.sh $dir"
VARS
