#!/usr/bin/env bash
# The tool as an administrator gets it, run with no environment variables:
#   installed_tool.sh install <build dir> <version>  cmake --install to a
#       temporary prefix, moved elsewhere afterwards;
#   installed_tool.sh package <build dir> <version>  cpack -G DEB, the packages
#       unpacked with dpkg -x into a scratch root.
# Either way the installed kvdbmgr must find its drivers and the installed
# schema, initialise an SQLite database from it, and have its man page.
set -euo pipefail
mode=$1 build=$2 version=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
banner="Korvel Database Manager Version $version"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Drivers the build made (the test-only scripted module is never installed).
drivers=()
for f in "$build"/bin/*.ddr; do
  name=$(basename "$f" .ddr)
  [ "$name" = scripted ] || drivers+=("$name")
done

case $mode in
  install)
    cmake --install "$build" --prefix "$scratch/first" >/dev/null
    # Nothing in the tree may depend on where it was installed.
    mv "$scratch/first" "$scratch/root"
    prefix=$scratch/root
    ;;
  package)
    (cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >/dev/null)
    main=$(ls "$scratch"/pkg/kvdbmgr_*.deb)
    depends=$(dpkg-deb -f "$main" Depends)
    echo "kvdbmgr depends on: $depends"
    # An SQLite-only site installs no server client library.
    if grep -Eq 'libpq|libmariadb|odbc' <<< "$depends"; then fail "kvdbmgr package depends on a server client: $depends"; fi
    if dpkg-deb -c "$main" | grep -Eq '(pgsql|mysql|odbc)\.ddr'; then fail "server driver inside the kvdbmgr package"; fi
    for d in "${drivers[@]}"; do
      [ "$d" = sqlite ] && continue
      deb=$(ls "$scratch"/pkg/kvdbmgr-"$d"_*.deb 2>/dev/null) || { fail "no package for driver $d"; continue; }
      echo "kvdbmgr-$d depends on: $(dpkg-deb -f "$deb" Depends)"
      dpkg-deb -f "$deb" Depends | grep -q 'kvdbmgr (=' || fail "kvdbmgr-$d does not depend on kvdbmgr"
    done
    for deb in "$scratch"/pkg/*.deb; do dpkg -x "$deb" "$scratch/root"; done
    prefix=$scratch/root/usr
    ;;
  *) echo "usage: $0 install|package <build dir> <version>" >&2; exit 2 ;;
esac

tool=$prefix/bin/kvdbmgr
schema=$prefix/share/kvdbmgr/sql/sqlite.sql
[ -x "$tool" ] || fail "no $tool"
for dialect in sqlite pgsql mysql mssql oracle; do
  [ -f "$prefix/share/kvdbmgr/sql/$dialect.sql" ] || fail "schema $dialect.sql not installed"
done
run() { env -i PATH=/usr/bin:/bin "$tool" "$@"; }

cat > "$scratch/k.conf" <<CONF
DBDriver = sqlite
DBName = $scratch/k.db
CONF
expected=$(printf '%s\n\nInitializing database...\nDatabase initialized successfully' "$banner")
out=$(run -c "$scratch/k.conf" init "$schema") || fail "init exited $?"
[ "$out" = "$expected" ] || fail "init printed: $out"
out=$(run -c "$scratch/k.conf" unlock) || fail "unlock exited $?"
[ "$out" = "$(printf '%s\n\nDatabase is not locked' "$banner")" ] || fail "unlock printed: $out"

# Every server driver is found: its connection to a closed port fails (4), not its loading (3).
for d in "${drivers[@]}"; do
  [ "$d" = sqlite ] && continue
  printf 'DBDriver = %s\nDBServer = 127.0.0.1:1\nDBName = x\n' "$d" > "$scratch/$d.conf"
  [ "$d" = odbc ] && printf 'DBDriver = odbc\nDBServer = kv-no-such-dsn\n' > "$scratch/$d.conf"
  code=0
  run -c "$scratch/$d.conf" unlock >/dev/null 2>"$scratch/err" || code=$?
  [ $code -eq 4 ] || { fail "driver $d: exit $code"; cat "$scratch/err"; }
done

page=$(MANPATH="$prefix/share/man" man -P cat kvdbmgr 2>/dev/null) || fail "man kvdbmgr found no page"
grep -q "$version" <<< "$page" || fail "man page does not name version $version"

[ $failures -eq 0 ] && echo "installed tool ($mode): drivers ${drivers[*]} found, schema initialised, man page shown"
exit $((failures > 0))
