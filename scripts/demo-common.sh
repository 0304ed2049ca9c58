# Shared by the parts of the scripted session (demo-host.sh, demo-tray.sh,
# demo-overlay.sh), sourced as: source demo-common.sh BUILD_DIR SCREENSHOT.png
# Sets build, shot, pilvoctl, socket and logdir, stops every pid in `pids` on
# exit, and defines wait_for.
set -euo pipefail
build=$(cd "$1" && pwd)
shot=$2
: "${XDG_RUNTIME_DIR:?XDG_RUNTIME_DIR must be set (pilvo puts its socket there)}"
pilvoctl="$build/channels/pilvoctl"
socket="$XDG_RUNTIME_DIR/pilvo/host.sock"
logdir=$(dirname "$shot")
mkdir -p "$logdir"
demo_name=$(basename "$0" .sh)

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

# Waits up to $1 seconds for a command to succeed.
wait_for() {
  local limit=$1; shift
  for _ in $(seq $((limit * 20))); do "$@" >/dev/null 2>&1 && return 0; sleep 0.05; done
  echo "$demo_name: timed out waiting for: $*" >&2; return 1
}
