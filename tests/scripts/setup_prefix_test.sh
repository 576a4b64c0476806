#!/usr/bin/env bash
# scripts/setup run by a user whose own Wine prefix is exported in WINEPREFIX: that folder and
# everything in it must stay exactly as it was; the project uses its own prefix under build/.
set -u
: "${SOURCE_DIR:?SOURCE_DIR must name the source tree}"
: "${BUILD_DIR:?BUILD_DIR must name the build folder}"
work=$(mktemp -d "$BUILD_DIR/scripts-tmp.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL - $*"; exit 1; }

users_prefix=$work/users-own-prefix
mkdir -p "$users_prefix/drive_c"
printf 'precious\n' > "$users_prefix/drive_c/keep.txt"
before=$(cd "$users_prefix" && find . | sort)

WINEPREFIX=$users_prefix "$SOURCE_DIR/scripts/setup" >"$work/out" 2>&1 </dev/null ||
  fail "scripts/setup failed with the user's WINEPREFIX exported: $(cat "$work/out")"

[ -f "$users_prefix/drive_c/keep.txt" ] || fail "setup deleted the file in the user's own prefix"
[ "$(cat "$users_prefix/drive_c/keep.txt")" = precious ] || fail "setup changed the file in the user's own prefix"
after=$(cd "$users_prefix" && find . | sort)
[ "$before" = "$after" ] || fail "setup added or removed files in the user's own prefix:"$'\n'"$after"
grep -qF "leaving WINEPREFIX=$users_prefix alone" "$work/out" ||
  fail "setup should say that it leaves the user's prefix alone; it printed: $(cat "$work/out")"
echo "ok - the user's own prefix and its file are untouched; setup said so"
