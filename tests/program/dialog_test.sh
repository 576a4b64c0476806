#!/usr/bin/env bash
# The name dialog, driven by real keys and mouse clicks under Xvfb: where it opens, what
# it shows, and what OK, Enter, Esc, Cancel and the close box write.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# open_dialog STORED_FILE_CONTENT: a fresh case with E: holding the settings file,
# Tessaly.EXE started without a name; leaves the probe's view in $INFO, the X id in $WIN.
open_dialog() {
  E=$(drive e); settings_file "$E" "$1"
  SETTINGS=$E/Corvane/CORVANE_INFO.ini
  cp "$SETTINGS" "$CASE_DIR/before"
  case_start
  run_start "\"$EXE_DOS\""
  INFO=$(probe dialog Tessaly 15000)
  WIN=$(find_window '^Tessaly$') || { fail "xdotool cannot see the dialog: $INFO"; WIN=""; }
}

# close_dialog KEYS...: presses keys in the dialog and waits for the program to end.
close_dialog() {
  if [ -n "$WIN" ]; then keys_to "$WIN" "$@"; else probe close Tessaly >/dev/null; fi
  run_wait
}

unchanged() {
  cmp -s "$SETTINGS" "$CASE_DIR/before" && pass "settings file byte-identical" || fail "settings file was changed"
}

# ---- opening ----

case_begin "opens centred on the screen with the stored name"
open_dialog $'[Corvane]\nName=Old Name\n'
read -r left top right bottom <<<"$(field window "$INFO")"
read -r screenW screenH <<<"$(field screen "$INFO")"
w=$((right - left)); h=$((bottom - top))
x=$(((screenW - w) / 2)); y=$(((screenH - h) / 2))
[ "$x" -lt 0 ] && x=0; [ "$y" -lt 0 ] && y=0
expect "$left,$top" "$x,$y" "top-left corner of a ${w}x${h} dialog on a ${screenW}x${screenH} screen"
expect "$(field field "$INFO")" "Old Name" "field shows the stored name"
expect "$(field fieldlimit "$INFO")" "15" "field limited to 15 characters"
screenshot dialog.png
close_dialog Escape
unchanged

case_begin "no Name in the file: empty field"
open_dialog $'[Corvane]\nOther=1\n'
expect "$(field field "$INFO")" "" "field empty"
close_dialog Escape
unchanged

case_begin "a stored name longer than 15 shows its first 15; Enter writes those back"
open_dialog $'[Corvane]\nName=ABCDEFGHIJKLMNOPQRST\n'
expect "$(field field "$INFO")" "ABCDEFGHIJKLMNO" "field shows the first 15 characters"
screenshot dialog-long-name.png
close_dialog Return
expect "$(ini_name "$SETTINGS")" "ABCDEFGHIJKLMNO" "15 characters written on Enter"

# ---- OK ----

case_begin "typing a new name and Enter writes it"
open_dialog $'[Corvane]\nName=Old\n'
[ -n "$WIN" ] && keys_to "$WIN" ctrl+a && xdotool type --delay 30 "Pocket 7"
expect "$(field field "$(probe dialog Tessaly 5000)")" "Pocket 7" "typed text in the field"
screenshot dialog-typed.png
close_dialog Return
expect "$(ini_name "$SETTINGS")" "Pocket 7" "new name written"

case_begin "typing more than 15 characters writes 15"
open_dialog $'[Corvane]\nName=Old\n'
[ -n "$WIN" ] && keys_to "$WIN" ctrl+a && xdotool type --delay 30 "ABCDEFGHIJKLMNOPQRSTU"
close_dialog Return
expect "$(ini_name "$SETTINGS")" "ABCDEFGHIJKLMNO" "at most 15 characters written"

case_begin "an emptied field writes an empty Name"
open_dialog $'[Corvane]\nName=Old\n'
[ -n "$WIN" ] && keys_to "$WIN" ctrl+a BackSpace
close_dialog Return
expect "$(ini_name "$SETTINGS")" "" "Name= with an empty value"

# ---- Cancel ----

case_begin "Esc after editing writes nothing"
open_dialog $'[Corvane]\nName=Old\n'
[ -n "$WIN" ] && keys_to "$WIN" ctrl+a && xdotool type --delay 30 "Changed"
close_dialog Escape
unchanged

case_begin "the Cancel button after editing writes nothing"
open_dialog $'[Corvane]\nName=Old\n'
[ -n "$WIN" ] && keys_to "$WIN" ctrl+a && xdotool type --delay 30 "Changed"
close_dialog Tab Tab space
unchanged

case_begin "the close box writes nothing"
open_dialog $'[Corvane]\nName=Old\n'
read -r cx cy hit <<<"$(field closebox "$INFO")"
expect "$hit" "hit" "hit test at ($cx,$cy) answers the close box"
if [ -n "$WIN" ] && [ "$hit" == "hit" ]; then
  xdotool mousemove --sync "$cx" "$cy" click 1
  run_wait
else
  close_dialog Escape
fi
unchanged

finish
