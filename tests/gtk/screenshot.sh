#!/usr/bin/env bash
# Takes the picture of the dialog for the documentation: screenshot.sh GUI OUTPUT.PNG
# The picture holds the window's contents: no window manager runs to draw a title bar.
set -euo pipefail
gui=$(realpath "$1") output=$(realpath "$2")
source "$(dirname "$0")/x11_session.bash"
start_display
start_app "$gui" "$session_dir"
window=$(wait_window "Convert Ledger Export")
import -window "$window" "$output"
echo "wrote $output"
