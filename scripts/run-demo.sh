#!/usr/bin/env bash
# `make run`: runs Pilvo from the build directory.
#
# In a desktop session (DISPLAY set) the agent records into your own data
# directory and the desktop host opens its window, until you press Ctrl-C (or
# quit the host). Without a display, a short scripted session runs in a
# virtual display instead: two small X programs take turns in front, the
# tracking channel is queried with pilvoctl, a screenshot of the main window
# is saved, and the rows the agent recorded are printed at the end.
set -euo pipefail
build=${1:-build}
build=$(cd "$build" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

if [ -n "${DISPLAY:-}" ] && [ "${PILVO_FORCE_XVFB:-0}" != 1 ]; then
  echo "Running pilvo-agent and pilvo in this session; stop both with Ctrl-C."
  "$build/agent/pilvo-agent" & agent=$!
  trap 'kill -TERM "$agent" 2>/dev/null; wait "$agent" 2>/dev/null' EXIT
  "$build/host/pilvo" || true
  exit 0
fi

echo "No display: running a scripted session in a virtual display (Xvfb + openbox)."
PILVO_FORCE_XVFB=1 exec "$here/with-x-session.sh" "$here/demo-session.sh" "$build"
