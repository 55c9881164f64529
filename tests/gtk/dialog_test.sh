#!/usr/bin/env bash
# End-to-end test of ledger-convert-gui in a real window on a private virtual X display, driven
# from outside with xdotool as a user would drive it.
# Usage: dialog_test.sh GUI CLI CLOSE_WINDOW EXAMPLE SCENARIO
#   GUI, CLI: the built ledger-convert-gui and ledger-convert; CLOSE_WINDOW: the close-window
#   helper; EXAMPLE: an export file that converts; SCENARIO: one of the test_* names below.
set -euo pipefail
gui=$(realpath "$1") cli=$(realpath "$2") close_window=$(realpath "$3")
example=$(realpath "$4") scenario=$5
failure_picture="$PWD/gtk-dialog-$scenario-failure.png"
source "$(dirname "$0")/x11_session.bash"

main_title="Convert Ledger Export"
chooser_title="Open"
notice_title="Convert Ledger Files"
outputs=(PVERSION.DAT CPERW.DAT APERW.DAT)

# A fresh directory holding a copy of the example export, with a blank in its name.
new_export_dir() {
  local dir
  dir=$(mktemp -d "$session_dir/export XXXX")
  cp "$example" "$dir/Ledger.txt"
  echo "$dir"
}

# Presses OK with Enter, then picks PATH in the chooser through its location field (Ctrl+L).
choose_file() {
  local main chooser
  main=$(wait_window "$main_title")
  press "$main" Return
  chooser=$(wait_window "$chooser_title")
  press "$chooser" ctrl+l
  type_text "$chooser" "$1"
  # The location field can swallow an Enter that follows the typing at once, while it still
  # completes the name; like a user, press Enter again until the chooser goes.
  local deadline=$((SECONDS + timeout_seconds)) next_press=0
  while window_shown "$chooser_title"; do
    [ $SECONDS -lt $deadline ] || fail "the chooser did not take \"$1\""
    if [ $SECONDS -ge $next_press ]; then
      timeout 10 xdotool windowfocus --sync "$chooser" 2>/dev/null && xdotool key Return
      next_press=$((SECONDS + 3))
    fi
    sleep 0.2
  done
}

# Dismisses the message box titled TITLE with its OK button (Enter).
dismiss_notice() {
  local box
  box=$(wait_window "$1")
  press "$box" Return
  wait_window_gone "$1"
}

expect_no_outputs() {
  local dir=$1 f
  for f in "${outputs[@]}"; do
    [ ! -e "$dir/$f" ] || fail "$f was written in $dir: $2"
  done
}

expect_exit_zero() {
  wait_app_exit
  [ "$app_status" -eq 0 ] || fail "exit status $app_status, expected 0"
}

# The three files beside the export in DIR are those that ledger-convert writes for the same
# export, with the fixed version file and whole 512-byte records.
expect_converted() {
  local dir=$1 oracle f
  oracle=$(mktemp -d "$session_dir/oracle.XXXX")
  cp "$dir/Ledger.txt" "$oracle/Ledger.txt"
  "$cli" "$oracle/Ledger.txt" >/dev/null || fail "ledger-convert failed on the example"
  for f in "${outputs[@]}"; do
    [ -f "$dir/$f" ] || fail "$f was not written"
    cmp "$oracle/$f" "$dir/$f" || fail "$f differs from what ledger-convert writes"
  done
  cmp <(printf 'KZV 2.0\r\nDRUV\r\n') "$dir/PVERSION.DAT" || fail "PVERSION.DAT is wrong"
  local scouts adults
  read -r scouts adults < <(awk '{ sub(/\r$/, ""); w = tolower($0) }
    NR == 1 { next } !adults_seen && w == "adults" { adults_seen = 1; next }
    adults_seen { a++ } !adults_seen && w != "scouts" { s++ } END { print s + 0, a + 0 }' \
    "$dir/Ledger.txt")
  [ "$scouts" -gt 0 ] && [ "$adults" -gt 0 ] || fail "the example needs scouts and adults"
  [ "$(stat -c %s "$dir/CPERW.DAT")" -eq $((512 * scouts)) ] || fail "CPERW.DAT is not $scouts records"
  [ "$(stat -c %s "$dir/APERW.DAT")" -eq $((512 * adults)) ] || fail "APERW.DAT is not $adults records"
}

# Enter presses OK; the chosen export is converted, and dismissing the success message ends the
# program with status 0. The program's own working directory stays untouched.
test_convert() {
  local dir cwd
  dir=$(new_export_dir)
  cwd=$(mktemp -d "$session_dir/cwd.XXXX")
  start_app "$gui" "$cwd"
  choose_file "$dir/Ledger.txt"
  wait_window "$notice_title" >/dev/null
  window_shown "$main_title" || fail "the dialog closed before the message was dismissed"
  dismiss_notice "$notice_title"
  expect_exit_zero
  expect_converted "$dir"
  [ -z "$(ls -A "$cwd")" ] || fail "files appeared in the working directory: $(ls -A "$cwd")"
}

# After the message about an invalid export the dialog stays open, and a second try with a good
# export completes.
test_invalid_then_retry() {
  local bad good
  bad=$(mktemp -d "$session_dir/bad.XXXX")
  printf 'Scouts\nS-1\tx\n' >"$bad/Ledger.txt"
  start_app "$gui" "$session_dir"
  choose_file "$bad/Ledger.txt"
  dismiss_notice "$notice_title"
  expect_running "after the invalid-format message"
  window_shown "$main_title" || fail "the dialog is gone after the invalid-format message"
  [ ! -e "$bad/CPERW.DAT" ] && [ ! -e "$bad/APERW.DAT" ] || fail "records were written"

  good=$(new_export_dir)
  choose_file "$good/Ledger.txt"
  dismiss_notice "$notice_title"
  expect_exit_zero
  expect_converted "$good"
}

# A file that cannot be created is reported in a message box titled by the warning's caption,
# and the dialog stays open; Escape then ends the program.
test_unwritable_output() {
  local dir main
  dir=$(new_export_dir)
  mkdir "$dir/PVERSION.DAT"
  start_app "$gui" "$session_dir"
  choose_file "$dir/Ledger.txt"
  dismiss_notice "Unable to create file"
  expect_running "after the warning"
  main=$(wait_window "$main_title")
  [ ! -e "$dir/CPERW.DAT" ] && [ ! -e "$dir/APERW.DAT" ] || fail "records were written"
  press "$main" Escape
  expect_exit_zero
}

# Under a shell's file-size limit a record file cannot be written whole: the warning is shown,
# the dialog stays open, and neither record file nor a temporary file is left.
test_file_size_limit() {
  local dir main
  dir=$(new_export_dir)
  start_app /bin/bash "$dir" -c 'ulimit -f 1 && exec "$0"' "$gui"
  choose_file "$dir/Ledger.txt"
  dismiss_notice "Unable to write file"
  expect_running "after the write failed"
  [ ! -e "$dir/CPERW.DAT" ] && [ ! -e "$dir/APERW.DAT" ] || fail "a record file was written"
  [ -z "$(find "$dir" -name '*.tmp')" ] || fail "a temporary file was left: $(ls -A "$dir")"
  main=$(wait_window "$main_title")
  press "$main" Escape
  expect_exit_zero
}

# Ended by a signal while a failed run's warning is shown, its output's temporary file still
# open, the program removes that file before it dies of the signal.
test_interrupted() {
  local dir signal
  for signal in TERM INT HUP; do
    # A scout file far past the limit, which leaves room for the toolkit's own small files.
    dir=$(mktemp -d "$session_dir/interrupted.XXXX")
    { printf 'LedgerExport\r\n'; seq -f 'S-%g\tName\r' 200; } >"$dir/Ledger.txt"
    start_app /bin/bash "$dir" -c 'ulimit -f 16 && exec "$0"' "$gui"
    choose_file "$dir/Ledger.txt"
    wait_window "Unable to write file" >/dev/null
    [ -n "$(find "$dir" -name '.*.tmp')" ] || fail "no temporary file while the warning is shown"
    kill -s "$signal" "$app_pid"
    wait_app_exit
    [ "$app_status" -eq $((128 + $(kill -l "$signal"))) ] || fail "SIG$signal gave status $app_status"
    [ -z "$(find "$dir" -name '.*.tmp')" ] || fail "SIG$signal left: $(ls -A "$dir")"
  done
}

# A FIFO chosen as the export is refused at once instead of freezing the dialog, which stays
# open and still ends on request.
test_fifo_export() {
  local dir main
  dir=$(mktemp -d "$session_dir/fifo.XXXX")
  mkfifo "$dir/Ledger.txt"
  start_app "$gui" "$dir"
  choose_file "$dir/Ledger.txt"
  dismiss_notice "Unable to open file"
  expect_running "after the FIFO was refused"
  [ ! -e "$dir/CPERW.DAT" ] && [ ! -e "$dir/APERW.DAT" ] || fail "records were written"
  main=$(wait_window "$main_title")
  "$close_window" "$main" || fail "could not ask the dialog to close"
  expect_exit_zero
}

# Cancelling the chooser returns to the dialog with nothing written; the window's close button
# then ends the program with status 0.
test_chooser_cancel() {
  local dir main chooser
  dir=$(new_export_dir)
  start_app "$gui" "$dir"
  main=$(wait_window "$main_title")
  press "$main" Return
  chooser=$(wait_window "$chooser_title")
  press "$chooser" Escape
  wait_window_gone "$chooser_title"
  expect_running "after the chooser was cancelled"
  window_shown "$main_title" || fail "the dialog is gone after the chooser was cancelled"
  window_shown "$notice_title" && fail "a message appeared after the chooser was cancelled"
  expect_no_outputs "$dir" "after the chooser was cancelled"
  "$close_window" "$main" || fail "could not ask the dialog to close"
  expect_exit_zero
  expect_no_outputs "$dir" "after the dialog was closed"
}

# The Cancel button (Alt+C, its mnemonic) and Escape each end the program with status 0 and no
# file written, even when the program was handed an export's path, as it reads no arguments.
test_cancel() {
  local dir keys main
  for keys in alt+c Escape; do
    dir=$(new_export_dir)
    start_app "$gui" "$dir" "$dir/Ledger.txt"
    main=$(wait_window "$main_title")
    press "$main" "$keys"
    expect_exit_zero
    expect_no_outputs "$dir" "after $keys"
    [ "$(ls -A "$dir")" = Ledger.txt ] || fail "files appeared after $keys: $(ls -A "$dir")"
  done
}

declare -F "test_$scenario" >/dev/null || fail "unknown scenario $scenario"
start_display
"test_$scenario"
echo "PASS: $scenario"
