# Shared by every scripted demo: `pids` are stopped on exit (and the directory
# $demo_tmp removed, if set), and wait_for bounds every wait. Source it;
# $demo_name names the script in messages.
demo_name=${demo_name:-$(basename "$0" .sh)}
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  if [ -n "${demo_tmp:-}" ]; then rm -rf "$demo_tmp"; fi
}
trap cleanup EXIT

# Waits up to $1 seconds (and the last try) for a command to succeed.
wait_for() {
  local deadline=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    if [ "$SECONDS" -gt "$deadline" ]; then
      echo "$demo_name: timed out waiting for: $*" >&2; return 1
    fi
    sleep 0.05
  done
}
