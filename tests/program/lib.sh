# Shared helpers of the program tests: each case runs the real Tessaly.EXE in its own
# throwaway Wine prefix, with drive letters mapped to temporary folders, under one Xvfb.
# Sourced by tests/program/*_test.sh; ctest passes TESSALY_EXE, TOOLS_DIR, SOURCE_DIR,
# BUILD_DIR and ARTIFACTS_DIR.
set -u

: "${TESSALY_EXE:?TESSALY_EXE must name the built Tessaly.EXE}"
: "${TOOLS_DIR:?TOOLS_DIR must name the folder holding winprobe.exe}"
: "${SOURCE_DIR:=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
: "${BUILD_DIR:=$SOURCE_DIR/build}"
: "${ARTIFACTS_DIR:=$BUILD_DIR/artifacts}"
# The loader and prefix of the build under test (TESSALY_ARCH); wine and wineserver below
# are the project's commands for that loader.
source "$SOURCE_DIR/scripts/wine-env"

PROBE="$TOOLS_DIR/winprobe.exe"
EXE_DOS='C:\Tessaly\Tessaly.EXE'     # every case runs its own copy from here
SCREEN_W=1024
SCREEN_H=768
PASSED=0
FAILED=0
CASE=""
CASE_DIR=""

# The whole script runs under one private X server; re-run ourselves inside it once. Sourced
# without arguments, lib.sh sees the script's own.
need_display() {
  if [ -z "${TESSALY_UNDER_XVFB:-}" ]; then
    export TESSALY_UNDER_XVFB=1
    exec timeout 280 xvfb-run -a -s "-screen 0 ${SCREEN_W}x${SCREEN_H}x24" bash "$0" "$@"
  fi
}

# The booted prefix every case copies: the build's private one, made by scripts/setup when
# it is not there yet.
source_prefix() {
  if [ "$(cat "$WINEPREFIX/.tessaly-ready" 2>/dev/null)" != "$WINEARCH" ]; then
    "$SOURCE_DIR/scripts/setup" >&2 || return 1
  fi
  echo "$WINEPREFIX"
}

need_display "$@"   # before anything is made: the script starts afresh under Xvfb
TESSALY_SOURCE_PREFIX=$(source_prefix) || { echo "FAIL - no Wine prefix to copy"; exit 1; }
[ -f "$PROBE" ] || { echo "FAIL - $PROBE is missing (build the winprobe target)"; exit 1; }
[ -f "$TESSALY_EXE" ] || { echo "FAIL - $TESSALY_EXE is missing"; exit 1; }
mkdir -p "$ARTIFACTS_DIR"
# Case prefixes live under the build folder: nothing outside it is ever made or removed.
TEMP_ROOT=$(mktemp -d "$BUILD_DIR/program-tmp.XXXXXX")

cleanup() {
  [ -n "$CASE_DIR" ] && WINEPREFIX="$CASE_DIR/prefix" timeout 10 wineserver -k >/dev/null 2>&1
  rm -rf "$TEMP_ROOT"
}
trap cleanup EXIT

pass() { PASSED=$((PASSED + 1)); echo "ok   - $CASE: $1"; }
fail() { FAILED=$((FAILED + 1)); echo "FAIL - $CASE: $1"; }

# expect ACTUAL EXPECTED WHAT
expect() {
  if [ "$1" == "$2" ]; then pass "$3"; else fail "$3: got [$1], expected [$2]"; fi
}

finish() {
  case_end
  echo "$PASSED passed, $FAILED failed"
  [ "$FAILED" -eq 0 ]
  exit $?
}

# ---- one case: a fresh prefix ----

# case_begin NAME: copies the booted prefix (system32 hard-linked: nothing writes
# there) and puts Tessaly.EXE on C:. Drives and registry come before case_start.
case_begin() {
  case_end
  CASE=$1
  CASE_DIR=$(mktemp -d "$TEMP_ROOT/case.XXXXXX")
  local src=$TESSALY_SOURCE_PREFIX dst=$CASE_DIR/prefix
  mkdir -p "$dst"
  tar -C "$src" --exclude=./drive_c/windows/system32 -cf - . | tar -C "$dst" -xf -
  cp -al "$src/drive_c/windows/system32" "$dst/drive_c/windows/system32" 2>/dev/null ||
    cp -a "$src/drive_c/windows/system32" "$dst/drive_c/windows/system32"
  export WINEPREFIX=$dst
  mkdir -p "$dst/drive_c/Tessaly"
  cp "$TESSALY_EXE" "$dst/drive_c/Tessaly/Tessaly.EXE"
}

# drive LETTER [floppy|cdrom|network]: maps LETTER: to a new folder, echoes the folder.
# Must come before case_start: Wine lists drives as they were when it started.
drive() {
  local letter=$1 type=${2:-} dir=$CASE_DIR/drive-$1
  mkdir -p "$dir"
  ln -s "$dir" "$WINEPREFIX/dosdevices/$letter:"
  if [ -n "$type" ]; then
    printf '\n[Software\\\\Wine\\\\Drives] 1700000000\n"%s:"="%s"\n' "$letter" "$type" >> "$WINEPREFIX/system.reg"
  fi
  echo "$dir"
}

# settings_file FOLDER CONTENT: writes FOLDER/Corvane/CORVANE_INFO.ini with CRLF lines.
settings_file() {
  mkdir -p "$1/Corvane"
  printf '%s' "$2" | sed 's/$/\r/' > "$1/Corvane/CORVANE_INFO.ini"
}

# local_config CONTENT: the local configuration file in the Windows directory.
local_config() {
  printf '%s' "$1" | sed 's/$/\r/' > "$WINEPREFIX/drive_c/windows/CORVANE_INFO.ini"
}

# case_start: the prefix's own server, detached so that it never holds our pipes.
case_start() {
  wineserver -p </dev/null >/dev/null 2>&1
  timeout 30 wine cmd /c exit </dev/null >/dev/null 2>&1
}

case_end() {
  if [ -n "$CASE_DIR" ]; then
    timeout 10 wineserver -k >/dev/null 2>&1
    rm -rf "$CASE_DIR"
    CASE_DIR=""
  fi
}

# ---- running Tessaly.EXE ----

# run_sync COMMANDLINE: runs it to the end (bounded) and checks the exit code and the
# temporary folder.
run_sync() {
  local out
  out=$(PROBE_CMDLINE=$1 timeout 40 wine "$PROBE" run 30000 2>&1 | tr -d '\r')
  check_run_end "$out"
}

# run_start COMMANDLINE / run_wait: the same, for runs that show a window meanwhile.
run_start() {
  PROBE_CMDLINE=$1 timeout 60 wine "$PROBE" run 45000 >"$CASE_DIR/run.out" 2>&1 </dev/null &
  RUN_PID=$!
}

run_wait() {
  wait "$RUN_PID"
  check_run_end "$(tr -d '\r' <"$CASE_DIR/run.out")"
}

# A run leaves no temporary file, but the one copy a failed write keeps and names when
# KEPT_COPY=1 is set for the call.
check_run_end() {
  expect "$(grep -E '^(exit|timeout|error)' <<<"$1" | head -1)" "exit 0" "program ended with exit code 0"
  local names leftovers
  names=$(ls "$WINEPREFIX"/drive_c/users/*/Temp/ 2>/dev/null | grep -i '^TMP.*\.tmp$' | tr '\n' ' ')
  leftovers=$(wc -w <<<"$names")
  if [ "${KEPT_COPY:-0}" = 1 ]; then
    expect "$leftovers" "1" "exactly the copy a failed write keeps is left in the user's temporary folder (found: ${names:-none})"
  else
    expect "$leftovers" "0" "no temporary file left in the user's temporary folder (found: ${names:-none})"
  fi
}

# probe ARGS...: winprobe output without carriage returns.
probe() {
  timeout 30 wine "$PROBE" "$@" 2>&1 | tr -d '\r'
}

# field NAME OUTPUT: the rest of the line that starts with NAME.
field() {
  sed -n "s/^$1 //p" <<<"$2" | head -1
}

# ini_name FILE: the value of Name in section [Corvane], blanks and quotes kept;
# "<absent>" when there is no such line, "<no file>" without the file.
ini_name() {
  [ -f "$1" ] || { echo "<no file>"; return; }
  tr -d '\r' <"$1" | awk '
    /^\[/ { section = ($0 == "[Corvane]") }
    section && /^Name=/ { print substr($0, 6); found = 1; exit }
    END { if (!found) print "<absent>" }'
}

# message_box OWNER [SHOT]: checks the program's message box (caption Corvane, exclamation
# icon, one OK button, owned by the window captioned OWNER or "(none)"), keeps its text in
# $CASE_DIR/box.txt and a screenshot when SHOT is given, and closes it with Enter.
message_box() {
  local box id
  box=$(probe msgbox Corvane 15000)
  expect "$(field icon "$box")" "exclamation" "exclamation icon"
  expect "$(field buttons "$box")" "OK" "a single OK button"
  expect "$(field owner "$box")" "$1" "message box owned by $1"
  field text "$box" >"$CASE_DIR/box.txt"
  [ -n "${2:-}" ] && screenshot "$2"
  if id=$(find_window '^Corvane$'); then keys_to "$id" Return; else probe close Corvane >/dev/null; fi
}

# find_window TITLE_REGEX: X window id of the visible window, polling for up to 15 s.
find_window() {
  local id i
  for i in $(seq 150); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.1
  done
  return 1
}

# keys_to WINDOW KEYS...: focuses the window, then presses keys.
keys_to() {
  local id=$1
  shift
  timeout 10 xdotool windowfocus --sync "$id" >/dev/null 2>&1 || timeout 5 xdotool windowfocus "$id"
  xdotool key --delay 30 "$@"
}

screenshot() {
  import -window root "$ARTIFACTS_DIR/$1" 2>/dev/null && echo "     screenshot $ARTIFACTS_DIR/$1"
}
