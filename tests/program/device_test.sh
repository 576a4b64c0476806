#!/usr/bin/env bash
# The real Tessaly.EXE against a simulated handheld: devsim.dll registered in the case's
# prefix answers CoCreateInstance with the devices of a scenario file and writes the
# device's state (tree and call counts) back, which is what these cases examine.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
: "${DEVSIM_DLL:?DEVSIM_DLL must name the built devsim.dll}"

# use_devsim SCENARIO: after case_start, registers devsim.dll in the case's prefix and points
# it at the scenario (written with LF lines; devsim stores file lines with CRLF).
use_devsim() {
  printf '%s' "$1" > "$CASE_DIR/scenario.txt"
  cp "$DEVSIM_DLL" "$WINEPREFIX/drive_c/Tessaly/devsim.dll"
  timeout 30 wine regsvr32 /s 'C:\Tessaly\devsim.dll' </dev/null >/dev/null 2>&1 ||
    fail "regsvr32 could not register devsim.dll"
  export DEVSIM_SCENARIO DEVSIM_STATE
  DEVSIM_SCENARIO=$(winepath -w "$CASE_DIR/scenario.txt")
  DEVSIM_STATE=$(winepath -w "$CASE_DIR/state.txt")
}

# device_file PATH: the bytes of the device file PATH ("/"-joined names) in the state, or
# "<no file>".
device_file() {
  local line
  line=$(tr -d '\r' < "$CASE_DIR/state.txt" 2>/dev/null | grep -F "hex $1 " | head -1)
  [ -n "$line" ] || { echo "<no file>"; return; }
  printf '%b' "$(sed 's/../\\x&/g' <<<"${line##* }")"
}

# device_name PATH: Name in section [Corvane] of that device file (see ini_name).
device_name() {
  device_file "$1" > "$CASE_DIR/device.ini"
  if grep -qx '<no file>' "$CASE_DIR/device.ini"; then echo "<no file>"; else ini_name "$CASE_DIR/device.ini"; fi
}

# calls METHOD: how often the program called it, from the state's count lines (0 if never).
calls() {
  local n
  n=$(tr -d '\r' < "$CASE_DIR/state.txt" 2>/dev/null | sed -n "s/^count $1 //p" | head -1)
  echo "${n:-0}"
}

# app_folder_files: the files in the handheld's app folder, from the state, one line.
app_folder_files() {
  tr -d '\r' < "$CASE_DIR/state.txt" 2>/dev/null | sed -n 's|^hex Internal storage/Corvane/\([^ ]*\) .*|\1|p' | sort | tr '\n' ' ' | sed 's/ $//'
}

# owner_of PATH: "app" when the state says the app owns the device file, "mtp" when a new object
# made over MTP took its place.
owner_of() {
  tr -d '\r' < "$CASE_DIR/state.txt" 2>/dev/null | grep -qxF "mtp-owned $1" && echo mtp || echo app
}

SETTINGS='Internal storage/Corvane/Corvane_Info.ini'
HANDHELD=$'device \\\\?\\usb#vid_18d1&pid_4ee7#test
storage Internal storage
folder Internal storage/DCIM/Camera
folder Internal storage/Download
file Internal storage/Corvane/Corvane_Info.ini
[Before]
Kept=1
[Corvane]
Name=Device Phone
Colour=green
[After]
Also=kept
.
'
OTHER_LINES=$'[Before]\nKept=1\n[Corvane]\nColour=green\n[After]\nAlso=kept'

# other_lines_kept: every line of the stored file but Name is still there, nothing added.
other_lines_kept() {
  local content
  content=$(device_file "$SETTINGS" | tr -d '\r' | grep -v '^Name=' | grep -v '^$')
  expect "$content" "$OTHER_LINES" "every other section and key of the device file kept, in order"
}

# ---- the dialog ----

# Runs the program without a name, checks the dialog shows the device's name, types TEXT
# and ends the dialog with KEY (Return or Escape); SHOT, when given, keeps a screenshot.
edit_device_dialog() {
  local text=$1 key=$2 shot=${3:-}
  run_start "\"$EXE_DOS\""
  INFO=$(probe dialog Tessaly 15000)
  expect "$(field field "$INFO")" "Device Phone" "field shows the name stored on the device"
  [ -n "$shot" ] && screenshot "$shot"
  if WIN=$(find_window '^Tessaly$'); then
    keys_to "$WIN" ctrl+a && xdotool type --delay 30 "$text"
    keys_to "$WIN" "$key"
  else
    fail "xdotool cannot see the dialog: $INFO"; probe close Tessaly >/dev/null
  fi
  run_wait
}

case_begin "no drive has the file: the dialog opens with the device's name; Enter writes the edit"
case_start
use_devsim "$HANDHELD"
edit_device_dialog "Pocket 9" Return device-dialog.png
expect "$(device_name "$SETTINGS")" "Pocket 9" "edited name written into the device's file"
other_lines_kept
expect "$(calls IPortableDeviceResources::GetStream)" "3" "one download; the new copy, then the file under its name, read back"
expect "$(calls IPortableDeviceContent::CreateObjectWithPropertiesAndData)" "1" "one upload"
expect "$(calls IPortableDeviceContent::Delete)" "1" "the old object deleted once, after the new one was committed"
expect "$(calls IPortableDeviceProperties::SetValues)" "2" "the old file renamed aside, the new one to the real name"
expect "$(owner_of "$SETTINGS")" "mtp" "without the edit operations the file is a new object, made over MTP"

case_begin "on a phone with Android's edit operations the dialog's save keeps the file the app's"
case_start
use_devsim "$HANDHELD"$'\nedit-ops listed\n'
edit_device_dialog "In Place" Return
expect "$(device_name "$SETTINGS")" "In Place" "edited name written into the device's file"
other_lines_kept
expect "$(owner_of "$SETTINGS")" "app" "the file is still the app's own"
expect "$(calls IPortableDeviceContent::Delete)" "2" "the two copies made on the way deleted"
expect "$(calls IPortableDeviceProperties::SetValues)" "0" "nothing renamed"
expect "$(app_folder_files)" "Corvane_Info.ini" "only the settings file in the app folder"

case_begin "on a phone with Android's edit operations a command-line save keeps the file the app's"
case_start
use_devsim "$HANDHELD"$'\nedit-ops listed\n'
run_sync "\"$EXE_DOS\" Command In Place"
expect "$(device_name "$SETTINGS")" "Command In Place" "name written into the device's file"
other_lines_kept
expect "$(owner_of "$SETTINGS")" "app" "the file is still the app's own"

case_begin "Esc in the device dialog writes nothing and uploads nothing"
case_start
use_devsim "$HANDHELD"
edit_device_dialog "Never" Escape
expect "$(device_name "$SETTINGS")" "Device Phone" "device name unchanged"
other_lines_kept
expect "$(calls IPortableDeviceResources::GetStream)" "1" "one download (for the dialog's read)"
expect "$(calls IPortableDeviceContent::CreateObjectWithPropertiesAndData)" "0" "no upload"
expect "$(calls IPortableDeviceContent::Delete)" "0" "nothing deleted"

# ---- the command line ----

case_begin "a command-line name goes to the device with one download and one upload, read back"
case_start
use_devsim "$HANDHELD"
run_sync "\"$EXE_DOS\" Command Name"
expect "$(device_name "$SETTINGS")" "Command Name" "name written into the device's file"
other_lines_kept
expect "$(calls IPortableDeviceResources::GetStream)" "3" "one download; the new copy, then the file under its name, read back"
expect "$(calls IPortableDeviceContent::CreateObjectWithPropertiesAndData)" "1" "one upload"
expect "$(probe windows | sed -n 's/^count //p')" "0" "no window left over"

# ---- writes that fail: said in one message box, exit code still 0 ----

# kept_copy: the working copy a failed write left in the prefix's temporary folder ("" if none).
kept_copy() {
  ls "$WINEPREFIX"/drive_c/users/*/Temp/TMP*.tmp 2>/dev/null | head -1
}

# expect_kept_copy_message NAME BEFORE AFTER WHAT: the message box of a write that failed is
# BEFORE, the kept copy's path, then AFTER (line feeds written \\n); the copy holds NAME, and is
# removed afterwards.
expect_kept_copy_message() {
  local name=$1 before=$2 after=$3 what=$4 kept kept_dos
  kept=$(kept_copy)
  expect "$(ini_name "${kept:-/nonexistent}")" "$name" "the working copy holding the new name stays in the temporary folder"
  kept_dos=$(winepath -w "${kept:-/nonexistent}" 2>/dev/null | tr -d '\r' | sed 's/\\/\\\\/g')
  expect "$(cat "$CASE_DIR/box.txt")" "$before$kept_dos$after" "$what"
  rm -f "${kept:-/nonexistent}"
}

# expect_as_it_was_message NAME: the message of a write that failed with the device's file as it was.
expect_as_it_was_message() {
  expect_kept_copy_message "$1" \
    "The name was not saved. The handheld's settings file is as it was.\\n\\nReconnect the handheld to the desktop and try again.\\n\\nA copy with the new name is in:\\n" "" \
    "the message says the name was not saved, the handheld's file is as it was, and where the copy is"
}

case_begin "short writes on a handheld that renames: the old file never leaves its name, the user is told"
case_start
use_devsim "${HANDHELD/storage Internal storage/shortwrites
storage Internal storage}"
run_start "\"$EXE_DOS\" Unsaved Name"
message_box "(none)"
KEPT_COPY=1 run_wait
expect_as_it_was_message "Unsaved Name"
expect "$(device_name "$SETTINGS")" "Device Phone" "the device keeps its settings file, unchanged"
other_lines_kept

case_begin "short writes on a handheld that cannot rename: it keeps its file as well, the user is told"
case_start
use_devsim "${HANDHELD/storage Internal storage/shortwrites
rename-refused
storage Internal storage}"
run_start "\"$EXE_DOS\" Unsaved Name"
message_box "(none)"
KEPT_COPY=1 run_wait
expect_as_it_was_message "Unsaved Name"
expect "$(device_name "$SETTINGS")" "Device Phone" "the device keeps its settings file, unchanged"
expect "$(app_folder_files)" "Corvane_Info.ini" "nothing left beside it"

case_begin "the file could not be written back under its name: the message names the kept copy, the next run puts it back"
case_start
use_devsim "${HANDHELD/storage Internal storage/rename-refused
fail IStream::Commit 2 80004005
fail IStream::Commit 3 80004005
fail IStream::Commit 4 80004005
fail IStream::Commit 5 80004005
storage Internal storage}"
PROBE_CMDLINE="\"$EXE_DOS\" Unsaved Name" timeout 60 wine "$PROBE" run 45000 >"$CASE_DIR/run.out" 2>&1 </dev/null &
RUN_PID=$!
message_box "(none)" not-saved.png
wait "$RUN_PID"
out=$(tr -d '\r' <"$CASE_DIR/run.out")
expect "$(grep -E '^(exit|timeout|error)' <<<"$out" | head -1)" "exit 0" "program ended with exit code 0"
expect "$(device_file "$SETTINGS")" "<no file>" "the file is not under its name"
expect "$(device_name 'Internal storage/Corvane/Corvane_Info.ini.tessaly-new')" "Unsaved Name" \
  "the complete new copy is still on the handheld, under its own name"
expect_kept_copy_message "Unsaved Name" \
  "The name was not saved, and the handheld may not hold its settings file.\\n\\nA copy with the new name is in:\\n" \
  "\\n\\nCopy it to the folder Corvane on the handheld as Corvane_Info.ini." "the message names the file that holds the settings"
# The next run, on the handheld as this one left it: the new copy is read and put back.
cp "$CASE_DIR/state.txt" "$CASE_DIR/next.txt"
DEVSIM_SCENARIO=$(winepath -w "$CASE_DIR/next.txt")
run_sync "\"$EXE_DOS\" Next Name"
expect "$(device_name "$SETTINGS")" "Next Name" "the next run's name is under the real name"
other_lines_kept
expect "$(app_folder_files)" "Corvane_Info.ini" "and the new copy is gone"

case_begin "a run killed while the file was renamed aside: the next run finds the handheld and reads the new copy"
case_start
use_devsim "$(sed 's|^file Internal storage/Corvane/Corvane_Info.ini$|file Internal storage/Corvane/Corvane_Info.ini.tessaly-new|; s/^Name=Device Phone$/Name=Renamed Away/' <<<"$HANDHELD")
file Internal storage/Corvane/Corvane_Info.ini.tessaly-old
[Corvane]
Name=Old Phone
.
"
run_start "\"$EXE_DOS\""
INFO=$(probe dialog Tessaly 15000)
expect "$(field field "$INFO")" "Renamed Away" "the dialog shows the name of the complete new copy"
expect "$(device_name "$SETTINGS")" "Renamed Away" "the file was back under its name before the dialog showed"
if WIN=$(find_window '^Tessaly$'); then keys_to "$WIN" Escape; else fail "xdotool cannot see the dialog: $INFO"; probe close Tessaly >/dev/null; fi
run_wait
expect "$(app_folder_files)" "Corvane_Info.ini" "only the settings file is left in the app folder"
content=$(device_file "$SETTINGS" | tr -d '\r' | grep -v '^Name=' | grep -v '^$')
expect "$content" "$OTHER_LINES" "every other line of the new copy kept"

case_begin "OK in the dialog whose write fails: the message box belongs to the dialog"
case_start
use_devsim "${HANDHELD/storage Internal storage/shortwrites
storage Internal storage}"
run_start "\"$EXE_DOS\""
INFO=$(probe dialog Tessaly 15000)
if WIN=$(find_window '^Tessaly$'); then
  keys_to "$WIN" ctrl+a && xdotool type --delay 30 "Not saved"
  keys_to "$WIN" Return
  message_box "Tessaly" not-saved-dialog.png
else
  fail "xdotool cannot see the dialog: $INFO"; probe close Tessaly >/dev/null
fi
KEPT_COPY=1 run_wait
expect_as_it_was_message "Not saved"
expect "$(device_name "$SETTINGS")" "Device Phone" "the device keeps its settings file, unchanged"

# ---- a long search: the search window ----

# search_window [SHOT]: waits for the search window (winprobe's message box view reads any dialog's
# texts and buttons) and checks what it says, its count taken as N.
search_window() {
  local box
  box=$(probe msgbox Corvane 15000)
  expect "$(field text "$box" | sed 's/[0-9][0-9]*$/N/') [$(field buttons "$box")]" \
    "Looking for the handheld… | Folders looked at: | N [Cancel]" "the search window: what it does, folders looked at, Cancel"
  [ -n "${1:-}" ] && screenshot "$1"
}

case_begin "a slow handheld: a second start brings the search window forward, Esc ends the run without a word or a write"
case_start
use_devsim "latency 400
$HANDHELD"
run_start "\"$EXE_DOS\""
search_window search-window.png
SECONDS=0
PROBE_CMDLINE="\"$EXE_DOS\"" timeout 60 wine "$PROBE" run 45000 >"$CASE_DIR/second.out" 2>&1 </dev/null
# Ended at once, with the walk still running: the search window was the one it brought forward.
grep -q '^exit 0' "$CASE_DIR/second.out" && [ "$SECONDS" -lt 8 ] && xdotool search --onlyvisible --name '^Corvane$' >/dev/null &&
  pass "the second start found the search window at once and ended" ||
  fail "the second start took $SECONDS s, or the search window had gone: it did not find that window ($(tr -d '\r' <"$CASE_DIR/second.out"))"
if WIN=$(find_window '^Corvane$'); then keys_to "$WIN" Escape; else fail "xdotool cannot see the search window"; fi
run_wait   # a message box after the cancel would keep the program from ending
expect "$(calls IPortableDeviceResources::GetStream)" "0" "the walk ended before the settings file was read"
expect "$(calls IPortableDeviceContent::CreateObjectWithPropertiesAndData)" "0" "nothing written"

case_begin "a slow handheld from the command line: the search window shows, goes when the walk ends, and the name is written"
case_start
use_devsim "latency 100
$HANDHELD"
run_start "\"$EXE_DOS\" Slow Name"
search_window
for i in $(seq 100); do xdotool search --onlyvisible --name '^Corvane$' >/dev/null 2>&1 || break; sleep 0.1; done
sleep 1   # the write after the walk takes seconds at this latency
kill -0 "$RUN_PID" 2>/dev/null && pass "the search window went while the program was still at work" ||
  fail "the search window stayed until the program ended"
run_wait
expect "$(device_name "$SETTINGS")" "Slow Name" "name written into the device's file"

# ---- where the file is ----

case_begin "a handheld without the app folder gives message 201"
case_start
use_devsim $'device \\\\?\\usb#vid_18d1&pid_4ee7#bare
storage Internal storage
folder Internal storage/DCIM/Camera
file Internal storage/Download/Corvane_Info.ini
[Corvane]
Name=Misplaced
.
'
run_start "\"$EXE_DOS\" Nowhere"
box=$(probe msgbox Corvane 15000)
grep -q '^text Unable to find an Android device with Corvane installed on it' <<<"$box" &&
  pass "message 201 shown" || fail "no message 201: $box"
grep -q '"Tessaly"' <<<"$(probe windows)" && fail "the name dialog appeared" || pass "no name dialog"
if id=$(find_window '^Corvane$'); then keys_to "$id" Return; else probe close Corvane >/dev/null; fi
run_wait
expect "$(device_name 'Internal storage/Download/Corvane_Info.ini')" "Misplaced" "the file outside an app folder untouched"
expect "$(calls IPortableDeviceManager::GetDevices)" "2" "the device was looked at (count, then fill)"
expect "$(calls IPortableDeviceContent::CreateObjectWithPropertiesAndData)" "0" "nothing uploaded"

case_begin "a locked handheld (it opens and shows no storage) gives message 204, not 201"
case_start
use_devsim $'device \\\\?\\usb#vid_18d1&pid_4ee7#locked\nfriendly Locked phone\n'
run_start "\"$EXE_DOS\" Locked Name"
message_box "(none)" storage-hidden.png
run_wait
expect "$(cat "$CASE_DIR/box.txt")" \
  "Found a handheld, but cannot see its storage.\\n\\n(1) Unlock the handheld,\\n(2) Set its USB connection to File transfer, and\\n(3) Try again." \
  "message 204, word for word"
expect "$(calls IPortableDevice::Open)" "1" "the handheld was opened"
expect "$(calls IPortableDeviceContent::EnumObjects)" "1" "and only DEVICE was listed"

case_begin "a phone that shares only its photos gives message 209, not 201"
case_start
use_devsim "$(cat "$SOURCE_DIR/tests/program/scenarios/photo_mode.scenario")"
run_start "\"$EXE_DOS\" Photo Name"
message_box "(none)" photos-only.png
run_wait
expect "$(cat "$CASE_DIR/box.txt")" \
  "Found a handheld, but it shares only its photos.\\n\\n(1) Set its USB connection to File transfer, and\\n(2) Try again." \
  "message 209, word for word"

case_begin "Tessaly started twice at once: one dialog, and the handheld sees one walk"
case_start
use_devsim "$HANDHELD"
PROBE_CMDLINE="\"$EXE_DOS\"" timeout 60 wine "$PROBE" run 45000 >"$CASE_DIR/first.out" 2>&1 </dev/null &
FIRST=$!
PROBE_CMDLINE="\"$EXE_DOS\"" timeout 60 wine "$PROBE" run 45000 >"$CASE_DIR/second.out" 2>&1 </dev/null &
SECOND=$!
INFO=$(probe dialog Tessaly 15000)
expect "$(field field "$INFO")" "Device Phone" "a dialog shows the device's name"
sleep 3   # long enough for the other start to have ended, or to have shown its own dialog
expect "$(probe windows | grep -c '"Tessaly"')" "1" "one dialog, whichever start got there first"
if WIN=$(find_window '^Tessaly$'); then keys_to "$WIN" Escape; else fail "xdotool cannot see the dialog: $INFO"; probe close Tessaly >/dev/null; fi
wait "$FIRST"; wait "$SECOND"
for out in first second; do
  expect "$(tr -d '\r' <"$CASE_DIR/$out.out" | grep -E '^(exit|timeout|error)' | head -1)" "exit 0" "the $out start ended with exit code 0"
done
expect "$(calls IPortableDevice::Open)" "1" "one walk: the handheld was opened once"
expect "$(calls IPortableDeviceResources::GetStream)" "1" "one read of the settings file"
expect "$(device_name "$SETTINGS")" "Device Phone" "Esc wrote nothing"

case_begin "a command-line start while a dialog is open waits, and writes its name once the dialog has closed"
case_start
use_devsim "$HANDHELD"
run_start "\"$EXE_DOS\""
INFO=$(probe dialog Tessaly 15000)
PROBE_CMDLINE="\"$EXE_DOS\" Waited Name" timeout 60 wine "$PROBE" run 45000 >"$CASE_DIR/second.out" 2>&1 </dev/null &
SECOND=$!
sleep 3
kill -0 "$SECOND" 2>/dev/null && pass "the second start waits while the dialog is open" ||
  fail "the second start ended while the dialog was open: $(tr -d '\r' <"$CASE_DIR/second.out")"
if WIN=$(find_window '^Tessaly$'); then keys_to "$WIN" Escape; else fail "xdotool cannot see the dialog: $INFO"; probe close Tessaly >/dev/null; fi
run_wait
wait "$SECOND"
expect "$(tr -d '\r' <"$CASE_DIR/second.out" | grep -E '^(exit|timeout|error)' | head -1)" "exit 0" "the second start ended with exit code 0"
expect "$(device_name "$SETTINGS")" "Waited Name" "the waiting start wrote its name after the dialog closed"

case_begin "a dialog whose read of the settings file fails says so (message 207) and shows no dialog"
case_start
use_devsim "$HANDHELD"$'\nfail IPortableDeviceResources::GetStream 1 8007001F\n'
run_start "\"$EXE_DOS\""
probe msgbox Corvane 15000 >/dev/null
grep -q '"Tessaly"' <<<"$(probe windows)" && fail "the name dialog appeared" || pass "no name dialog"
message_box "(none)"
run_wait
expect "$(cat "$CASE_DIR/box.txt")" \
  "Cannot read the handheld's settings file.\\n\\nReconnect the handheld and try again. If this happens again, restart the handheld." \
  "message 207, word for word"
expect "$(calls IPortableDeviceContent::CreateObjectWithPropertiesAndData)" "0" "nothing written"

case_begin "a user whose temporary folder the ANSI code page cannot spell still saves to the handheld"
case_start
use_devsim "$HANDHELD"
mkdir -p "$WINEPREFIX/drive_c/users/Пользователь/Temp"
for v in TEMP TMP; do
  timeout 30 wine reg add 'HKCU\Environment' /v "$v" /d 'C:\users\Пользователь\Temp' /f </dev/null >/dev/null 2>&1 ||
    fail "could not set $v"
done
run_sync "\"$EXE_DOS\" Cyrillic User"
expect "$(device_name "$SETTINGS")" "Cyrillic User" "the name saved through a working copy the profile functions can reach"

case_begin "a drive holding the file wins over the handheld"
E=$(drive e); settings_file "$E" $'[Corvane]\nName=On drive\n'
case_start
use_devsim "$HANDHELD"
run_sync "\"$EXE_DOS\" Drive Wins"
expect "$(ini_name "$E/Corvane/CORVANE_INFO.ini")" "Drive Wins" "name written to the drive's file"
# devsim writes its state when a client used it; no state means no device object was ever made.
expect "$([ -f "$CASE_DIR/state.txt" ] && echo "state written" || echo "no state")" "no state" \
  "no device even looked for: the drive was found first"

finish
