#!/bin/sh
# Checks the export table of the 32-bit QvArc32.dll against include/qvarc32.h: every function
# the header declares with QV_API is exported under its plain name, nothing else is exported,
# no name carries a stdcall decoration ("Name@N"), and the import library's stdcall symbol of
# each export pops 4 bytes per parameter (one 32-bit stack slot each).
#
#   .ci/check_exports.sh [build directory]      (default: build-win32)
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build-win32}
HEADER=${HEADER:-include/qvarc32.h}
DLL=$BUILD/QvArc32.dll
IMPLIB=$BUILD/libQvArc32.dll.a
OBJDUMP=${OBJDUMP:-i686-w64-mingw32-objdump}
NM=${NM:-i686-w64-mingw32-nm}
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

[ -f "$DLL" ] || { echo "check_exports: $DLL not built" >&2; exit 1; }
"$OBJDUMP" -f "$DLL" | grep -q "file format pei-i386" ||
  { echo "check_exports: $DLL is not a 32-bit Windows DLL" >&2; exit 1; }

# Declared exports with their parameter counts, read straight from the header: each
# declaration runs from "QV_API" to the ";" that ends it.
awk '
  /^QV_API / { decl = ""; collecting = 1 }
  collecting { decl = decl " " $0; if ($0 ~ /;/) { collecting = 0; emit(decl) } }
  function emit(d,   name, params, n) {
    sub(/.*QV_CALL[ \t]+/, "", d)
    name = d; sub(/[ \t]*\(.*/, "", name)
    params = d; sub(/^[^(]*\(/, "", params); sub(/\).*/, "", params)
    gsub(/[ \t]/, "", params)
    n = (params == "" || params == "void") ? 0 : split(params, parts, ",")
    print name, n
  }' "$HEADER" | sort > "$TMP/declared"

# The DLL's export name table.
"$OBJDUMP" -p "$DLL" | awk '
  /^\[Ordinal\/Name Pointer\] Table/ { inTable = 1; next }
  inTable && NF == 0 { inTable = 0 }
  inTable { print $NF }' | sort > "$TMP/exported"

cut -d' ' -f1 "$TMP/declared" > "$TMP/declared_names"
status=0
declared=$(wc -l < "$TMP/declared_names")
exported=$(wc -l < "$TMP/exported")
echo "check_exports: $declared declared in qvarc32.h, $exported exported by $DLL"

missing=$(comm -23 "$TMP/declared_names" "$TMP/exported")
if [ -n "$missing" ]; then
  echo "check_exports: declared but not exported under the plain name:" >&2
  echo "$missing" | sed 's/^/  /' >&2
  status=1
fi
decorated=$(grep '@' "$TMP/exported" || true)
if [ -n "$decorated" ]; then
  echo "check_exports: decorated export names:" >&2
  echo "$decorated" | sed 's/^/  /' >&2
  status=1
fi
extra=$(comm -13 "$TMP/declared_names" "$TMP/exported" | grep -v '@' || true)
if [ -n "$extra" ]; then
  echo "check_exports: exported but not declared in qvarc32.h:" >&2
  echo "$extra" | sed 's/^/  /' >&2
  status=1
fi

# stdcall: the import library names each function _Name@N for N bytes of arguments.
if [ -f "$IMPLIB" ]; then
  "$NM" -g "$IMPLIB" 2>/dev/null | awk '$2 == "T" { print $3 }' |
    sed -n 's/^_\([A-Za-z0-9_]*\)@\([0-9]*\)$/\1 \2/p' | sort -u > "$TMP/stdcall"
  while read -r name count; do
    bytes=$(awk -v n="$name" '$1 == n { print $2 }' "$TMP/stdcall")
    if [ -z "$bytes" ]; then
      echo "check_exports: $name is not a stdcall function in $IMPLIB" >&2
      status=1
    elif [ "$bytes" -ne $((count * 4)) ]; then
      echo "check_exports: $name takes $count parameters but pops $bytes bytes" >&2
      status=1
    fi
  done < "$TMP/declared"
else
  echo "check_exports: $IMPLIB not built" >&2
  status=1
fi

[ $status -eq 0 ] && echo "check_exports: every declared export present, plain, stdcall; no decorated names"
exit $status
