#!/usr/bin/env bash
# `make run`: runs Pilvo from the build directory.
#
# In a desktop session (DISPLAY set) the agent runs in the foreground and
# records into your own data directory until you press Ctrl-C. Without a
# display, a short scripted session runs in a virtual display instead: two
# small X programs take turns in front, and the rows the agent recorded are
# printed at the end.
set -euo pipefail
build=${1:-build}
build=$(cd "$build" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

if [ -n "${DISPLAY:-}" ] && [ "${PILVO_FORCE_XVFB:-0}" != 1 ]; then
  echo "Running pilvo-agent in this session; stop it with Ctrl-C."
  exec "$build/agent/pilvo-agent"
fi

echo "No display: running a scripted session in a virtual display (Xvfb + openbox)."
PILVO_FORCE_XVFB=1 exec "$here/with-x-session.sh" "$here/demo-session.sh" "$build"
