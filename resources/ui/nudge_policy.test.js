import { test } from 'node:test';
import assert from 'node:assert/strict';
import { NudgePolicy, kBreakMs } from './nudge_policy.js';

const kSec = 1000;
const kMin = 60 * kSec;

const distracted = { state: 'distracted', currentApp: 'web', idle: false, paused: false };
const stable = { state: 'stable', currentApp: 'editor', idle: false, paused: false };
const idle = { ...distracted, idle: true, currentApp: null };
const paused = { ...distracted, paused: true, currentApp: null };

// Asks the policy every `step` ms from `from` to `to`; returns the times of the nudges.
function run(policy, from, to, situation, step = 5 * kSec) {
  const nudges = [];
  for (let t = from; t <= to; t += step) {
    const n = policy.evaluate(t, typeof situation === 'function' ? situation(t) : situation);
    if (n) nudges.push({ t, ...n });
  }
  return nudges;
}

test('distraction nudges after the active time the sensitivity asks for, then cools down', () => {
  const cases = [
    { sensitivity: 'low', first: 4 * kMin, cooldown: 30 * kMin },
    { sensitivity: 'normal', first: 2 * kMin, cooldown: 20 * kMin },
    { sensitivity: 'high', first: 1 * kMin, cooldown: 10 * kMin },
    { sensitivity: 'nonsense', first: 2 * kMin, cooldown: 20 * kMin },
  ];
  for (const c of cases) {
    const policy = new NudgePolicy({ sensitivity: c.sensitivity });
    const nudges = run(policy, 0, 45 * kMin, { figures: distracted, focusApp: 'editor' });
    assert.equal(nudges[0].t, c.first, c.sensitivity);
    assert.equal(nudges[0].kind, 'distracted');
    assert.equal(nudges[0].returnTo, 'editor');
    assert.equal(nudges[1].t - nudges[0].t, c.cooldown, `${c.sensitivity} cooldown`);
  }
});

test('idle, paused, recovered and clock jumps do not count as distraction', () => {
  const scenarios = [
    { name: 'idle', situation: { figures: idle }, nudges: 0 },
    { name: 'paused', situation: { figures: paused }, nudges: 0 },
    { name: 'stable', situation: { figures: stable }, nudges: 0 },
    {
      name: 'recovering resets the count',
      situation: (t) => ({ figures: Math.floor(t / (90 * kSec)) % 2 ? stable : distracted }),
      nudges: 0,
    },
    {
      name: 'idle pauses the count without resetting it',
      situation: (t) => ({ figures: t % (2 * kMin) < kMin ? distracted : idle }),
      nudges: 1,
    },
  ];
  for (const s of scenarios) {
    const nudges = run(new NudgePolicy(), 0, 4.5 * kMin, s.situation);
    assert.equal(nudges.length, s.nudges, s.name);
  }

  const jump = new NudgePolicy();
  jump.evaluate(0, { figures: distracted });
  assert.equal(jump.evaluate(3 * 3600 * kSec, { figures: distracted }), null, 'forward jump');

  const back = new NudgePolicy();
  const [first] = run(back, 0, 3 * kMin, { figures: distracted });
  // Clock set back an hour: the cooldown still ends 20 minutes of clock later, not 80.
  const later = run(back, first.t - 3600 * kSec, first.t - 3600 * kSec + 25 * kMin, { figures: distracted });
  assert.equal(later.length, 1);
});

test('answers: a break silences nudges, focus and not now only restart the count', () => {
  for (const [answer, quietFor] of [['break', kBreakMs], ['dismiss', 10 * kMin], ['focus', 10 * kMin]]) {
    const policy = new NudgePolicy({ sensitivity: 'high' });
    const [first] = run(policy, 0, 1 * kMin, { figures: distracted });
    policy.answer(first.t, answer);
    const [second] = run(policy, first.t + 5 * kSec, first.t + 40 * kMin, { figures: distracted });
    assert.equal(second.t - first.t, quietFor, answer);
    assert.equal(policy.history[0].answer, answer);
  }
});

test('deep session: leaving its application for the away time nudges once per absence', () => {
  const session = { bundleId: 'editor' };
  const policy = new NudgePolicy();
  const away = { figures: { ...distracted, currentApp: 'chat' }, session };
  const inside = { figures: { ...stable, currentApp: 'editor' }, session };
  const nudges = run(policy, 0, 10 * kMin, (t) => (t < 2 * kMin || t >= 5 * kMin ? away : inside));
  assert.deepEqual(
    nudges.map((n) => [n.t, n.kind, n.returnTo]),
    [
      [1 * kMin, 'awayFromSession', 'editor'],
      // The time since the previous question counts for the situation now.
      [6 * kMin - 5 * kSec, 'awayFromSession', 'editor'],
    ],
  );
  const inPilvo = new NudgePolicy();
  const own = { figures: { ...distracted, currentApp: 'com.pilvo.Pilvo' }, session };
  assert.equal(run(inPilvo, 0, 5 * kMin, own).length, 0, 'in Pilvo itself during a session');
  assert.equal(run(inPilvo, 0, 5 * kMin, { figures: own.figures }).length, 0, 'in Pilvo itself');
});
