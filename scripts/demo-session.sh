#!/usr/bin/env bash
# The scripted session of `make run` (see run-demo.sh); runs inside an X session.
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo"
export XDG_DATA_HOME="$demo/data" XDG_STATE_HOME="$demo/state" XDG_CONFIG_HOME="$demo/config"
export XDG_RUNTIME_DIR="$demo/run"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"

source "$(dirname "$0")/demo-lib.sh"
window_of() { xdotool search --class "$1" 2>/dev/null | head -n1; }

# Two small X programs, each its own application to the agent.
xterm -class DemoNotes -title "demo notes" -geometry 60x10+100+100 -e sleep 600 & pids+=($!)
xterm -class DemoTerm -title "demo terminal" -geometry 60x10+500+100 -e sleep 600 & pids+=($!)
wait_for 10 window_of DemoNotes
wait_for 10 window_of DemoTerm
notes=$(window_of DemoNotes)
term=$(window_of DemoTerm)

"$build/agent/pilvo-agent" 2>"$demo/agent.stderr" & agent=$!
wait_for 10 grep -q "entering run loop" "$XDG_STATE_HOME/pilvo-agent.log"

for round in 1 2 3; do
  xdotool windowactivate --sync "$notes"; sleep 0.3
  xdotool windowactivate --sync "$term"; sleep 0.3
  xdotool set_window --name "demo terminal, round $round" "$term"; sleep 0.3
done

if [ -x "$build/host/pilvo" ] && [ -x "$here/demo-host.sh" ]; then
  "$here/demo-host.sh" "$build" "$demo/main-window.png" || echo "demo: host part failed" >&2
fi
if [ -x "$build/host/pilvo" ] && [ -x "$here/demo-tray.sh" ]; then
  "$here/demo-tray.sh" "$build" "$demo/tray-menu.png" || echo "demo: tray part failed" >&2
fi

if [ -x "$build/host/pilvo" ] && [ -x "$here/demo-overlay.sh" ]; then
  "$here/demo-overlay.sh" "$build" "$demo/nudge.png" || echo "demo: nudge part failed" >&2
fi

kill -TERM "$agent"
status=0; wait "$agent" || status=$?

if [ -x "$build/host/pilvo" ] && [ -x "$build/testing/pilvo_test_tray_watcher" ]; then
  echo
  echo "== The whole loop through the interface (about two minutes, in a fresh home)"
  "$here/whole-loop.sh" "$build" "$demo/loop" || echo "demo: the loop failed" >&2
fi

echo
echo "== Agent log ($XDG_STATE_HOME/pilvo-agent.log)"
cat "$XDG_STATE_HOME/pilvo-agent.log"
echo
echo "== Rows recorded in $XDG_DATA_HOME/pilvo/agent_events.db"
sqlite3 -header -column "$XDG_DATA_HOME/pilvo/agent_events.db" \
  "SELECT id, timestamp, type, bundle_id, window_title, synced FROM events ORDER BY id"
echo
echo "Agent exit status: $status"
[ -f "$demo/main-window.png" ] && echo "Screenshot of the main window: $demo/main-window.png"
[ -f "$demo/nudge.png" ] && echo "Screenshot of a nudge: $demo/nudge.png"
[ -f "$demo/tray-menu.png" ] && echo "Screenshot of the tray menu: $demo/tray-menu.png"
[ -d "$demo/loop" ] && echo "Screenshots of the whole loop: $demo/loop/"
exit "$status"
