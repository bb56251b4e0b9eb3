# Shared by the pg-*.sh scripts: where PostgreSQL's programs are, and how to run them as a
# user other than root (the server refuses to run as root).
pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ -z "$pg_bin" ]; then
  echo "PostgreSQL server programs not found; run scripts/install-deps.sh" >&2
  exit 1
fi
if [ "$(id -u)" -eq 0 ]; then
  as_pg=(runuser -u postgres --)
else
  as_pg=()
fi
