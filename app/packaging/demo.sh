#!/usr/bin/env bash
# Starts srv_lumbrio in the foreground against a demo store: creates the store and a Conf.ini
# for it beside the server when they are missing. Run through `make demo` (which installs and
# builds first). Usage: demo.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD=${1:-build}
BIN="$BUILD/bin"
STORE_DIR="$PWD/demo"
STORE="$STORE_DIR/Srv_Drel.db"
CONF="$BIN/Conf.ini"
PORT=6001

mkdir -p "$STORE_DIR"
if [ ! -e "$STORE" ]; then
    "$BIN/lumbrio-db" demo "$STORE"
fi
if [ ! -e "$CONF" ]; then
    cat >"$CONF" <<CONF
; Written by make demo: the demo store and the demo port.
[SRV_DREL]
IP=
BASE=$STORE
[TCP]
PUERTO=$PORT
[GENERAL]
MONEDA_MINIMA=0.01
PUNTO_REDONDEO=0.005
CONF
    echo "Wrote $CONF"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    mode="headless (no display); stop it with Ctrl+C"
else
    mode="in the system tray; stop it from the icon's menu, \"Salir\""
fi
port=$(sed -n 's/^[[:space:]]*PUERTO[[:space:]]*=[[:space:]]*//Ip' "$CONF" | head -n1 | tr -d '\r')
cat <<TEXT

Starting srv_lumbrio on port ${port:-6001}, $mode.
Store: $STORE   Settings: $CONF
Try it from another terminal:
    $BIN/lumbrio-check --port ${port:-6001} 7501058617026 7501031311309 BOLILLO 123
Debug mode (every request and reply on this console): $BIN/srv_lumbrio DEBUG

TEXT
# LUMBRIO_CONF wins over the file beside the server: clear it so the demo uses its own.
unset LUMBRIO_CONF
exec "$BIN/srv_lumbrio"
