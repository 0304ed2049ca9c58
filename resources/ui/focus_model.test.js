import { test } from 'node:test';
import assert from 'node:assert/strict';
import { FocusModel, isoSeconds, tintFor } from './focus_model.js';

const kMin = 60 * 1000;
const kBase = Date.parse('2026-12-07T09:00:00Z');
const utcDay = (ms) => ms - (((ms % 86400000) + 86400000) % 86400000);
const utcNext = (start) => start + 86400000;

const at = (minutes) => kBase + minutes * kMin;

// A script is a list of [minute, type, bundleId?, title?].
function rowsOf(script) {
  return script.map(([minute, type, bundleId = null, title = null], i) => ({
    id: i + 1,
    timestamp: isoSeconds(at(minute)),
    type,
    bundleId,
    windowTitle: title,
    synced: false,
  }));
}

function modelWith(script) {
  const model = new FocusModel({ dayStart: utcDay, nextDay: utcNext });
  model.addRows(rowsOf(script));
  return model;
}

// Switching every `every` minutes between two applications for `count` switches.
function storm(start, count, every = 1) {
  const script = [];
  for (let i = 0; i <= count; i++) script.push([start + i * every, 'appSwitch', i % 2 ? 'b' : 'a']);
  return script;
}

test('figures for typical days', () => {
  const cases = [
    { name: 'empty store', script: [], now: 0, want: { score: null, state: null, deepWorkMinutes: 0, switches: 0 } },
    {
      name: 'one long stretch is deep',
      script: [[0, 'appSwitch', 'a']],
      now: 40,
      want: { score: 100, state: 'deep', deepWorkMinutes: 40, switches: 0, activeMinutes: 40 },
    },
    {
      name: 'title changes stay within the stretch',
      script: [[0, 'appSwitch', 'a', 'x'], [5, 'windowChange', 'a', 'y'], [10, 'windowChange', 'a', 'z']],
      now: 20,
      want: { deepWorkMinutes: 20, switches: 0, state: 'deep', currentStretchMinutes: 20 },
    },
    {
      name: 'short stretches are no deep work',
      script: [[0, 'appSwitch', 'a'], [10, 'appSwitch', 'b'], [20, 'appSwitch', 'a']],
      now: 30,
      want: { deepWorkMinutes: 0, switches: 2, activeMinutes: 30 },
    },
    {
      name: 'switch storm is distracted',
      script: storm(0, 30),
      now: 30,
      want: { state: 'distracted', switches: 30, score: 0 },
    },
    {
      name: 'time in Pilvo is not a switch and not active',
      script: [[0, 'appSwitch', 'a'], [10, 'appSwitch', 'com.pilvo.Pilvo'], [12, 'appSwitch', 'a']],
      now: 20,
      want: { switches: 0, activeMinutes: 18, deepWorkMinutes: 18, currentStretchMinutes: 18 },
    },
    {
      name: 'through Pilvo to another application is one switch',
      script: [[0, 'appSwitch', 'a'], [10, 'appSwitch', 'com.pilvo.Pilvo'], [12, 'appSwitch', 'b']],
      now: 20,
      want: { switches: 1, activeMinutes: 18 },
    },
    {
      name: 'idle time is excluded, back-dated by the agent threshold',
      script: [[0, 'appSwitch', 'a'], [25, 'idle', 'a'], [60, 'active', 'a']],
      now: 70,
      want: { activeMinutes: 30, deepWorkMinutes: 20, switches: 0, idle: false },
    },
    {
      name: 'idle now: no current stretch',
      script: [[0, 'appSwitch', 'a'], [25, 'idle', 'a']],
      now: 70,
      want: { activeMinutes: 20, idle: true, currentApp: null, currentStretchMinutes: 0 },
    },
    {
      name: 'another application after idle is no switch',
      script: [[0, 'appSwitch', 'a'], [10, 'idle', 'a'], [30, 'appSwitch', 'b']],
      now: 35,
      want: { switches: 0, activeMinutes: 10, idle: false, currentApp: 'b' },
    },
    {
      name: 'an agent restart after idle (no active row) resumes activity',
      script: [[0, 'appSwitch', 'a'], [10, 'idle', 'a'], [30, 'appSwitch', 'a']],
      now: 40,
      want: { activeMinutes: 15, idle: false },
    },
    {
      name: 'clock set back: no negative or doubled time',
      script: [[0, 'appSwitch', 'a'], [30, 'appSwitch', 'b'], [-60, 'appSwitch', 'a'], [40, 'appSwitch', 'b']],
      now: 50,
      want: { activeMinutes: 50, switches: 3 },
    },
    {
      name: 'rows without bundle or time are harmless',
      script: [[0, 'appSwitch', null], [1, 'appSwitch', 'a'], [2, 'bogus', 'b']],
      now: 10,
      want: { switches: 0, activeMinutes: 9, currentApp: 'a' },
    },
  ];
  for (const c of cases) {
    const f = modelWith(c.script).figures(at(c.now));
    for (const [key, value] of Object.entries(c.want)) {
      assert.deepEqual(f[key], value, `${c.name}: ${key}`);
    }
  }
});

test('midnight splits the figures between the days', () => {
  // 23:50 to 00:20 in one application, then a switch storm after midnight.
  const midnight = Date.parse('2026-12-08T00:00:00Z');
  const minutes = (midnight - kBase) / kMin;
  const model = modelWith([[minutes - 10, 'appSwitch', 'a'], [minutes + 20, 'appSwitch', 'b']]);
  const f = model.figures(midnight + 25 * kMin);
  assert.equal(f.activeMinutes, 25);
  assert.equal(f.deepWorkMinutes, 20, 'the long stretch counts only with its part after midnight');
  assert.equal(f.switches, 1);
  const [yesterday, today] = model.days(midnight + 25 * kMin, 2);
  assert.deepEqual([yesterday.activeMinutes, yesterday.deepWorkMinutes, yesterday.switches], [10, 10, 0]);
  assert.equal(today.activeMinutes, 25);
  assert.equal(model.timeline(midnight + 25 * kMin)[0].start, midnight);
});

test('sessions count as deep work; paused time counts for nothing', () => {
  // a, b, a, b, a every two minutes; rows reach the model a little after they happen.
  const rows = rowsOf(storm(0, 4, 2));
  const model = new FocusModel({ dayStart: utcDay, nextDay: utcNext });
  model.addRows(rows.slice(0, 2));
  model.startSession(at(2));
  model.addRows(rows.slice(2, 4));
  model.endSession(at(6));
  model.addRows(rows.slice(4));
  const f = model.figures(at(9));
  assert.equal(f.deepWorkMinutes, 4);
  assert.equal(f.activeMinutes, 9);

  const paused = modelWith([[0, 'appSwitch', 'a']]);
  paused.setPaused(at(5), true);
  paused.addRows(rowsOf([[0, 'appSwitch', 'a'], [6, 'appSwitch', 'b'], [7, 'appSwitch', 'a']]).map((r, i) => ({ ...r, id: 10 + i, timestamp: isoSeconds(at([6, 6, 7][i])) })));
  paused.setPaused(at(10), false);
  const p = paused.figures(at(12));
  assert.equal(p.activeMinutes, 7);
  assert.equal(p.switches, 0);
  assert.equal(p.currentApp, 'a');
});

test('score is monotonic: more switching never raises it, a longer stretch never lowers it', () => {
  for (const every of [1, 2, 3, 5, 8]) {
    for (let n = 0; n < 12; n++) {
      const now = 40;
      const fewer = modelWith(storm(0, n, every)).figures(at(now)).score;
      const more = modelWith(storm(0, n + 1, every)).figures(at(now)).score;
      assert.ok(more <= fewer, `every ${every} min, ${n} -> ${n + 1} switches: ${fewer} -> ${more}`);
    }
  }
  const model = modelWith(storm(0, 10, 1));
  let previous = -1;
  for (let minute = 10; minute < 90; minute++) {
    const { score } = model.figures(at(minute));
    assert.ok(score >= previous, `minute ${minute}: ${previous} -> ${score}`);
    previous = score;
  }
});

test('rows are taken once and the app focused before is found', () => {
  const model = modelWith([[0, 'appSwitch', 'editor'], [20, 'appSwitch', 'chat'], [21, 'appSwitch', 'web']]);
  model.addRows(rowsOf([[0, 'appSwitch', 'x'], [1, 'appSwitch', 'y']])); // ids already taken
  assert.equal(model.figures(at(22)).currentApp, 'web');
  assert.equal(model.focusAppBefore(at(22)), 'editor');
  assert.deepEqual(model.topApps(at(22)).map((a) => a.bundleId), ['editor', 'chat', 'web']);
});

test('tint follows the tray thresholds', () => {
  assert.deepEqual([100, 70, 69, 40, 39, 0].map(tintFor), ['green', 'green', 'orange', 'orange', 'red', 'red']);
});
