#!/usr/bin/env bash
# Starts the workbench; without a display, shows the sample message's decode with the CLI instead.
# usage: start.sh WINDOW_PROGRAM CLI_PROGRAM [ARGUMENTS OF THE WINDOW...]
set -euo pipefail
cd "$(dirname "$0")/.."
window=$1
cli=$2
shift 2
if [ -x "$window" ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] ||
    [ -n "${QT_QPA_PLATFORM:-}" ]; }; then
    exec "$window" "$@"
fi
if [ -x "$window" ]; then
    echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): the window cannot open;" \
        "this is what it shows for tests/data/iso8583/typical64.txt:"
fi
# Without the window, decode the sample message with the command-line tool.
exec "$cli" parse-iso8583 - < tests/data/iso8583/typical64.txt
