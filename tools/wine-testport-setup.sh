#!/bin/bash
# Installs the null-modem test port driver in the Wine prefix $WINEPREFIX and
# starts it: wine-testport-setup.sh VtrlTestPort.sys. Its one pair is COM11
# and COM12 (Wine maps no COM port of that number itself). The service is
# made in the load-order group of the filter, so the filter can attach to it.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
IMAGE=${1:?usage: wine-testport-setup.sh VtrlTestPort.sys}
tools=$(cd "$(dirname "$0")" && pwd)
header="$tools/../testport/TestPortIoctl.h"
define() { sed -n "s/^#define $1 \"\(.*\)\"/\1/p" "$header"; }

SERVICE=$(define TESTPORT_SERVICE_NAME)
GROUP=$(define TESTPORT_LOAD_ORDER_GROUP)
KEY="HKLM\\System\\CurrentControlSet\\Services\\$SERVICE"
wine_cmd() { "$tools/wine-run.sh" "$WINEPREFIX" "$@"; }

cp "$IMAGE" "$WINEPREFIX/drive_c/windows/system32/drivers/$(basename "$IMAGE")"
wine_cmd sc stop "$SERVICE" >/dev/null 2>&1 || true
wine_cmd sc delete "$SERVICE" >/dev/null 2>&1 || true
wine_cmd sc create "$SERVICE" type= kernel start= demand error= normal \
    binpath= "\\SystemRoot\\System32\\Drivers\\$(basename "$IMAGE")" group= "$GROUP" >/dev/null
wine_cmd reg add "$KEY\\Parameters" /v Pair0 /t REG_SZ /d COM11,COM12 /f >/dev/null
wine_cmd sc start "$SERVICE" >/dev/null
echo "wine-testport-setup: $SERVICE started (COM11 <-> COM12)"
