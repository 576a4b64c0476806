#!/usr/bin/env bash
# TessalyProbe.exe against simulated handhelds: devsim.dll registered in one private copy of
# the prefix serves each case's scenario; the report on standard output and the device's
# saved state (its call counts) are what the cases examine.
set -uo pipefail
source "$SOURCE_DIR/scripts/wine-env"
: "${PROBE_EXE:?PROBE_EXE must name the built TessalyProbe.exe}"
: "${DEVSIM_DLL:?DEVSIM_DLL must name the built devsim.dll}"
SCENARIOS="$SOURCE_DIR/tests/program/scenarios"
work=$(mktemp -d "$BUILD_DIR/program-tmp.XXXXXX")
base_prefix=$WINEPREFIX
export WINEPREFIX=$work/prefix
cleanup() { wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT
cp -a "$base_prefix" "$WINEPREFIX"
mkdir -p "$WINEPREFIX/drive_c/Tessaly"
cp "$DEVSIM_DLL" "$WINEPREFIX/drive_c/Tessaly/devsim.dll"
cp "$PROBE_EXE" "$WINEPREFIX/drive_c/Tessaly/TessalyProbe.exe"
wineserver -p </dev/null >/dev/null 2>&1
wine regsvr32 /s 'C:\Tessaly\devsim.dll' </dev/null >/dev/null 2>&1 || { echo "FAIL - regsvr32 could not register devsim.dll"; exit 1; }
PASSED=0
FAILED=0
CASE=""
pass() { PASSED=$((PASSED + 1)); echo "ok   - $CASE: $1"; }
fail() { FAILED=$((FAILED + 1)); echo "FAIL - $CASE: $1"; }
expect() { if [ "$1" == "$2" ]; then pass "$3"; else fail "$3: got [$1], expected [$2]"; fi; }
# has LINE WHAT: the report holds exactly that line.
has() { if grep -qxF -- "$1" <<<"$REPORT"; then pass "$2"; else fail "$2: no line [$1] in the report"; fi; }
# value KEY: the rest of the report's first line "KEY: ...".
value() { sed -n "s/^$1: //p" <<<"$REPORT" | head -1; }
calls() { local n; n=$(tr -d '\r' <"$work/state.txt" | sed -n "s/^count $1 //p" | head -1); echo "${n:-0}"; }

# probe SCENARIO-FILE [ARGS]: runs the probe on that scenario (a file, or text in SCENARIO_TEXT).
probe() {
  local scenario=$1
  shift
  rm -f "$work/state.txt" "$WINEPREFIX/drive_c/windows/CORVANE_INFO.ini"
  [ -n "${CONFIG:-}" ] && printf '%s\r\n' "$CONFIG" > "$WINEPREFIX/drive_c/windows/CORVANE_INFO.ini"
  REPORT=$(DEVSIM_SCENARIO="$(winepath -w "$scenario")" DEVSIM_STATE="$(winepath -w "$work/state.txt")" \
           timeout 240 wine 'C:\Tessaly\TessalyProbe.exe' "$@" </dev/null 2>/dev/null | tr -d '\r')
  printf '%s\n' "$REPORT" > "$ARTIFACTS_DIR/probe-$(tr ' ' '-' <<<"$CASE").txt" 2>/dev/null || true
  CONFIG=""
}
scenario() { printf '%s' "$1" > "$work/scenario.txt"; echo "$work/scenario.txt"; }
mkdir -p "${ARTIFACTS_DIR:=$BUILD_DIR/artifacts}"
WRITES='IPortableDeviceProperties::SetValues IPortableDeviceContent::Delete IPortableDeviceContent::CreateObjectWithPropertiesAndData IStream::Write IStream::Commit'

CASE="small handheld"
probe "$(scenario $'device \\\\?\\usb#small\nstorage Internal storage\nfolder Internal storage/DCIM\nfolder Internal storage/Download\nfile Internal storage/Corvane/Corvane_Info.ini\n[Corvane]\nName=Small\n.\n')"
has "verdict: found: Internal storage/Corvane/Corvane_Info.ini" "the verdict names the path of the settings file"
# The benchmark's discovery on its small handheld (its "discovery:" line): one open, the
# listings of DEVICE, the storage, DCIM, Download and Corvane, one Next per child and one per
# end of a listing that ran to its end, one name read per object below DEVICE.
has "discovery count: IPortableDevice::Open 1" "discovery opens the device once"
has "discovery count: IPortableDeviceContent::EnumObjects 5" "discovery lists 5 folders, as the benchmark counts"
has "discovery count: IEnumPortableDeviceObjectIDs::Next 7" "discovery asks Next 7 times, as the benchmark counts"
has "discovery count: IPortableDeviceProperties::GetValues 5" "discovery reads 5 names, as the benchmark counts"
has "read count: IPortableDeviceResources::GetStream 1" "the dialog's read downloads the file once"
# Every device object the layer and the probe make goes through the FTM class's stand-in.
grep -q '^stand-in PortableDeviceFTM: [1-9][0-9]* made, answered every request$' <<<"$REPORT" &&
  pass "the FTM stand-in made the devices and answered every request" ||
  fail "no FTM stand-in line with objects made and every request answered: $(grep '^stand-in' <<<"$REPORT" | tr '\n' '|')"
for m in $WRITES; do expect "$(calls "$m")" 0 "no $m reached the device without --write-test"; done
# A phone without Android's edit operations: the lines of the edit path say the replace.
has "edit operations: not listed" "the edit operations are reported as not listed"
has "settings file handle: 0x5, checked by its name" "the settings file's id maps to a handle that checks"
has "settings file size: WPD 23, device 23" "the size as WPD states it and as the device does"
has "a save would take: replace" "the path a save would take"
[ "$(value 'probe wall time')" != "" ] && pass "the summary gives the probe's wall time" || fail "no probe wall time in the summary"

CASE="write test"
sed -i 's/^storage Internal storage$/edit-ops listed\nstorage Internal storage/' "$work/scenario.txt"
probe "$work/scenario.txt" --write-test
has "a save would take: in place" "with the edit operations listed, a save would edit in place"
has "write test: rewrite in place: 0x00000000 S_OK" "the write test rewrites its file in place"
has "write test: read back in place: the same" "and reads back what it wrote"
grep -q '^rename keeps the id: yes' <<<"$REPORT" && pass "the write test tells that a rename keeps the id" || fail "no rename result: $(grep '^write test' <<<"$REPORT" | tr '\n' '|')"
expect "$(calls IStream::Commit)" 1 "the write test creates one file"
expect "$(calls IPortableDeviceContent::Delete)" 1 "the write test deletes its file"
expect "$(tr -d '\r' <"$work/state.txt" | grep -c 'TessalyProbe')" 0 "nothing of the write test is left on the device"
grep -q '^hex Internal storage/Corvane/Corvane_Info.ini 5b436f7276616e655d0d0a4e616d653d536d616c6c0d0a$' <(tr -d '\r' <"$work/state.txt") &&
  pass "the settings file is untouched" || fail "the settings file changed or is gone"

CASE="deeper than SearchDepth"
# 100 songs (audio, by their names) that refuse a listing, as a phone's files do: the full walk
# asks only what may hold others.
{ printf 'device \\\\?\\usb#deep\nstorage Internal storage\nfiles-refuse-listing\n'; for i in $(seq -w 1 100); do echo "hex Internal storage/Music/track$i.mp3 -"; done
  printf 'file Internal storage/Documents/Backup/Corvane/Corvane_Info.ini\n[Corvane]\nName=Deep\n.\n'; } > "$work/scenario.txt"
probe "$work/scenario.txt"
has "verdict: deeper than SearchDepth: found at depth 5 by a full walk to depth 5" "the verdict gives the depth of the file one level deeper than SearchDepth"
has "file: Internal storage/Documents/Backup/Corvane/Corvane_Info.ini" "the full walk names where the file is"
listings=$(calls IPortableDeviceContent::EnumObjects)
[ "$listings" -lt 50 ] && pass "the whole probe lists $listings objects: no song is asked for children" ||
  fail "the probe asked $listings listings of a device with 100 songs: the full walk lists files"
CONFIG=$'[Corvane]\nSearchDepth=5' probe "$work/scenario.txt"
has "verdict: found: Internal storage/Documents/Backup/Corvane/Corvane_Info.ini" "with SearchDepth=5 the layer finds it"
has "SearchDepth: 5" "Setup shows SearchDepth as the layer reads it"

CASE="first device refuses"
probe "$(scenario $'device \\\\?\\usb#locked\ndeny all\nstorage Internal storage\ndevice \\\\?\\usb#second\nfile Card/Corvane/Corvane_Info.ini\n[Corvane]\nName=Second\n.\n')"
has "  open read-write: 0x80070005 E_ACCESSDENIED" "the devices section reports the refused open with its code"
has "verdict: found: Card/Corvane/Corvane_Info.ini" "the handheld behind the refusing device is found"
has 'device: 2 (\\?\usb#second)' "the verdict names the second device"
has 'noted: device 1 (\\?\usb#locked): IPortableDevice::Open on \\?\usb#locked answered 0x80070005 E_ACCESSDENIED' "the refused device is noted with the call and the code"

CASE="locked handheld"
# A phone that refuses to open, then a locked one: it opens and lists no storage.
probe "$(scenario $'device \\\\?\\usb#refuses\ndeny all\nstorage Internal storage\ndevice \\\\?\\usb#locked\nfriendly Locked phone\n')"
has 'verdict: not found: device 2 (\\?\usb#locked): no storage: unlock the handheld, set its USB connection to File transfer, and try again' \
  "the verdict names the device without storage and gives Tessaly's advice, before the device that refused"
has 'reason: device 2 (\\?\usb#locked): IPortableDeviceContent::EnumObjects on DEVICE listed no storage' "a reason line shows the empty listing of DEVICE"
has 'reason: device 1 (\\?\usb#refuses): IPortableDevice::Open on \\?\usb#refuses answered 0x80070005 E_ACCESSDENIED' "the refusing device is a reason too"
expect "$(grep -c '^verdict' <<<"$REPORT")" 1 "one verdict, and no full walk after a device without storage"

CASE="folders the layer passes over"
# Android refuses its listing and another folder's name cannot be read: both are passed over.
SKIPPING=$'device \\\\?\\usb#android\nnameless-storages\nstorage Internal storage\nfolder Internal storage/Android/data\nlisting-fails 8007001F Internal storage/Android\nfolder Internal storage/Alarms\nvalue-error 80070079 name Internal storage/Alarms\n'
probe "$(scenario "$SKIPPING"$'file Internal storage/Corvane/Corvane_Info.ini\n[Corvane]\nName=Android\n.\n')"
has "verdict: found: Internal storage/Corvane/Corvane_Info.ini" "the app folder after the refusing Android folder is found"
# Ids by order of creation: the storage o1, Android o2, data o3, Alarms o4.
has 'skipped: device 1 (\\?\usb#android): IPortableDeviceContent::EnumObjects on o2 answered 0x8007001F ERROR_GEN_FAILURE' \
  "the Android folder is noted as skipped with its listing's code"
has 'skipped: device 1 (\\?\usb#android): IPortableDeviceProperties::GetValues on o4 could not read WPD_OBJECT_ORIGINAL_FILE_NAME: 0x80070079 ERROR_SEM_TIMEOUT' \
  "the folder whose name could not be read is noted as skipped with the name's code"
expect "$(grep -c '^noted:\|^reason:' <<<"$REPORT")" 0 "what was passed over is neither noted nor a reason"
probe "$(scenario "$SKIPPING")"
has "verdict: not found: no folder Corvane holding Corvane_Info.ini on any device (full walk to depth 12)" \
  "without the app folder, the passed-over folders are no reason: the full walk decides"
grep -q '^skipped: device 1 .* on o2 answered 0x8007001F' <<<"$REPORT" && pass "the skipped folder is noted after a not found too" ||
  fail "no skipped line for the Android folder after the not found: $(grep '^skipped\|^verdict' <<<"$REPORT" | tr '\n' '|')"

CASE="phone in photo mode"
probe "$SCENARIOS/photo_mode.scenario"
has 'verdict: not found: device 1 (\\?\usb#vid_18d1&pid_4ee2#photos): photos only: set its USB connection to File transfer, and try again' \
  "the verdict names the phone that shares only its photos, with Tessaly's advice"
expect "$(grep -c '^verdict' <<<"$REPORT")" 1 "one verdict, and no full walk after it"

CASE="app folder that cannot be listed"
# The app folder refuses its listing, and a copy in Documents follows: the device ends there.
probe "$(scenario $'device \\\\?\\usb#twoapps\nstorage Internal storage\nfile Internal storage/Corvane/Corvane_Info.ini\n[Corvane]\nName=First\n.\nfile Internal storage/Documents/Corvane/Corvane_Info.ini\n[Corvane]\nName=Copy\n.\nlisting-fails 8007001F Internal storage/Corvane\n')"
# Ids by order of creation: the storage o1, Corvane o2.
has 'verdict: not found: device 1 (\\?\usb#twoapps): IPortableDeviceContent::EnumObjects on o2 answered 0x8007001F ERROR_GEN_FAILURE' \
  "the verdict names the device and the app folder's listing that ended it, not the copy in Documents"
expect "$(grep -c '^verdict' <<<"$REPORT")" 1 "one verdict, and no full walk after it"

CASE="full walk cut short"
# 4100 folders at depth 3, the app folder in the last: more than the full walk keeps of a level.
{ printf 'device \\\\?\\usb#crowded\nstorage Internal storage\n'; for i in $(seq -w 1 4099); do echo "folder Internal storage/Many/f$i"; done
  printf 'file Internal storage/Many/f4100/Corvane/Corvane_Info.ini\n[Corvane]\nName=Crowded\n.\n'; } > "$work/crowded.txt"
probe "$work/crowded.txt"
has "full walk: cut short at depth 3 on device 1: 4 of 4100 objects that may hold others were not looked into (at most 4096 are kept a level)" \
  "the report says at which depth the full walk was cut and how many objects it left out"
has "verdict: no verdict: the full walk to depth 12 was cut short and did not find the file in what it looked at; it may lie in what was left out" \
  "a not found after the cut says it is no verdict"
expect "$(grep -c '^verdict' <<<"$REPORT")" 1 "one verdict line"

CASE="no FTM class"
probe "$(scenario $'ftm-missing\ndevice \\\\?\\usb#small\nstorage Internal storage\nfile Internal storage/Corvane/Corvane_Info.ini\n[Corvane]\nName=Small\n.\n')"
grep -q '^stand-in PortableDevice: [1-9][0-9]* made, answered every request$' <<<"$REPORT" &&
  pass "without the FTM class the devices come from the PortableDevice stand-in" ||
  fail "no PortableDevice stand-in line with objects made: $(grep '^stand-in' <<<"$REPORT" | tr '\n' '|')"
expect "$(grep -c '^stand-in PortableDeviceFTM' <<<"$REPORT")" 0 "no stand-in line for the class that could not be intercepted"

CASE="value error on a storage"
probe "$(scenario $'device \\\\?\\usb#sick\nstorage Internal storage\nfile Internal storage/Corvane/Corvane_Info.ini\n[Corvane]\nName=Sick\n.\nvalue-error 8007001F name Internal storage\n')"
# A storage has no file name, whatever code the driver gives: the handheld is found, the code noted.
has "verdict: found: Internal storage/Corvane/Corvane_Info.ini" "the handheld is found in spite of the storage's code"
grep -q '^noted: device 1 .*could not read WPD_OBJECT_ORIGINAL_FILE_NAME: 0x8007001F ERROR_GEN_FAILURE$' <<<"$REPORT" &&
  pass "the report notes the storage's per-key code" || fail "no line noting 0x8007001F: $(grep '^noted\|^reason\|^verdict' <<<"$REPORT" | tr '\n' '|')"
grep -q 'WPD_OBJECT_ORIGINAL_FILE_NAME=0x8007001F ERROR_GEN_FAILURE' <<<"$REPORT" && pass "the walk shows the code on the call" || fail "the walk's call line lacks the per-key code"

CASE="bulk reads"
probe "$SCENARIOS/small_with_photos.scenario"
grep -q '^bulk by list: 50 values sets for 50 children, complete: yes, ' <<<"$REPORT" && pass "bulk by list brings every child" || fail "bulk by list: $(value 'bulk by list')"
grep -q '^bulk by format, depth 1: 121 values sets, folder itself included: yes, listed children all in: yes' <<<"$REPORT" &&
  pass "bulk by format brings the folder itself and its 120 children" || fail "bulk by format: $(value 'bulk by format, depth 1')"
grep -q '^listing: [^,]*, 120 children in ' <<<"$REPORT" && pass "the listing measured is the largest folder the walk listed" || fail "listing: $(value listing)"
probe "$(scenario "$(sed 's/^friendly .*/no-bulk/' "$SCENARIOS/small_with_photos.scenario")")"
has "bulk: not available (QueryInterface answered 0x80004002 E_NOINTERFACE)" "a device without bulk reads gives a clean not available"
grep -q '^assumption a bulk read of a folder takes about one request: not measured' <<<"$REPORT" && pass "the summary says bulk was not measured" || fail "summary on bulk: $(grep 'bulk read' <<<"$REPORT")"

CASE="latency 4 ms"
probe "$(scenario "$(printf 'latency 4\n'; cat "$SCENARIOS/small_with_photos.scenario")")"
median=$(value 'median request' | sed 's/ ms$//')
awk -v m="$median" 'BEGIN { exit !(m >= 4 && m <= 8) }' && pass "median request time $median ms is within 4 to 8 ms" ||
  fail "median request time [$median] ms is not within 4 to 8 ms"

CASE="typical handheld"
probe "$(scenario "$(printf 'latency 4\n'; cat "$SCENARIOS/typical.scenario")")"
has "verdict: found: Internal storage/Corvane/Corvane_Info.ini" "the settings file is found on the typical handheld"
has "assumption a storage has no file name: confirmed (absent from the reply)" "the nameless storage confirms that storages have no file name"
walk=$(value 'walk time' | sed 's/ ms$//'); measured=$(value 'measurement time' | sed 's/ ms$//'); total=$(value 'probe wall time' | sed 's/ ms$//')
awk -v w="$walk" -v m="$measured" -v t="$total" 'BEGIN { exit !(w > 0 && t <= 2 * (w + m)) }' &&
  pass "the whole report ($total ms) takes at most twice the walk ($walk ms) plus the measurements ($measured ms)" ||
  fail "the report took $total ms, more than twice the walk ($walk ms) plus the measurements ($measured ms)"
for m in $WRITES; do expect "$(calls "$m")" 0 "no $m reached the device"; done

echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
