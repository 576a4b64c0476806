#!/usr/bin/env bash
# A name on the command line is written whole, exactly as typed after the program name;
# a tail of blanks only counts as no name and shows the dialog.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

TAB=$'\t'
# command line | Name expected in the file | why
cases=(
  "\"$EXE_DOS\" My Phone|My Phone|a name of two words"
  "\"$EXE_DOS\" \"My Phone\"|\"My Phone\"|a quoted name keeps its quotes"
  "\"$EXE_DOS\" My  Phone  |My  Phone  |inner and trailing blanks stay"
  "\"$EXE_DOS\" A handheld name well beyond fifteen|A handheld name well beyond fifteen|longer than 15: written whole"
  "$EXE_DOS Unquoted|Unquoted|unquoted program name"
  "\"$EXE_DOS\"${TAB}  Tabbed|Tabbed|tab and blanks after the program name are skipped"
  "\"$EXE_DOS\"Glued|Glued|name right after the closing quote"
)

for entry in "${cases[@]}"; do
  IFS='|' read -r commandLine expected why <<<"$entry"
  case_begin "$why"
  E=$(drive e); settings_file "$E" $'[Corvane]\nName=Old\n'
  case_start
  run_sync "$commandLine"
  expect "$(ini_name "$E/Corvane/CORVANE_INFO.ini")" "$expected" "Name in [Corvane]"
  expect "$(tr -d '\r' <"$E/Corvane/CORVANE_INFO.ini" | head -1)" "[Corvane]" "section kept"
done

case_begin "a command-line name creates the key in a file without one"
E=$(drive e); settings_file "$E" $'[Other]\nKey=1\n'
case_start
run_sync "\"$EXE_DOS\" Fresh"
expect "$(ini_name "$E/Corvane/CORVANE_INFO.ini")" "Fresh" "Name in [Corvane]"
expect "$(tr -d '\r' <"$E/Corvane/CORVANE_INFO.ini" | grep -c '^Key=1$')" "1" "other sections kept"

case_begin "a tail of blanks only shows the dialog"
E=$(drive e); settings_file "$E" $'[Corvane]\nName=Old\n'
cp "$E/Corvane/CORVANE_INFO.ini" "$CASE_DIR/before"
case_start
run_start "\"$EXE_DOS\"    "
info=$(probe dialog Tessaly 15000)
expect "$(field field "$info")" "Old" "dialog shown with the stored name"
if id=$(find_window '^Tessaly$'); then keys_to "$id" Escape; else fail "xdotool cannot see the dialog"; probe close Tessaly >/dev/null; fi
run_wait
cmp -s "$E/Corvane/CORVANE_INFO.ini" "$CASE_DIR/before" && pass "file byte-identical after Esc" || fail "file changed"

case_begin "a name that cannot be written is said so in one message box"
E=$(drive e); mkdir -p "$E"
local_config $'[Corvane]\nRoot=E:\\No such folder\n'
case_start
run_start "\"$EXE_DOS\" Nowhere"
message_box "(none)"
run_wait
expect "$(cat "$CASE_DIR/box.txt")" "The name was not saved: its settings file could not be written." "message text"
expect "$(ls -A "$E")" "" "nothing was created on the drive"

finish
