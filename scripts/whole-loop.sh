#!/usr/bin/env bash
# The whole loop, inside an X session (run through scripts/with-x-session.sh):
#   scripts/whole-loop.sh BUILD_DIR [SCREENSHOT_DIR]
# The agent and the host with its interface run in a fresh home, with a test tray watcher
# playing the desktop's tray. The user works in one application for 45 s, then hops between
# two others every half second; the interface must take every row (synced), the tray icon
# must turn from green to red, a nudge must come (sensitivity "high": after a minute of
# distraction), and "Back to focus" must bring the first application back to the front.
# Then a deep session started from the tray menu must count down in that menu, as a screen
# reader reads it. Every wait is bounded. With SCREENSHOT_DIR (as `make run` does), each
# step is also saved as a screenshot there.
set -euo pipefail
build=$(cd "$1" && pwd)
shots=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
demo_name=whole-loop
source "$here/demo-lib.sh"
fresh_home
printf '{"sensitivity":"high"}\n' >"$XDG_CONFIG_HOME/pilvo/interface.json"
store=$XDG_DATA_HOME/pilvo/agent_events.db
fail() {
  echo "whole-loop: $*" >&2
  echo "--- pilvo log" >&2; tail -30 "$root/pilvo.err" >&2
  echo "--- tray" >&2; tail -10 "$root/tray.log" >&2
  exit 1
}
# Saves the screen (or window $2) as $shots/$1 when screenshots were asked for.
shoot() {
  [ -n "$shots" ] && [ -n "$1" ] || return 0
  mkdir -p "$shots"
  import -window "${2:-root}" "$shots/$1" && echo "  screenshot: $shots/$1"
}
active_window() { printf '%d' "$(xprop -root _NET_ACTIVE_WINDOW | sed -n 's/.*# \(0x[0-9a-f]*\).*/\1/p')"; }
all_synced() {
  local counts
  counts=$(sqlite3 "$store" 'select count(*), coalesce(sum(synced), 0) from events')
  [ "${counts%|*}" -gt 0 ] && [ "${counts%|*}" = "${counts#*|}" ]
}

if command -v picom >/dev/null; then
  picom --backend xrender --config /dev/null 2>/dev/null & pids+=($!)
fi
"$build/testing/pilvo_test_tray_watcher" >"$root/tray.log" & pids+=($!)
for app in Editor Chat Web; do
  xterm -class "$app" -title "$app" -e sleep 600 & pids+=($!)
done
for app in Editor Chat Web; do wait_for 10 have_window "$app" || fail "$app did not start"; done
editor=$(printf '%d' "$(managed_window Editor)")
chat=$(printf '%d' "$(managed_window Chat)")
web=$(printf '%d' "$(managed_window Web)")
# The day starts in the editor: the programs' start-up is not the user switching.
xdotool windowactivate "$editor"
"$build/agent/pilvo-agent" 2>"$root/agent.err" & pids+=($!)
"$build/host/pilvo" 2>"$root/pilvo.err" & pilvo=$!; pids+=($pilvo)
wait_for 30 grep -q "korima_overlay.html loaded" "$root/pilvo.err" || fail "the host did not start"
wait_for 10 grep -q "^registered " "$root/tray.log" || fail "the tray item did not register"
item=$(awk '/^registered / { print $2; exit }' "$root/tray.log")
main=$(managed_window com.pilvo.Pilvo)
# The tray's colours: green from a score of 70, red below 40.
icon_is() { grep -q "^icon $item #$1 255\$" "$root/tray.log"; }

xdotool windowactivate "$editor"
wait_for 20 all_synced || fail "the interface did not take the first rows"
echo "rows taken and marked synced: $(sqlite3 "$store" 'select count(*) from events')"
wait_for 10 icon_is 34C759 || fail "the tray icon did not turn green while focused"
echo "the tray icon is green; 45 s in the editor"
sleep 45
shoot interface-focused.png "$main"
echo "hopping between Chat and Web every half second"

deadline=$((SECONDS + 150))
nudged=0
while [ $SECONDS -lt $deadline ]; do
  xdotool windowactivate "$chat"; sleep 0.5
  xdotool windowactivate "$web"; sleep 0.5
  if grep -q "Tavik: Showing overlay" "$root/pilvo.err"; then nudged=1; break; fi
  [ -n "${PILVO_E2E_DEBUG:-}" ] && sqlite3 "$store" "select $SECONDS, count(*), sum(synced) from events" >&2
done
[ $nudged = 1 ] || fail "no nudge within 150 s of switching"
echo "nudged after $((SECONDS - deadline + 150)) s of switching"
wait_for 10 all_synced || fail "rows were left unsynced"
wait_for 10 icon_is FF3B30 || fail "the tray icon did not turn red"
echo "the tray icon went from green to red"
shoot interface-distracted.png "$main"

# The panel's first answer button is "Back to focus".
sleep 1.5
shot=$root/nudge.png
import -window root "$shot"
[ -z "$shots" ] || cp "$shot" "$shots/nudge.png"
click_nudge_answer "$shot" || fail "no answer button on the nudge"
wait_for 10 grep -q "nudgeResponse" "$root/pilvo.err" || fail "the answer did not reach the host"
is_editor() { [ "$(active_window)" = "$editor" ]; }
wait_for 10 is_editor || fail "Back to focus did not bring the editor back (active: $(active_window))"
echo "Back to focus brought the editor back to the front"

# A deep session from the tray menu: the first row the keyboard reaches.
menu_rows() { timeout 20 "$here/../testing/accessible_texts.py" "$pilvo" menu; }
menu_closed() { ! menu_rows; }
click_tray() {
  timeout 15 gdbus call --session --dest "$item" --object-path /StatusNotifierItem \
    --method org.kde.StatusNotifierItem.Activate 0 0 >/dev/null && wait_for 10 menu_rows
}
click_tray || fail "the tray menu did not open"
menu_rows | grep -qx "Start Deep Session" || fail "no Start Deep Session in the menu: $(menu_rows)"
xdotool key Down Return
wait_for 10 menu_closed || fail "the tray menu stayed open"
# Opens the menu, notes the seconds left as the session's row shows them
# ("Deep Session Active  24:59") in $root/left, closes the menu.
read_session() {
  click_tray || return 1
  local row
  row=$(menu_rows | grep "^Deep Session Active")
  shoot "${1:-}"
  xdotool key Escape
  wait_for 10 menu_closed || return 1
  [ -n "$row" ] || return 1
  row=${row##* }
  echo $((10#${row%:*} * 60 + 10#${row#*:})) >"$root/left"
}
wait_for 20 read_session || fail "the session did not show in the tray menu"
first=$(cat "$root/left")
[ "$first" -gt $((24 * 60)) ] && [ "$first" -le $((25 * 60)) ] ||
  fail "a 25-minute session shows $first s left"
sleep 2.5
read_session tray-session.png || fail "the session left the tray menu"
second=$(cat "$root/left")
[ "$second" -lt "$first" ] || fail "the session did not count down in the menu ($first s, then $second s)"
echo "the tray menu counts the session down: $first s, then $second s left"
shoot interface-session.png "$main"
