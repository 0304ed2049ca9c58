#!/usr/bin/env bash
# The interface in the real host, inside an X session (through scripts/with-x-session.sh):
#   bench/ui_host_bench.sh BUILD_DIR [IDLE_SECONDS=30] [ROWS=0]
# ROWS: a store filled beforehand with that many rows over the last 30 days (the interface
# reads them all at start).
# Measures: host start to the interface's first rows taken (they are marked synced right
# after the first figures are computed), the proportional and unique set sizes of the host plus
# its web processes with the interface loaded, and their CPU time while idle with the window
# hidden.
set -euo pipefail
build=$(cd "$1" && pwd)
idle=${2:-30}
rows=${3:-0}
here=$(cd "$(dirname "$0")" && pwd)
demo_name=ui_host_bench
wait_step=0.01  # the start is timed by wait_for
source "$here/../scripts/demo-lib.sh"
fresh_home
store=$XDG_DATA_HOME/pilvo/agent_events.db
synced() { [ "$(sqlite3 "$store" 'select coalesce(sum(synced),0) from events')" -gt 0 ]; }
family() { echo "$1" $(pgrep -P "$1" || true); }
pss_kb() { local t=0 p; for p in $(family "$1"); do
  t=$((t + $(awk '/^Pss:/ { print $2 }' "/proc/$p/smaps_rollup" 2>/dev/null || echo 0))); done; echo $t; }
# Unique set size: the private pages, what the system gets back when Pilvo quits.
uss_kb() { local t=0 p; for p in $(family "$1"); do
  t=$((t + $(awk '/^Private_(Clean|Dirty):/ { s += $2 } END { print s + 0 }' "/proc/$p/smaps_rollup" 2>/dev/null || echo 0))); done; echo $t; }
cpu_ticks() { local t=0 p; for p in $(family "$1"); do
  t=$((t + $(awk '{ print $14 + $15 }' "/proc/$p/stat" 2>/dev/null || echo 0))); done; echo $t; }

if [ "$rows" -gt 0 ]; then
  mkdir -p "$(dirname "$store")"
  sqlite3 "$store" >/dev/null <<SQL
PRAGMA journal_mode=WAL;
CREATE TABLE events (id INTEGER PRIMARY KEY AUTOINCREMENT, timestamp TEXT NOT NULL,
  type TEXT NOT NULL, bundle_id TEXT, window_title TEXT, synced INTEGER DEFAULT 0);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $rows)
INSERT INTO events (timestamp, type, bundle_id, window_title)
  SELECT strftime('%Y-%m-%dT%H:%M:%SZ', 'now', '-30 days', '+' || (i * 2592000 / $rows) || ' seconds'),
         CASE WHEN i % 4 = 0 THEN 'appSwitch' ELSE 'windowChange' END,
         'org.example.App' || (i % 12), 'Document ' || i FROM n;
SQL
  echo "store filled with $rows rows over the last 30 days"
fi
"$build/agent/pilvo-agent" 2>/dev/null & pids+=($!)
wait_for 10 test -s "$store"
start=$(date +%s%N)
"$build/host/pilvo" 2>"$root/pilvo.err" & pilvo=$!; pids+=($pilvo)
wait_for 30 synced
echo "host start to first rows taken by the interface: $(( ($(date +%s%N) - start) / 1000000 )) ms"
sleep 3
echo "PSS, host + web processes, interface loaded: $(( $(pss_kb $pilvo) / 1024 )) MB ($(family $pilvo | wc -w) processes)"
echo "USS, the same processes: $(( $(uss_kb $pilvo) / 1024 )) MB"
wmctrl -c Pilvo  # closing only hides the window
sleep 2
before=$(cpu_ticks $pilvo)
sleep "$idle"
after=$(cpu_ticks $pilvo)
hz=$(getconf CLK_TCK)
echo "CPU while idle with the window hidden: $(( (after - before) * 1000 / hz )) ms over ${idle} s"
echo "PSS after the idle phase: $(( $(pss_kb $pilvo) / 1024 )) MB"
