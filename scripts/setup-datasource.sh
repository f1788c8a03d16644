#!/usr/bin/env bash
# Gives the user the ODBC data source the database job window connects to by default, KOVADB2,
# on SQLite in the user's data directory, when the user has no data source of that name. An
# existing one, the user's or the system's, is never changed.
set -euo pipefail

name=KOVADB2
# unixODBC reads the user's data sources from the home directory of the passwd entry (or from
# $ODBCINI), not from $HOME: ask it where they are.
paths=$(odbcinst -j)
user_ini=$(sed -n 's/^USER DATA SOURCES\.*: *//p' <<<"$paths")
system_ini=$(sed -n 's/^SYSTEM DATA SOURCES\.*: *//p' <<<"$paths")
if [ -z "$user_ini" ]; then
  echo "setup-datasource: unixODBC names no file for user data sources; nothing done" >&2
  exit 0
fi

has_source() {
  [ -f "$1" ] && grep -qiE "^[[:space:]]*\[$name\][[:space:]]*$" "$1"
}
if has_source "$user_ini" || has_source "$system_ini"; then
  exit 0
fi
if ! odbcinst -q -d -n SQLite3 >/dev/null 2>&1; then
  echo "setup-datasource: the ODBC driver SQLite3 (package libsqliteodbc) is missing; no data source $name set up" >&2
  exit 0
fi

home=$(getent passwd "$(id -un)" | cut -d: -f6)
data_dir="${XDG_DATA_HOME:-${home:-$HOME}/.local/share}/quorvane"
mkdir -p "$data_dir"
database="$data_dir/$name.sqlite"
{
  [ -s "$user_ini" ] && echo
  printf '[%s]\nDescription=Default database of the Quorvane job dashboard\nDriver=SQLite3\nDatabase=%s\n' \
    "$name" "$database"
} >>"$user_ini"
echo "Set up the ODBC data source $name in $user_ini (SQLite database $database)."
