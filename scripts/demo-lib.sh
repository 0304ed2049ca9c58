# Shared by every scripted demo: `pids` are stopped on exit, and wait_for
# bounds every wait. Source it; $demo_name names the script in messages.
demo_name=${demo_name:-$(basename "$0" .sh)}
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
}
trap cleanup EXIT

# Waits up to $1 seconds for a command to succeed.
wait_for() {
  local limit=$1; shift
  for _ in $(seq $((limit * 20))); do "$@" >/dev/null 2>&1 && return 0; sleep 0.05; done
  echo "$demo_name: timed out waiting for: $*" >&2; return 1
}
