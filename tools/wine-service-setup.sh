#!/bin/bash
# Registers the filter driver's kernel service VantrelFlt in the Wine prefix
# $WINEPREFIX, before Vantrel.exe first starts there. Vantrel.exe creates the
# service only when it is missing, with the path Windows expects
# ("System32\Drivers\ZrVtrlFlt.sys"); Wine loads only the \SystemRoot form,
# and a filter can attach only to ports of a driver in the same load-order
# group. An entry in any other form is replaced; a correct one is left alone
# (also one that a 32-bit sc made, marked WOW64: Wine would load the driver in
# its 32-bit host).
# Creates the prefix when it does not exist yet.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
tools=$(cd "$(dirname "$0")" && pwd)

SERVICE=VantrelFlt
DISPLAY_NAME="Vantrel Filter Driver"
IMAGE_PATH='\SystemRoot\System32\Drivers\ZrVtrlFlt.sys'
KEY="HKLM\\System\\CurrentControlSet\\Services\\$SERVICE"
# The group the test port driver is registered with.
GROUP=$(sed -n 's/^#define TESTPORT_LOAD_ORDER_GROUP "\(.*\)"/\1/p' "$tools/../testport/TestPortIoctl.h")
if [ -z "$GROUP" ]; then
    echo "wine-service-setup: no TESTPORT_LOAD_ORDER_GROUP in testport/TestPortIoctl.h" >&2
    exit 1
fi

# Through the project's runner: it makes the prefix once, under its lock.
wine_cmd() { "$tools/wine-run.sh" "$WINEPREFIX" "$@"; }

# The entry as "Name=value" lines, sorted; nothing when it is missing.
service_values() {
    wine_cmd reg query "$KEY" 2>/dev/null | tr -d '\r' |
        sed -n 's/^    \([A-Za-z0-9]*\)    REG_[A-Z_]*    \(.*\)$/\1=\2/p' |
        grep -E '^(Type|Start|ErrorControl|ImagePath|DisplayName|Group|WOW64)=' | sort || true
}

expected_values() {
    printf '%s\n' "DisplayName=$DISPLAY_NAME" "ErrorControl=0x1" "Group=$GROUP" \
        "ImagePath=$IMAGE_PATH" "Start=0x3" "Type=0x1" | sort
}

current=$(service_values)
[ "$current" = "$(expected_values)" ] && exit 0

if [ -n "$current" ]; then
    echo "wine-service-setup: replacing the $SERVICE entry"
    wine_cmd sc stop "$SERVICE" >/dev/null 2>&1 || true
    wine_cmd sc delete "$SERVICE" >/dev/null
fi
wine_cmd sc create "$SERVICE" type= kernel start= demand error= normal binpath= "$IMAGE_PATH" \
    group= "$GROUP" displayname= "$DISPLAY_NAME" >/dev/null

if [ "$(service_values)" != "$(expected_values)" ]; then
    echo "wine-service-setup: the $SERVICE entry did not take the expected form:" >&2
    service_values >&2
    exit 1
fi
echo "wine-service-setup: $SERVICE registered (group $GROUP)"
