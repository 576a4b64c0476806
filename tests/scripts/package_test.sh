#!/usr/bin/env bash
# scripts/package run on the shipped build: the zip holds exactly the four files, its sums and
# EXEs match, its name carries the EXE's own version, README.txt suits Windows and quotes the
# messages the EXE shows, and a second run gives the same bytes.
set -u
: "${SOURCE_DIR:?SOURCE_DIR must name the source tree}"
: "${BUILD_DIR:?BUILD_DIR must name the build folder}"
: "${SHIPPED_EXE:?SHIPPED_EXE must name the shipped build/Tessaly.EXE}"
shipped_dir=$(dirname "$SHIPPED_EXE")
if [ ! -f "$shipped_dir/TessalyProbe.exe" ]; then
  echo "SKIP - $shipped_dir/TessalyProbe.exe is not built, and the release needs it"
  exit 77
fi
for tool in unzip sha256sum i686-w64-mingw32-windres; do
  command -v "$tool" >/dev/null || { echo "FAIL - $tool is missing (scripts/setup installs it)"; exit 1; }
done
work=$(mktemp -d "$BUILD_DIR/scripts-tmp.XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=0
fail() { failed=$((failed + 1)); echo "FAIL - $*"; }

"$SOURCE_DIR/scripts/package" --no-build --out "$work/first" >"$work/out" 2>&1 ||
  { echo "FAIL - scripts/package failed: $(cat "$work/out")"; exit 1; }
zips=("$work"/first/*.zip)
[ ${#zips[@]} -eq 1 ] && [ -f "${zips[0]}" ] ||
  { echo "FAIL - scripts/package should write one zip; it wrote: $(ls "$work/first")"; exit 1; }
zip=${zips[0]}
name=$(basename "$zip")

listed=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
[ "$listed" = "README.txt SHA256SUMS Tessaly.EXE TessalyProbe.exe " ] ||
  fail "the zip should hold exactly README.txt, SHA256SUMS, Tessaly.EXE and TessalyProbe.exe, at its top; it holds: $listed"
unzip -q "$zip" -d "$work/x" || { echo "FAIL - unzip could not extract $name"; exit 1; }
cd "$work/x"

summed=$(awk '{ print $2 }' SHA256SUMS 2>/dev/null | sort | tr '\n' ' ')
[ "$summed" = "README.txt Tessaly.EXE TessalyProbe.exe " ] ||
  fail "SHA256SUMS should list README.txt, Tessaly.EXE and TessalyProbe.exe once each; it lists: $summed"
sha256sum --check --strict --quiet SHA256SUMS >"$work/sums" 2>&1 ||
  fail "a sum in SHA256SUMS does not match its file in the zip: $(cat "$work/sums")"

for f in Tessaly.EXE TessalyProbe.exe; do
  cmp -s "$f" "$shipped_dir/$f" || fail "$f in the zip is not the build's $shipped_dir/$f"
done

# The version the user sees in the file's properties, read back from the EXE in the zip.
rc=$(i686-w64-mingw32-windres -i Tessaly.EXE -O rc 2>&1) || { fail "windres cannot read Tessaly.EXE's resources: $rc"; rc=; }
version=${name#Tessaly-}
version=${version%.zip}
for key in FileVersion ProductVersion; do
  value=$(sed -n "s/^ *VALUE \"$key\", \"\(.*\)\"\$/\1/p" <<<"$rc")
  [ "${value# }" = "$version" ] ||
    fail "the zip's name $name says version $version, but Tessaly.EXE's $key is \"$value\""
done
if [[ $version =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)$ ]]; then
  numbers="$((10#${BASH_REMATCH[1]})), $((10#${BASH_REMATCH[2]})), $((10#${BASH_REMATCH[3]})), 0"
  for key in FILEVERSION PRODUCTVERSION; do
    value=$(sed -n "s/^ *$key \(.*\)\$/\1/p" <<<"$rc")
    [ "$value" = "$numbers" ] ||
      fail "the zip's name $name says version $version, but Tessaly.EXE's $key is $value (expected $numbers)"
  done
else
  fail "the zip's name $name does not end in -MAJOR.MINOR.BUILD.zip"
fi

bare=$(grep -n -v $'\r$' README.txt | cut -d: -f1 | head -5 | tr '\n' ' ')
[ -z "$bare" ] && [ -s README.txt ] || fail "README.txt should end every line with CR LF; lines without CR: $bare"
# Each line of each message (the caption excepted) as the EXE holds it, but the path it fills in.
text=$(tr -d '\r' <README.txt)
while IFS= read -r message; do
  while IFS= read -r line; do
    [ -z "$line" ] || [[ $line == *%s* ]] || grep -qxF -- "    $line" <<<"$text" ||
      fail "README.txt does not quote the message line \"$line\" (indented by four blanks)"
  done < <(printf '%b\n' "$message")
done < <(sed -n 's/^ *20[1-9], "\(.*\)"$/\1/p' <<<"$rc")
grep -qF 'TessalyProbe.exe > probe.txt' <<<"$text" || fail "README.txt does not say how to run the probe"

"$SOURCE_DIR/scripts/package" --no-build --out "$work/second" >"$work/out" 2>&1 || fail "a second scripts/package failed: $(cat "$work/out")"
cmp -s "$zip" "$work/second/$name" || fail "a second run on the same build gave a different $name"

[ "$failed" -eq 0 ] || exit 1
echo "ok - $name holds the four files; sums, EXEs, version, README.txt's line ends and messages match; a second run gives the same bytes"
