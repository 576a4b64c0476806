#!/usr/bin/env bash
# The devsim server DLL, registered with regsvr32 in a private copy of the prefix, answers an
# unmodified client's CoCreateInstance with the devices of a scenario file and writes the
# state (tree and call counts) back when the client ends.
set -euo pipefail
source "$SOURCE_DIR/scripts/wine-env"
work=$(mktemp -d "$BUILD_DIR/program-tmp.XXXXXX")
base_prefix=$WINEPREFIX
export WINEPREFIX=$work/prefix
cleanup() { wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT
cp -a "$base_prefix" "$WINEPREFIX"
fail() { echo "FAIL: $*"; exit 1; }

wine regsvr32 /s "$(winepath -w "$DEVSIM_DLL")" </dev/null >/dev/null 2>&1 || fail "regsvr32 could not register devsim.dll"

cat > "$work/scenario.txt" <<'SCN'
# first device: no app folder; second: the settings file one folder down
device usb#first
folder Phone/DCIM
device usb#second
file Card/Corvane/Corvane_Info.ini
[Corvane]
Name=Probe
.
SCN
out=$(DEVSIM_SCENARIO="$(winepath -w "$work/scenario.txt")" DEVSIM_STATE="$(winepath -w "$work/state.txt")" \
      wine "$TOOLS_DIR/devsim_probe.exe" </dev/null 2>/dev/null | tr -d '\r')
expected=$'devices 2\ndevice usb#first\n  child Phone\ndevice usb#second\n  child Card'
[ "$out" = "$expected" ] || fail "the probe saw other devices than the scenario describes:"$'\n'"$out"

state=$(tr -d '\r' < "$work/state.txt") || fail "no state file was written at process end"
grep -qx 'hex Card/Corvane/Corvane_Info.ini 5b436f7276616e655d0d0a4e616d653d50726f62650d0a' <<<"$state" ||
  fail "the state must hold the settings file with CRLF line ends:"$'\n'"$state"
grep -qx 'count IPortableDeviceManager::GetDevices 2' <<<"$state" ||
  fail "the state must count the two GetDevices calls (count, then fill):"$'\n'"$state"
grep -qx 'count CoCreateInstance:Manager 1' <<<"$state" || fail "the state must count one manager creation"
echo "devsim server: registered, listed 2 devices, state written"
