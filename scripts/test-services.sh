# Services the tests need, started on loopback for the length of one test run.
#
# A private PostgreSQL server: its own data directory under a temporary directory, its own port,
# password authentication over TCP, the role "KOVADB" (case kept) with its password and a
# database of its own. The tests find it through QUORVANE_TEST_PGHOST, QUORVANE_TEST_PGPORT and
# QUORVANE_TEST_PGDATABASE. stop_test_services stops it and removes its directory.

_pg_run() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

start_test_services() {
  local bin
  bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
  if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
    echo "test services: PostgreSQL is not installed; its tests will fail in CI" >&2
    return 0
  fi
  QUORVANE_PG_DIR=$(mktemp -d /tmp/quorvane-pg.XXXXXX)
  [ "$(id -u)" -eq 0 ] && chown postgres: "$QUORVANE_PG_DIR"
  local pwfile="$QUORVANE_PG_DIR/superuser-password"
  _pg_run sh -c "umask 077; head -c 18 /dev/urandom | base64 > '$pwfile'"
  _pg_run "$bin/initdb" -D "$QUORVANE_PG_DIR/data" -U postgres --pwfile="$pwfile" \
    --auth-local=trust --auth-host=scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$QUORVANE_PG_DIR/initdb.log" 2>&1 || {
    cat "$QUORVANE_PG_DIR/initdb.log" >&2
    return 1
  }
  local port started=""
  for _ in 1 2 3 4 5 6 7 8; do
    port=$((20000 + RANDOM % 20000))
    if _pg_run "$bin/pg_ctl" -D "$QUORVANE_PG_DIR/data" -l "$QUORVANE_PG_DIR/server.log" -w -t 30 \
      -o "-c listen_addresses=127.0.0.1 -p $port -k $QUORVANE_PG_DIR -c fsync=off" start >/dev/null; then
      started=yes
      break
    fi
  done
  if [ -z "$started" ]; then
    echo "test services: the PostgreSQL server did not start" >&2
    cat "$QUORVANE_PG_DIR/server.log" >&2 || true
    return 1
  fi
  _pg_run "$bin/psql" -q -v ON_ERROR_STOP=1 -h "$QUORVANE_PG_DIR" -p "$port" -U postgres -d postgres \
    -c "CREATE ROLE \"KOVADB\" LOGIN PASSWORD 'qmwt'" \
    -c "CREATE DATABASE kovadb OWNER \"KOVADB\"" >/dev/null
  export QUORVANE_TEST_PGHOST=127.0.0.1
  export QUORVANE_TEST_PGPORT=$port
  export QUORVANE_TEST_PGDATABASE=kovadb
  echo "test services: PostgreSQL on 127.0.0.1:$port"
}

stop_test_services() {
  [ -n "${QUORVANE_PG_DIR:-}" ] && [ -d "$QUORVANE_PG_DIR" ] || return 0
  local bin
  bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
  _pg_run "$bin/pg_ctl" -D "$QUORVANE_PG_DIR/data" -m fast -w stop >/dev/null 2>&1 || true
  rm -rf "$QUORVANE_PG_DIR"
  unset QUORVANE_PG_DIR QUORVANE_TEST_PGHOST QUORVANE_TEST_PGPORT QUORVANE_TEST_PGDATABASE
}
