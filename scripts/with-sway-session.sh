#!/usr/bin/env bash
# Runs a command inside its own headless sway session (a real wlroots
# compositor, no GPU, no input devices) and a D-Bus session bus.
#
#   scripts/with-sway-session.sh COMMAND [ARGS...]
#
# sway refuses to run as root, so as root it runs as "nobody" with a private
# runtime directory; the command keeps running as the caller and reaches the
# compositor by the socket's path (WAYLAND_DISPLAY is absolute, SWAYSOCK is set).
# Exits 77 (a skip for ctest) when sway is not installed. Every wait is
# bounded; the session is torn down when the command ends.
set -uo pipefail

if ! command -v sway >/dev/null || ! command -v swaymsg >/dev/null; then
  echo "with-sway-session: sway is not installed, so the Wayland tests are skipped" \
       "(scripts/install-deps.sh installs it)" >&2
  exit 77
fi

workdir=$(mktemp -d /tmp/pilvo-sway.XXXXXX)
chmod 755 "$workdir"
runtime="$workdir/run"
mkdir -m 700 "$runtime"
sway_pid=""
cleanup() {
  if [ -n "$sway_pid" ]; then
    kill "$sway_pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$sway_pid" 2>/dev/null || break; sleep 0.05; done
    kill -9 "$sway_pid" 2>/dev/null
    wait "$sway_pid" 2>/dev/null
  fi
  rm -rf "$workdir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

cat >"$workdir/config" <<'CONFIG'
# Pilvo's test session: one headless output, no XWayland, no bar.
xwayland disable
output HEADLESS-1 resolution 1280x720 position 0 0
default_border pixel 1
focus_on_window_activation focus
CONFIG
chmod 644 "$workdir/config"

as_user=()
if [ "$(id -u)" -eq 0 ]; then
  chown 65534:65534 "$runtime"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
"${as_user[@]}" env -i HOME="$workdir" PATH=/usr/local/bin:/usr/bin:/bin \
  XDG_RUNTIME_DIR="$runtime" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 \
  WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS=1 \
  sway -c "$workdir/config" >"$workdir/sway.log" 2>&1 &
sway_pid=$!

# The compositor's sockets appear in the runtime directory; find them by name.
socket="" ipc=""
for _ in $(seq 200); do
  socket=$(find "$runtime" -maxdepth 1 -type s -name 'wayland-*' 2>/dev/null | head -n1)
  ipc=$(find "$runtime" -maxdepth 1 -type s -name 'sway-ipc.*' 2>/dev/null | head -n1)
  if [ -n "$socket" ] && [ -n "$ipc" ] && SWAYSOCK="$ipc" swaymsg -t get_version >/dev/null 2>&1; then
    break
  fi
  kill -0 "$sway_pid" 2>/dev/null || break
  socket=""
  sleep 0.05
done
if [ -z "$socket" ]; then
  echo "with-sway-session: sway did not start:" >&2
  cat "$workdir/sway.log" >&2
  exit 1
fi

export WAYLAND_DISPLAY="$socket"
export SWAYSOCK="$ipc"
export XDG_SESSION_TYPE=wayland
export GDK_BACKEND=wayland
export PILVO_SWAY_LOG="$workdir/sway.log"
# For tests of a compositor that goes away.
export PILVO_SWAY_PID="$sway_pid"
# The command's own runtime directory (GTK and foot want one); the
# compositor's stays private to its user.
export XDG_RUNTIME_DIR="$workdir/client-run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset DISPLAY

status=0
dbus-run-session -- "$@" || status=$?
exit $status
