#!/usr/bin/env bash
# Where Tessaly.EXE looks for the settings file: the configured Root, then the ready
# drives in list order (any drive type), else one message box and nothing written.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

long_name() { head -c "$1" /dev/zero | tr '\0' 'r'; }

# ---- configured Root ----

case_begin "Root E: names E:\\Corvane\\CORVANE_INFO.ini, created although it did not exist"
E=$(drive e); mkdir -p "$E/Corvane"
local_config $'[Corvane]\nRoot=E:\n'
case_start
run_sync "\"$EXE_DOS\" Rooted"
expect "$(ini_name "$E/Corvane/CORVANE_INFO.ini")" "Rooted" "name written to the file below Root"

case_begin "Root E:\\ gives a double separator, which still reaches the file"
E=$(drive e); mkdir -p "$E/Corvane"
local_config $'[Corvane]\nRoot=E:\\\n'
case_start
run_sync "\"$EXE_DOS\" Doubled"
expect "$(ini_name "$E/Corvane/CORVANE_INFO.ini")" "Doubled" "name written through E:\\\\Corvane\\CORVANE_INFO.ini"

case_begin "Root wins over a drive that holds the settings file"
E=$(drive e); mkdir -p "$E/Corvane"
F=$(drive f); settings_file "$F" $'[Corvane]\nName=OnF\n'
local_config $'[Corvane]\nRoot=E:\n'
case_start
run_sync "\"$EXE_DOS\" FromRoot"
expect "$(ini_name "$E/Corvane/CORVANE_INFO.ini")" "FromRoot" "file below Root written"
expect "$(ini_name "$F/Corvane/CORVANE_INFO.ini")" "OnF" "drive F: left alone"

# Root lengths around the limit: 234 characters still leave room for the file name.
for length in 234 235 300; do
  case_begin "Root of $length characters"
  E=$(drive e)
  F=$(drive f); settings_file "$F" $'[Corvane]\nName=OnF\n'
  dir=$(long_name $((length - 3)))          # Root is E:\ followed by one long folder name
  if [ "$length" -le 255 ]; then mkdir -p "$E/$dir/Corvane"; fi
  local_config "[Corvane]"$'\n'"Root=E:\\$dir"$'\n'
  case_start
  run_sync "\"$EXE_DOS\" Long$length"
  if [ "$length" -le 234 ]; then
    expect "$(ini_name "$E/$dir/Corvane/CORVANE_INFO.ini")" "Long$length" "Root used: file written below it"
    expect "$(ini_name "$F/Corvane/CORVANE_INFO.ini")" "OnF" "drive F: left alone"
  else
    expect "$(ini_name "$F/Corvane/CORVANE_INFO.ini")" "Long$length" "Root ignored: the drive holding the file used"
    expect "$(find "$E" -name CORVANE_INFO.ini | wc -l)" "0" "nothing written below the ignored Root"
  fi
done

# ---- desktop drives ----

case_begin "two drives hold the file: the earlier letter wins"
E=$(drive e); settings_file "$E" $'[Corvane]\nName=OnE\n'
F=$(drive f); settings_file "$F" $'[Corvane]\nName=OnF\n'
cp "$F/Corvane/CORVANE_INFO.ini" "$CASE_DIR/f-before"
case_start
run_sync "\"$EXE_DOS\" First"
expect "$(ini_name "$E/Corvane/CORVANE_INFO.ini")" "First" "E: written"
cmp -s "$F/Corvane/CORVANE_INFO.ini" "$CASE_DIR/f-before" && pass "F: byte-identical" || fail "F: was changed"

case_begin "a drive with the folder but without the file is passed over"
E=$(drive e); mkdir -p "$E/Corvane"
G=$(drive g); settings_file "$G" $'[Corvane]\nName=OnG\n'
case_start
run_sync "\"$EXE_DOS\" Second"
expect "$(ini_name "$G/Corvane/CORVANE_INFO.ini")" "Second" "G: written"
expect "$(ls "$E/Corvane")" "" "E:\\Corvane still empty"

for type in floppy cdrom network; do
  case_begin "a $type drive counts like any other"
  H=$(drive h "$type"); settings_file "$H" $'[Corvane]\nName=Old\n'
  case_start
  info=$(probe drive 'H:\')
  echo "     H: as $type: $(tr '\n' ' ' <<<"$info")"
  expected_type=$(case $type in floppy) echo removable;; cdrom) echo cdrom;; network) echo remote;; esac)
  expect "$(field type "$info")" "$expected_type" "drive type as configured in the registry"
  run_sync "\"$EXE_DOS\" On $type"
  expect "$(ini_name "$H/Corvane/CORVANE_INFO.ini")" "On $type" "settings file on the $type drive written"
done

# ---- nothing anywhere ----

case_begin "no settings file anywhere: one message box, nothing written"
E=$(drive e); mkdir -p "$E/Corvane"
local_config $'[Corvane]\nRoot=\nSearchDepth=4\n'
case_start
run_start "\"$EXE_DOS\" Nowhere"
box=$(probe msgbox Corvane 15000)
expect "$(field text "$box")" \
  'Unable to find an Android device with Corvane installed on it.\n\n(1) Install Corvane on the handheld,\n(2) Run Corvane on the handheld,\n(3) Reconnect the handheld to the desktop, and\n(4) Try again.' \
  "message text is string 201"
expect "$(field icon "$box")" "exclamation" "exclamation icon"
expect "$(field buttons "$box")" "OK" "a single OK button"
windows=$(probe windows)
expect "$(field count "$windows")" "1" "exactly one visible top-level window"
grep -q '"Tessaly"' <<<"$windows" && fail "the name dialog appeared" || pass "no name dialog"
screenshot not-found.png
if id=$(find_window '^Corvane$'); then
  keys_to "$id" Return
else
  fail "xdotool cannot see the message box"; probe close Corvane >/dev/null
fi
run_wait
expect "$(ls "$E/Corvane")" "" "nothing written anywhere"

finish
