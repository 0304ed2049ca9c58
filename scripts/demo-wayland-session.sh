#!/usr/bin/env bash
# The scripted session of `make run-wayland`; runs inside the headless sway
# session of with-sway-session.sh: two native Wayland terminals (foot) take
# turns in front, one renames itself, the tracking channel is queried with
# pilvoctl, a nudge is shown, screenshots are taken with grim, and the agent's
# rows are printed.
set -euo pipefail
build=$1
demo="$build/demo-wayland"
rm -rf "$demo"
mkdir -p "$demo"
export XDG_DATA_HOME="$demo/data" XDG_STATE_HOME="$demo/state" XDG_CONFIG_HOME="$demo/config"
export XDG_RUNTIME_DIR="$demo/run"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"

source "$(dirname "$0")/demo-lib.sh"
has_window() { swaymsg -t get_tree | jq -e --arg id "$1" '[.. | objects | select(.app_id? == $id)] | length > 0'; }

# The second terminal renames itself when a line arrives on its FIFO.
mkfifo "$demo/title"
foot -a demo.Notes -T "demo notes" sleep 600 >/dev/null 2>&1 & pids+=($!)
foot -a demo.Term -T "demo terminal" sh -c \
  "exec 3<>'$demo/title'; while IFS= read -r t <&3; do printf '\\033]2;%s\\007' \"\$t\"; done" \
  >/dev/null 2>&1 & pids+=($!)
wait_for 10 has_window demo.Notes
wait_for 10 has_window demo.Term

"$build/agent/pilvo-agent" 2>"$demo/agent.stderr" & agent=$!
wait_for 10 grep -q "entering run loop" "$XDG_STATE_HOME/pilvo-agent.log"

for round in 1 2 3; do
  swaymsg '[app_id="^demo.Notes$"] focus' >/dev/null; sleep 0.3
  swaymsg '[app_id="^demo.Term$"] focus' >/dev/null; sleep 0.3
  echo "demo terminal, round $round" >"$demo/title"; sleep 0.3
done

if [ -x "$build/host/pilvo" ]; then
  "$build/host/pilvo" 2>"$demo/host.stderr" & pids+=($!)
  if wait_for 15 test -S "$XDG_RUNTIME_DIR/pilvo/host.sock" && wait_for 10 has_window com.pilvo.Pilvo; then
    echo "== Tracking channel (pilvoctl)"
    for method in getActiveAppName getAllRunningApps getRunningAppBundleIds; do
      printf '%-24s %s\n' "$method" "$("$build/channels/pilvoctl" call com.tavik/tracking "$method")"
    done
    printf '%-24s %s\n' "activateApp demo.Notes" \
      "$("$build/channels/pilvoctl" call com.tavik/tracking activateApp '{"bundleId": "demo.Notes"}')"
    sleep 0.5
    printf '%-24s %s\n' "getActiveAppName" \
      "$("$build/channels/pilvoctl" call com.tavik/tracking getActiveAppName)"
    grim "$demo/screen.png" 2>/dev/null || true
    echo "== A nudge (layer surfaces: the dim and the panel; the focused window keeps focus)"
    "$build/channels/pilvoctl" call com.tavik/overlay showOverlay \
      '{"message": "Back to the notes?", "showButtons": true}'
    sleep 1.5
    grim "$demo/nudge.png" 2>/dev/null && echo "screenshot: $demo/nudge.png"
    printf '%-24s %s\n' "focused app_id" \
      "$(swaymsg -t get_tree | jq -r '.. | objects | select(.focused? == true) | .app_id // empty')"
    "$build/channels/pilvoctl" call com.tavik/overlay hideOverlay >/dev/null
  else
    echo "demo: the host did not come up (see $demo/host.stderr)" >&2
  fi
fi

kill -TERM "$agent"
status=0; wait "$agent" || status=$?

echo
echo "== Agent log ($XDG_STATE_HOME/pilvo-agent.log)"
cat "$XDG_STATE_HOME/pilvo-agent.log"
echo
echo "== Rows recorded in $XDG_DATA_HOME/pilvo/agent_events.db"
sqlite3 -header -column "$XDG_DATA_HOME/pilvo/agent_events.db" \
  "SELECT id, timestamp, type, bundle_id, window_title, synced FROM events ORDER BY id"
echo
echo "Agent exit status: $status"
[ -f "$demo/screen.png" ] && echo "Screenshot of the session: $demo/screen.png"
exit "$status"
