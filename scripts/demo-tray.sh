#!/usr/bin/env bash
# The tray's part of the scripted session (called by demo-session.sh inside a
# running X session):
#   scripts/demo-tray.sh BUILD_DIR SCREENSHOT.png
# Starts trayer as the desktop's tray and pilvo, pushes a score and the menu's
# figures with pilvoctl, clicks the paw print, saves a screenshot of the open
# menu, chooses "Start Deep Session" while `pilvoctl listen` prints the event,
# then quits pilvo from its menu. Every wait is bounded.
source "$(dirname "$0")/demo-common.sh" "$@"
menubar() { "$pilvoctl" --socket "$socket" --timeout 10 call com.tavik/menubar "$@"; }
menu_shown() {
  local types=""
  for w in $(xdotool search --onlyvisible --classname com.pilvo.Pilvo); do
    types+=$(xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null || true)
  done
  [[ $types == *POPUP_MENU* ]]
}
menu_gone() { ! menu_shown; }
listener_connected() { ss -xH 2>/dev/null | grep -F "$socket" | grep -qv LISTEN; }

echo
echo "== Tray (trayer as the desktop's XEmbed tray)"
trayer --edge top --align right --widthtype request --height 32 --SetDockType true \
  >/dev/null 2>&1 & pids+=($!)
wait_for 10 xdotool search --classname trayer
"$build/host/pilvo" 2>"$logdir/pilvo-tray.stderr" & pilvo=$!
pids+=("$pilvo")
wait_for 15 test -S "$socket"
printf '%-58s %s\n' 'updateScore {"score": 72}' "$(menubar updateScore '{"score": 72}')"
printf '%-58s %s\n' 'updateTrackingState {"isTracking": true}' \
  "$(menubar updateTrackingState '{"isTracking": true}')"
args='{"score": 72, "focusState": "deep", "deepWork": 45, "switches": 12, "isTracking": true}'
printf '%-58s %s\n' "updatePopover $args" "$(menubar updatePopover "$args")"

# The icon: pilvo's small window that trayer embedded (x y size on the screen).
tray_icon() {
  xwininfo -root -tree | grep '"com.pilvo.Pilvo"' |
    sed -n 's/.* \([0-9]*\)x\([0-9]*\)+-\{0,1\}[0-9]*+-\{0,1\}[0-9]* *+\([0-9]*\)+\([0-9]*\)$/\1 \3 \4/p' |
    awk '$1 >= 16 && $1 <= 64 { print $2, $3, $1; exit }'
}
has_icon() { [ -n "$(tray_icon)" ]; }
wait_for 10 has_icon
read -r X Y WIDTH < <(tray_icon)
HEIGHT=$WIDTH
echo "the paw print is embedded in trayer at $X,$Y (${WIDTH} px)"
"$pilvoctl" --socket "$socket" --timeout 15 --count 1 listen com.tavik/menubar_events \
  >"$logdir/menubar-events.jsonl" & listener=$!
pids+=("$listener")
wait_for 5 listener_connected || sleep 1
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
wait_for 5 menu_shown
sleep 0.3
import -window root "$shot"
echo "saved $shot (the open menu)"
xdotool key Down Return  # the first enabled row: Start Deep Session
wait "$listener" || true
echo "pilvoctl listen printed: $(cat "$logdir/menubar-events.jsonl")"

wait_for 5 menu_gone
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
wait_for 5 menu_shown
xdotool key q
status=0
for _ in $(seq 100); do kill -0 "$pilvo" 2>/dev/null || break; sleep 0.05; done
wait "$pilvo" || status=$?
echo "Quit Pilvo: pilvo ended with status $status; socket $( [ -e "$socket" ] && echo left behind || echo removed)"
exit "$status"
