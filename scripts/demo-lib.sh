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

# Waits up to $1 seconds (and the last try) for a command to succeed, trying
# every $wait_step seconds.
wait_for() {
  local deadline=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    if [ "$SECONDS" -gt "$deadline" ]; then
      echo "$demo_name: timed out waiting for: $*" >&2; return 1
    fi
    sleep "${wait_step:-0.05}"
  done
}

# A fresh, private home under a new temporary directory (removed on exit) with
# Pilvo's desktop entry installed: sets root and the XDG variables.
fresh_home() {
  root=$(mktemp -d "${TMPDIR:-/tmp}/pilvo-$demo_name.XXXXXX")
  demo_tmp=$root
  export XDG_DATA_HOME=$root/data XDG_CONFIG_HOME=$root/config XDG_STATE_HOME=$root/state
  export XDG_CACHE_HOME=$root/cache XDG_RUNTIME_DIR=$root/run
  mkdir -p "$XDG_RUNTIME_DIR" "$XDG_DATA_HOME/applications" "$XDG_CONFIG_HOME/pilvo"
  chmod 700 "$XDG_RUNTIME_DIR"
  cp "$(dirname "${BASH_SOURCE[0]}")/../resources/com.pilvo.Pilvo.desktop" "$XDG_DATA_HOME/applications/"
}

# The managed window whose WM_CLASS class is $1 (wmctrl lists managed windows only).
managed_window() { wmctrl -lx | awk -v c="$1" '$3 ~ ("\\." c "$") { print $1; exit }'; }
have_window() { [ -n "$(managed_window "$1")" ]; }

# Clicks the first answer of the nudge on screenshot $1: the button filled with
# the accent colour (#4a6cf7) in the panel's column at the right edge.
click_nudge_answer() {
  local width left point
  width=$(xdpyinfo | awk '/dimensions:/ { split($2, d, "x"); print d[1] }')
  left=$((width - 280))
  point=$(convert "$1" -crop "280x1000+$left+0" +repage txt:- |
    awk -F'[,: ]+' '/#4A6CF7/ && !found { print $1, $2; found = 1 }')
  [ -n "$point" ] || return 1
  set -- $point
  xdotool mousemove $((left + $1 + 20)) $(($2 + 8)) click 1
}
