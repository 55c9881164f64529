#!/usr/bin/env bash
# Runs PROGRAM [ARGS...] on a private virtual X display and exits with its status.
set -euo pipefail
source "$(dirname "$0")/x11_session.bash"
start_display
"$@"
