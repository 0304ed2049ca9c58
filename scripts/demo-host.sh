#!/usr/bin/env bash
# The desktop host's part of the scripted session (called by demo-session.sh
# inside a running X session, with the agent already running):
#   scripts/demo-host.sh BUILD_DIR SCREENSHOT.png
# Starts pilvo, queries the tracking channel with pilvoctl as an interface
# would, brings another application forward through it, clicks the sidebar
# button while `pilvoctl listen` shows the "toggle" call, saves a screenshot
# of the screen with the main window, and stops pilvo. Every wait is bounded.
source "$(dirname "$0")/demo-common.sh" "$@"
active_window() { xprop -root _NET_ACTIVE_WINDOW | sed -n 's/.*# \(0x[0-9a-f]*\).*/\1/p'; }
front_changed_from() { [ "$(active_window)" != "$1" ]; }
is_active() { [ "$(printf '%d' "$(active_window)")" = "$(printf '%d' "$1")" ]; }
track() { "$pilvoctl" --socket "$socket" --timeout 10 call com.tavik/tracking "$@"; }
listener_connected() { ss -xH 2>/dev/null | grep -F "$socket" | grep -qv LISTEN; }

echo
echo "== Desktop host"
# Installed as a user would have it, so it has its name and icon.
here=$(cd "$(dirname "$0")" && pwd)
data=${XDG_DATA_HOME:-$HOME/.local/share}
mkdir -p "$data/applications" "$data/icons/hicolor/scalable/apps"
cp "$here/../resources/com.pilvo.Pilvo.desktop" "$data/applications/"
cp "$here/../resources/com.pilvo.Pilvo.svg" "$data/icons/hicolor/scalable/apps/"
"$build/host/pilvo" 2>"$logdir/pilvo.stderr" & pilvo=$!
pids+=("$pilvo")
wait_for 15 test -S "$socket"
wait_for 10 have_window com.pilvo.Pilvo
main=$(managed_window com.pilvo.Pilvo)
echo "pilvo is running (pid $pilvo), main window $main, socket $socket"

echo
echo "== Tracking channel (pilvoctl call com.tavik/tracking ...)"
for method in getRunningAppBundleIds getAllRunningApps getActiveAppName getAppSupportPath \
              hasPermissions; do
  printf '%-24s %s\n' "$method" "$(track "$method")"
done

# Bring the first other application forward through the channel.
target=$(track getRunningAppBundleIds | sed -n 's/^\["\([^"]*\)".*/\1/p')
if [ -n "$target" ]; then
  xdotool windowactivate --sync "$main" 2>/dev/null || wmctrl -ia "$main"
  wait_for 5 is_active "$main"
  printf '%-24s %s\n' "(front before)" "$(track getActiveAppName)"
  before=$(active_window)
  printf '%-24s %s\n' "activateApp $target" "$(track activateApp "{\"bundleId\": \"$target\"}")"
  start=$(date +%s%N)
  wait_for 5 front_changed_from "$before"
  echo "(the front changed $(( ($(date +%s%N) - start) / 1000000 )) ms after the answer)"
  printf '%-24s %s\n' "(front after)" "$(track getActiveAppName)"
fi

printf '%-24s %s\n' "activateApp 42" "$(track activateApp '{"bundleId": 42}')"
printf '%-24s ' "noSuchMethod"; track noSuchMethod || echo "(exit status $?: not implemented)"

echo
echo "== Installed applications (pilvoctl call com.tavik/tracking indexAllApps)"
start=$(date +%s%N)
apps=$(track indexAllApps)
count=0
[ "$apps" != "[]" ] && count=$(( $(grep -o '\],\[' <<<"$apps" | wc -l) + 1 ))
echo "answered in $(( ($(date +%s%N) - start) / 1000000 )) ms: $count applications; the first few:"
sed 's/\],\[/]\n[/g; s/^\[\[/[/; s/\]\]$/]/' <<<"$apps" | head -n 5 | sed 's/^/  /'
echo "icons in $data/app_icons: $(find "$data/app_icons" -name '*.png' 2>/dev/null | wc -l)"

echo
echo "== Sidebar button (pilvoctl listen com.tavik/sidebar, then a click on the button)"
"$pilvoctl" --socket "$socket" --timeout 10 --count 1 listen com.tavik/sidebar \
  >"$logdir/sidebar.jsonl" & listener=$!
pids+=("$listener")
wait_for 5 listener_connected || sleep 1
xdotool windowactivate --sync "$main" 2>/dev/null || wmctrl -ia "$main"
wait_for 5 is_active "$main"
# The button sits at the leading edge of the title bar: 28 x 28, 4 px in.
xdotool mousemove --window "$main" 24 22 click 1
wait "$listener" || true
echo "pilvoctl listen printed: $(cat "$logdir/sidebar.jsonl")"

echo
echo "== Launch at login (pilvoctl call com.tavik/settings setLaunchAtLogin ...)"
settings() { "$pilvoctl" --socket "$socket" --timeout 10 call com.tavik/settings "$@"; }
entry="${XDG_CONFIG_HOME:-$HOME/.config}/autostart/com.pilvo.Pilvo.desktop"
printf '%-24s %s\n' "enabled: true" "$(settings setLaunchAtLogin '{"enabled": true}')"
echo "--- $entry"; cat "$entry"; echo "---"
printf '%-24s %s\n' "enabled: false" "$(settings setLaunchAtLogin '{"enabled": false}')"
[ -e "$entry" ] && echo "(still there!)" || echo "(the entry is gone)"
printf '%-24s ' "enabled: \"yes\""; settings setLaunchAtLogin '{"enabled": "yes"}' || true

echo
echo "== Updater (pilvoctl call com.pilvo/updater ...)"
for method in getVersionInfo isUpdateReady; do
  printf '%-24s %s\n' "$method" "$("$pilvoctl" --socket "$socket" --timeout 10 call com.pilvo/updater "$method")"
done

echo
echo "== Screenshot"
xdotool mousemove 0 0
sleep 1.2  # the content area refreshes its interface count once a second
import -window root "$shot"
echo "saved $shot"

kill -TERM "$pilvo"
status=0; wait "$pilvo" || status=$?
echo "pilvo stopped (exit status $status)"
exit "$status"
