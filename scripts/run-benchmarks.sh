#!/usr/bin/env bash
# `make bench`: runs every benchmark behind docs/benchmarks.md and prints the
# figures. Takes about five minutes (two 60 s phases measure the agent idle and
# under pointer motion). Set QUICK=1 for a short smoke run.
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
seconds=60; switches=10000; rows=1000000
if [ "${QUICK:-0}" = 1 ]; then seconds=2; switches=200; rows=20000; fi

echo "== Event store: prune and insert"
"$build/bench/agent_store_bench" "$rows"
echo
echo "== Agent end to end (switch latency, memory, CPU)"
PILVO_FORCE_XVFB=1 "$here/with-x-session.sh" "$build/bench/agent_switch_bench" \
  "$build/agent/pilvo-agent" "$switches" "$seconds"
echo
echo "== Agent under a title flood"
PILVO_FORCE_XVFB=1 "$here/with-x-session.sh" "$build/bench/agent_title_bench" \
  "$build/agent/pilvo-agent" "$([ "${QUICK:-0}" = 1 ] && echo 2 || echo 10)" 1000
echo
echo "== Host: installed-application index"
PILVO_FORCE_XVFB=1 "$here/with-x-session.sh" "$build/bench/app_index_bench" \
  "$build/host/pilvo" "$build/channels/pilvoctl" "$([ "${QUICK:-0}" = 1 ] && echo 50 || echo 500)"
echo "== Agent on Wayland (sway): focus latency, CPU idle and while typing"
if command -v sway >/dev/null && [ -x "$build/bench/agent_wayland_bench" ]; then
  "$here/with-sway-session.sh" "$build/bench/agent_wayland_bench" \
    "$build/agent/pilvo-agent" "$switches" "$seconds"
else
  echo "(skipped: sway or the Wayland backend is missing)"
fi
echo
echo "== Channel layer: codec"
"$build/bench/channels_codec_bench"
echo
echo "== Channel layer: bridge round trips"
"$build/bench/channels_bridge_bench"
echo
echo "== Nudge panels (first frame, slide-in frames, memory, CPU)"
PILVO_FORCE_XVFB=1 "$here/with-x-session.sh" "$build/bench/overlay_bench" \
  "$([ "${QUICK:-0}" = 1 ] && echo 2 || echo 10)"
echo "== Interface: start to first reply, memory with the nudge page"
PILVO_FORCE_XVFB=1 "$here/with-x-session.sh" "$build/bench/interface_bench" \
  "$build/host/pilvo" "$build/channels/pilvoctl" "$([ "${QUICK:-0}" = 1 ] && echo 1 || echo 5)"
echo "== Nudge panels on Wayland (layer surfaces in headless sway)"
if command -v sway >/dev/null; then
  "$here/with-sway-session.sh" env WEBKIT_DISABLE_COMPOSITING_MODE=1 "$build/bench/overlay_bench" \
    "$([ "${QUICK:-0}" = 1 ] && echo 2 || echo 10)"
else
  echo "(skipped: sway is missing)"
fi
echo "== Interface: focus model and controller (JavaScript)"
node "$here/../bench/ui_focus_model_bench.js" "$([ "${QUICK:-0}" = 1 ] && echo 2000 || echo 20000)" \
  "$([ "${QUICK:-0}" = 1 ] && echo 3 || echo 30)"
echo "== Interface in the host: start, memory, CPU while hidden; then a month of rows"
PILVO_FORCE_XVFB=1 "$here/with-x-session.sh" "$here/../bench/ui_host_bench.sh" "$build" "$seconds"
PILVO_FORCE_XVFB=1 "$here/with-x-session.sh" "$here/../bench/ui_host_bench.sh" "$build" 2 \
  "$([ "${QUICK:-0}" = 1 ] && echo 2000 || echo 100000)"
echo "== Updater: parsing the feed"
"$build/bench/settings_appcast_bench"
echo "== Menu bar: the tray item (score to pixmap, click to menu, idle wakeups)"
PILVO_FORCE_XVFB=1 "$here/with-x-session.sh" "$build/bench/menubar_tray_bench" \
  "$build/host/pilvo" "$([ "${QUICK:-0}" = 1 ] && echo 20 || echo 400)" "$seconds"
