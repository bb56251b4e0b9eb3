#!/usr/bin/env bash
# Runs a command inside a private X session with a system tray: with-xsession.sh COMMAND...
set -euo pipefail
. "$(dirname "$0")/xsession.sh"
start_xsession tray
"$@"
