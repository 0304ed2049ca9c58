#!/usr/bin/env bash
# The nudge part of the scripted session (called by demo-session.sh inside a
# running X session):
#   scripts/demo-overlay.sh BUILD_DIR SCREENSHOT.png
# Starts a compositor (picom) so the screen can be dimmed, starts pilvo, shows
# a nudge with answer buttons through pilvoctl, saves a screenshot of the
# dimmed screen with the avatar, clicks the first answer and prints the
# "nudgeResponse" that `pilvoctl listen` received. Every wait is bounded.
source "$(dirname "$0")/demo-common.sh" "$@"
listener_connected() { ss -xH 2>/dev/null | grep -F "$socket" | grep -qv LISTEN; }

echo
echo "== Nudge (pilvoctl call com.tavik/overlay showOverlay ...)"
if command -v picom >/dev/null; then
  picom --backend xrender --config /dev/null 2>"$logdir/picom.stderr" & pids+=($!)
  sleep 1  # picom takes the compositing selection within a moment
else
  echo "picom is missing (scripts/install-deps.sh installs it): the screen is not dimmed"
fi
"$build/host/pilvo" 2>"$logdir/pilvo-overlay.stderr" & pilvo=$!
pids+=("$pilvo")
wait_for 15 test -S "$socket"
wait_for 30 grep -q "korima_overlay.html loaded" "$logdir/pilvo-overlay.stderr"

"$pilvoctl" --socket "$socket" --count 1 listen com.tavik/overlay >"$logdir/listen.out" &
listener=$!
pids+=("$listener")
wait_for 5 listener_connected

echo "showOverlay answered: $("$pilvoctl" --socket "$socket" call com.tavik/overlay showOverlay \
  '{"message":"Time to refocus?","showButtons":true,"durationSeconds":30}')"
sleep 1.2  # 0.5 s slide-in, 0.4 s fade-in
import -window root "$shot"
echo "Screenshot of the dimmed screen with the avatar: $shot"

if ! click_nudge_answer "$shot"; then
  echo "demo-overlay: no answer button found in the screenshot" >&2
  exit 1
fi
wait_for 5 test -s "$logdir/listen.out"
echo "pilvoctl listen received: $(cat "$logdir/listen.out")"
echo "Host log lines of the nudge:"
grep -E "Tavik: (Showing overlay|Nudge response|Sent nudgeResponse|Overlay hidden|Screen dimming)" \
  "$logdir/pilvo-overlay.stderr" | sed 's/^/  /' || true
sleep 0.5
kill -TERM "$pilvo"; wait "$pilvo" 2>/dev/null || true
