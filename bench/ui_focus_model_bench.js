// Interface: cost of the focus model and of the controller's start on a realistic day.
//   node bench/ui_focus_model_bench.js [rows-per-day=20000] [days=30]
// Rows are a working day of 08:00-18:00: stretches of 1-40 minutes in one of 12 applications,
// title changes within them, switch storms, and idle gaps.

import { performance } from 'node:perf_hooks';
import { FocusModel, isoSeconds } from '../resources/ui/focus_model.js';
import { AppController } from '../resources/ui/app_controller.js';
import { FakeClock, FakeHost, settle } from '../resources/ui/testing/fake_channels.js';

const perDay = Number(process.argv[2] ?? 20000);
const days = Number(process.argv[3] ?? 30);
const kDay = 86400000;
const end = Date.parse('2026-12-07T18:00:00Z');

let state = 7;
const random = () => ((state = (state * 1103515245 + 12345) % 2147483648) / 2147483648);

function dayRows(dayStart, firstId) {
  const rows = [];
  const from = dayStart + 8 * 3600000;
  const step = (10 * 3600000) / perDay;
  let app = 'app0';
  for (let i = 0; i < perDay; i++) {
    const t = from + i * step;
    let type = 'windowChange';
    const r = random();
    if (r < 0.25) {
      app = `app${Math.floor(random() * 12)}`;
      type = 'appSwitch';
    } else if (r < 0.251) {
      type = 'idle';
    } else if (r < 0.252) {
      type = 'active';
    }
    rows.push({ id: firstId + i, timestamp: isoSeconds(t), type, bundleId: app, windowTitle: `Title ${i % 97}`, synced: false });
  }
  return rows;
}

function allRows(count) {
  const rows = [];
  for (let d = count - 1; d >= 0; d--) rows.push(...dayRows(end - 18 * 3600000 - d * kDay, rows.length + 1));
  return rows;
}

function time(label, fn, repeat = 5) {
  const samples = [];
  for (let i = 0; i < repeat; i++) {
    const t0 = performance.now();
    fn();
    samples.push(performance.now() - t0);
  }
  samples.sort((a, b) => a - b);
  console.log(`${label.padEnd(58)} median ${samples[repeat >> 1].toFixed(2)} ms, max ${samples[repeat - 1].toFixed(2)} ms`);
}

const today = allRows(1);
const month = allRows(days);
time(`one day (${perDay} rows): rows -> figures, from scratch`, () => {
  const m = new FocusModel();
  m.addRows(today);
  m.figures(end);
});
time(`${days} days (${month.length} rows): rows -> figures, from scratch`, () => {
  const m = new FocusModel();
  m.addRows(month);
  m.figures(end);
}, 3);

for (const [label, rows] of [['one day', today], [`${days} days`, month]]) {
  const m = new FocusModel();
  m.addRows(rows);
  const next = rows[rows.length - 1];
  let id = next.id;
  time(`${label} loaded: refresh (10 new rows + figures)`, () => {
    for (let k = 0; k < 200; k++) {
      const fresh = [];
      for (let j = 0; j < 10; j++) fresh.push({ ...next, id: ++id, type: 'windowChange' });
      m.addRows(fresh);
      m.figures(end);
    }
  });
  time(`${label} loaded: screens (timeline, top apps, 7 days)`, () => {
    m.timeline(end);
    m.topApps(end);
    m.days(end, 7);
  });
}
console.log('(refresh figures are for 200 refreshes; divide by 200 for one)');

// Controller start to first figures pushed, against an in-process host answering at once.
const host = new FakeHost();
host.on('com.pilvo/activity', 'eventsAfter', ({ afterId, limit }) => today.filter((r) => r.id > afterId).slice(0, limit));
host.on('com.pilvo/activity', 'markSynced', () => 0);
host.on('com.tavik/menubar', 'updateScore', () => null);
const clock = new FakeClock(end);
const app = new AppController({ channels: host, clock, log: { warn() {} } });
const t0 = performance.now();
await app.start();
console.log(`${'controller start to first figures (one day, fake host)'.padEnd(58)} ${(performance.now() - t0).toFixed(2)} ms`);
app.stop();
await settle();
