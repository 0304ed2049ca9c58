# Shared by the parts of the scripted session (demo-host.sh, demo-tray.sh,
# demo-overlay.sh), sourced as: source demo-common.sh BUILD_DIR SCREENSHOT.png
# Sets build, shot, pilvoctl, socket and logdir; demo-lib.sh stops every pid
# in `pids` on exit and defines wait_for.
set -euo pipefail
build=$(cd "$1" && pwd)
shot=$2
: "${XDG_RUNTIME_DIR:?XDG_RUNTIME_DIR must be set (pilvo puts its socket there)}"
pilvoctl="$build/channels/pilvoctl"
socket="$XDG_RUNTIME_DIR/pilvo/host.sock"
logdir=$(dirname "$shot")
mkdir -p "$logdir"
source "$(dirname "$0")/demo-lib.sh"
