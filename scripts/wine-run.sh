#!/usr/bin/env bash
# Runs a Windows program under wine, in the prefix scripts/windows.sh made for this run
# (WINEPREFIX), quietly and without asking for optional components.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX names the prefix of this run (scripts/windows.sh sets it)}"
export WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec wine "$@"
