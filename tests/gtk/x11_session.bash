# Sourced by the dialog's tests: a private virtual X display and helpers that drive
# ledger-convert-gui on it as a user would, with the keyboard. Every wait polls with a deadline.

timeout_seconds=${LEDGER_GUI_TIMEOUT:-60}
session_dir=$(mktemp -d)
xvfb_pid=
app_pid=
app_status=

# Ends the program and the display; runs on every exit, so no step may stop it early.
end_session() {
  set +e
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
    kill "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$session_dir"
}
trap end_session EXIT
trap 'exit 130' INT TERM

# Reports a failure with the program's output and a picture of the screen, then exits.
fail() {
  echo "FAIL: $*" >&2
  if [ -n "${DISPLAY:-}" ] && [ -n "$xvfb_pid" ] && command -v import >/dev/null; then
    local picture=${failure_picture:-$PWD/failure-screen.png}
    import -window root "$picture" 2>/dev/null && echo "the screen at the failure: $picture" >&2
  fi
  if [ -s "$session_dir/app.log" ]; then
    echo "--- program output:" >&2
    cat "$session_dir/app.log" >&2
  fi
  exit 1
}

# Starts Xvfb on a display number that the server itself picks as free, and a private home.
# -noreset: the short xdotool connections are often the display's only clients, and a server
# that resets when its last client leaves turns the program away if it connects meanwhile.
start_display() {
  command -v Xvfb >/dev/null || fail "Xvfb is not installed"
  command -v xdotool >/dev/null || fail "xdotool is not installed"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$session_dir/display" \
    >"$session_dir/xvfb.log" 2>&1 &
  xvfb_pid=$!
  local deadline=$((SECONDS + timeout_seconds))
  until [ -s "$session_dir/display" ] && grep -q '^[0-9]' "$session_dir/display"; do
    kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start: $(cat "$session_dir/xvfb.log")"
    [ $SECONDS -lt $deadline ] || fail "Xvfb gave no display number"
    sleep 0.1
  done
  export DISPLAY=":$(head -1 "$session_dir/display")"
  unset WAYLAND_DISPLAY
  export GDK_BACKEND=x11 NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory GTK_USE_PORTAL=0
  export HOME="$session_dir/home" XDG_CONFIG_HOME="$session_dir/home/.config"
  export XDG_DATA_HOME="$session_dir/home/.local/share" XDG_CACHE_HOME="$session_dir/home/.cache"
  mkdir -p "$HOME"
}

# Starts PROGRAM in directory CWD, with ARGS if given.
start_app() {
  local program=$1 cwd=$2
  shift 2
  (cd "$cwd" && exec "$program" "$@") >"$session_dir/app.log" 2>&1 &
  app_pid=$!
}

# Prints the id of the program's visible window titled exactly TITLE, waiting for it to appear.
wait_window() {
  local title=$1 deadline=$((SECONDS + timeout_seconds)) id
  while :; do
    id=$(xdotool search --all --onlyvisible --pid "$app_pid" --name "^${title}\$" 2>/dev/null |
      head -1 || true)
    [ -n "$id" ] && break
    kill -0 "$app_pid" 2>/dev/null || fail "the program ended while waiting for \"$title\""
    [ $SECONDS -lt $deadline ] || fail "no window \"$title\" within ${timeout_seconds}s"
    sleep 0.2
  done
  echo "$id"
}

# Succeeds while the program shows a window titled exactly TITLE.
window_shown() {
  [ -n "$(xdotool search --all --onlyvisible --pid "$app_pid" --name "^${1}\$" 2>/dev/null)" ]
}

# Waits until the program no longer shows a window titled exactly TITLE.
wait_window_gone() {
  local title=$1 deadline=$((SECONDS + timeout_seconds))
  while window_shown "$title"; do
    [ $SECONDS -lt $deadline ] || fail "window \"$title\" still shown after ${timeout_seconds}s"
    sleep 0.2
  done
}

# Gives window ID the keyboard focus, then presses KEYS (xdotool key names) there.
press() {
  local id=$1
  shift
  timeout "$timeout_seconds" xdotool windowfocus --sync "$id" || fail "could not focus $id"
  xdotool key --delay 50 "$@"
}

# Gives window ID the keyboard focus, then types TEXT there.
type_text() {
  timeout "$timeout_seconds" xdotool windowfocus --sync "$1" || fail "could not focus $1"
  xdotool type --delay 20 -- "$2"
}

# Waits for the program to end and sets app_status to its exit status.
wait_app_exit() {
  local deadline=$((SECONDS + timeout_seconds))
  while kill -0 "$app_pid" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || fail "the program still runs after ${timeout_seconds}s"
    sleep 0.2
  done
  app_status=0
  wait "$app_pid" || app_status=$?
  app_pid=
  # GTK 3 warns when the release of a key whose press closed a window reaches that window after
  # it was unrealized; the keys come from the test faster than a hand would press them.
  local faults
  faults=$(grep -E 'CRITICAL|WARNING' "$session_dir/app.log" |
    grep -vF "gtk_widget_event: assertion 'WIDGET_REALIZED_FOR_EVENT (widget, event)' failed" ||
    true)
  if [ -n "$faults" ]; then
    fail "the program reported GLib or GTK faults"
  fi
}

# Succeeds while the program runs; once it has ended, sets app_status to its exit status.
app_running() {
  kill -0 "$app_pid" 2>/dev/null && return 0
  app_status=0
  wait "$app_pid" 2>/dev/null || app_status=$?
  return 1
}

# Fails unless the program is still running.
expect_running() {
  app_running || fail "the program ended (status $app_status): $*"
}
