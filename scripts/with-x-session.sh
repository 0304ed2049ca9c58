#!/usr/bin/env bash
# Runs a command inside its own X session: Xvfb, the openbox window manager and
# a D-Bus session bus. Without PILVO_FORCE_XVFB=1 an existing $DISPLAY is used as is.
# PILVO_XVFB_SCREEN sets Xvfb's screen (default 1920x1080x24), e.g. 1366x768x24.
#
#   scripts/with-x-session.sh COMMAND [ARGS...]
#
# Every wait is bounded; the session is torn down when the command ends.
set -uo pipefail

if [ -n "${DISPLAY:-}" ] && [ "${PILVO_FORCE_XVFB:-0}" != 1 ]; then
  exec "$@"
fi

for tool in Xvfb openbox dbus-run-session; do
  command -v "$tool" >/dev/null || { echo "with-x-session: $tool is missing; run scripts/install-deps.sh" >&2; exit 127; }
done

workdir=$(mktemp -d /tmp/pilvo-xsession.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$workdir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# -displayfd lets Xvfb pick a free display number and tell us when it is ready.
# Two servers starting at once may pick the same number, so sessions start
# their servers one at a time (a lock shared with the tests that start their
# own), and a server that is not alive and answering is started again.
exec 9>/tmp/pilvo-xvfb-start.lock
flock -w 60 9 || echo "with-x-session: starting without the Xvfb start lock" >&2
started=0
for attempt in 1 2 3 4 5; do
  : >"$workdir/display"
  Xvfb -displayfd 3 -screen 0 "${PILVO_XVFB_SCREEN:-1920x1080x24}" -nolisten tcp -noreset 3>"$workdir/display" 2>"$workdir/xvfb.log" 9>&- &
  xvfb=$!
  for _ in $(seq 100); do
    [ -s "$workdir/display" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.05
  done
  if [ -s "$workdir/display" ]; then
    display=":$(head -n1 "$workdir/display")"
    for _ in $(seq 40); do
      xprop -display "$display" -root >/dev/null 2>&1 && break
      sleep 0.05
    done
    sleep 0.1
    if kill -0 "$xvfb" 2>/dev/null && xprop -display "$display" -root >/dev/null 2>&1; then
      pids+=("$xvfb")
      started=1
      break
    fi
  fi
  kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null
done
exec 9>&-  # releases the start lock
if [ "$started" != 1 ]; then
  echo "with-x-session: Xvfb did not start:" >&2; cat "$workdir/xvfb.log" >&2; exit 1
fi
export DISPLAY="$display"
unset WAYLAND_DISPLAY
export WEBKIT_DISABLE_COMPOSITING_MODE=1
export GDK_BACKEND=x11

# Wait until the window manager announces itself on the root window; tests
# that need one must not run without it.
wm_running=0
for attempt in 1 2 3; do
  openbox --sm-disable >"$workdir/openbox.log" 2>&1 &
  wm=$!
  for _ in $(seq 200); do
    if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
      wm_running=1
      break
    fi
    kill -0 "$wm" 2>/dev/null || break
    sleep 0.05
  done
  if [ "$wm_running" = 1 ]; then
    pids+=("$wm")
    break
  fi
  kill "$wm" 2>/dev/null; wait "$wm" 2>/dev/null
done
if [ "$wm_running" != 1 ]; then
  echo "with-x-session: openbox did not start:" >&2; cat "$workdir/openbox.log" >&2; exit 1
fi

exec_status=0
dbus-run-session -- "$@" || exec_status=$?
exit $exec_status
