import { test } from 'node:test';
import assert from 'node:assert/strict';
import { AppController, kPollMs } from './app_controller.js';
import { FocusModel, isoSeconds } from './focus_model.js';
import { PlatformException, FakeClock, FakeHost, settle } from './testing/fake_channels.js';

const kStart = Date.parse('2026-12-07T09:00:00Z');
const kMin = 60 * 1000;
const utcDay = (ms) => ms - (ms % 86400000);

// A host whose activity store the test appends to, like the agent does.
function setup({ preferences = {}, rows = [] } = {}) {
  const host = new FakeHost();
  const clock = new FakeClock(kStart);
  const store = { rows: [], synced: 0, prefs: preferences };
  const append = (type, bundleId, at = clock.now()) =>
    store.rows.push({ id: store.rows.length + 1, timestamp: isoSeconds(at), type, bundleId, windowTitle: null, synced: false });
  for (const [minute, type, bundleId] of rows) append(type, bundleId, kStart + minute * kMin);
  host.on('com.pilvo/activity', 'eventsAfter', ({ afterId, limit }) => {
    if (!(limit >= 1 && limit <= 5000)) throw new PlatformException('INVALID_ARGS');
    return store.rows.filter((r) => r.id > afterId).slice(0, limit);
  });
  host.on('com.pilvo/activity', 'firstIdSince', ({ since }) =>
    store.rows.find((r) => r.timestamp >= since)?.id ?? null);
  host.on('com.pilvo/activity', 'markSynced', ({ upToId }) => {
    store.synced = Math.max(store.synced, upToId);
    return 0;
  });
  host.on('com.pilvo/interface', 'loadPreferences', () => store.prefs);
  host.on('com.pilvo/interface', 'savePreferences', ({ preferences: p }) => void (store.prefs = p));
  for (const m of ['updateScore', 'updateTrackingState', 'updatePopover', 'updateSessionInMenuBar']) {
    host.on('com.tavik/menubar', m, () => null);
  }
  for (const m of ['showOverlay', 'hideOverlay']) host.on('com.tavik/overlay', m, () => null);
  host.on('com.tavik/tracking', 'activateApp', () => true);
  host.on('com.tavik/tracking', 'getAppSupportPath', () => '/home/u/.local/share');
  host.on('com.tavik/tracking', 'indexAllApps', () => [['editor', 'Editor'], ['web', 'Web Browser']]);
  host.on('com.tavik/settings', 'setMenuBarVisible', () => null);
  host.on('com.tavik/settings', 'setLaunchAtLogin', () => null);
  host.on('com.pilvo/updater', 'getVersionInfo', () => ({ currentVersion: '1.2.0' }));
  const model = new FocusModel({ dayStart: utcDay, nextDay: (d) => d + 86400000 });
  const app = new AppController({ channels: host, clock, model, log: { warn() {} } });
  return { host, clock, store, append, app };
}

const last = (list) => list[list.length - 1];

test('start reads every row in pages, marks them synced and pushes the figures once', async () => {
  const rows = [];
  for (let i = 0; i < 12001; i++) rows.push([i * 0.001, 'windowChange', 'editor']);
  const { host, clock, store, app } = setup({ rows });
  clock.nowMs = kStart + 30 * kMin;
  await app.start();
  await settle();
  assert.equal(host.callsTo('com.pilvo/activity', 'eventsAfter').length, 3);
  assert.equal(store.synced, 12001);
  assert.deepEqual(host.callsTo('com.tavik/menubar', 'updateScore'), [{ score: 100 }]);
  assert.equal(last(host.callsTo('com.tavik/menubar', 'updatePopover')).focusState, 'deep');
  assert.equal(app.appName('web'), 'Web Browser');
  assert.equal(app.iconUrl('editor'), 'file:///home/u/.local/share/app_icons/editor.png');
  assert.equal(app.state.version, '1.2.0');

  const pushes = host.calls.filter(([c]) => c === 'com.tavik/menubar').length;
  await clock.advance(kPollMs); // nothing changed within the minute: nothing pushed again
  assert.equal(host.calls.filter(([c]) => c === 'com.tavik/menubar').length, pushes);
  assert.equal(host.callsTo('com.pilvo/activity', 'markSynced').length, 1);
  assert.equal(clock.timers.size, 1, 'only the poll is pending');
  app.stop();
  assert.equal(clock.timers.size, 0);
});

test('a distracted user turns the tray red, is nudged, and "focus" goes back to the editor', async () => {
  const { host, clock, append, app } = setup({ rows: [[0, 'appSwitch', 'editor']] });
  clock.nowMs = kStart + 30 * kMin;
  await app.start();
  for (let i = 0; i < 30; i++) {
    append('appSwitch', i % 2 ? 'chat' : 'web');
    await clock.advance(20 * 1000);
  }
  assert.ok(last(host.callsTo('com.tavik/menubar', 'updateScore')).score < 40);
  const [nudge] = host.callsTo('com.tavik/overlay', 'showOverlay');
  assert.equal(nudge.buttonMode, 'nudge');
  assert.equal(nudge.showButtons, true);
  assert.equal(await host.callPage('com.tavik/overlay', 'nudgeResponse', 'focus'), null);
  await settle();
  assert.deepEqual(host.callsTo('com.tavik/tracking', 'activateApp'), [{ bundleId: 'editor' }]);
  await assert.rejects(host.callPage('com.tavik/overlay', 'bogus'), { code: 'NOT_IMPLEMENTED' });
  app.stop();
});

test('a session from the tray counts down each second and ends with a celebration', async () => {
  const { host, clock, app } = setup({ rows: [[0, 'appSwitch', 'editor']], preferences: { sessionMinutes: 5 } });
  clock.nowMs = kStart + kMin;
  await app.start();
  host.emit('com.tavik/menubar_events', 'startSession');
  await settle();
  const session = () => last(host.callsTo('com.tavik/menubar', 'updateSessionInMenuBar'));
  assert.deepEqual(session(), { isActive: true, remaining: 300, progress: 0 });
  await clock.advance(1000);
  assert.equal(session().remaining, 299);
  await clock.advance(299 * 1000);
  assert.equal(session().isActive, false);
  assert.equal(last(host.callsTo('com.tavik/overlay', 'showOverlay')).avatarState, 'celebrating');
  assert.equal(app.state.figures.deepWorkMinutes, 5, "the session's five minutes");
  assert.equal(clock.timers.size, 1, 'no second-by-second timer after the session');

  host.emit('com.tavik/menubar_events', 'startSession');
  await settle();
  host.emit('com.tavik/menubar_events', 'endSession');
  await settle();
  assert.equal(session().isActive, false);
  assert.equal(host.callsTo('com.tavik/overlay', 'showOverlay').length, 1, 'ended early: no celebration');
  app.stop();
});

test('pausing from the tray stops counting and nudging', async () => {
  const { host, clock, append, app } = setup({ rows: [[0, 'appSwitch', 'editor']] });
  clock.nowMs = kStart + 10 * kMin;
  await app.start();
  host.emit('com.tavik/menubar_events', 'toggleTracking');
  await settle();
  assert.deepEqual(last(host.callsTo('com.tavik/menubar', 'updateTrackingState')), { isTracking: false });
  host.emit('com.tavik/menubar_events', 'toggleTracking'); // two quick toggles are two toggles
  host.emit('com.tavik/menubar_events', 'toggleTracking');
  await settle();
  assert.equal(app.state.tracking, false);
  for (let i = 0; i < 40; i++) {
    append('appSwitch', i % 2 ? 'chat' : 'web');
    await clock.advance(15 * 1000);
  }
  assert.equal(host.callsTo('com.tavik/overlay', 'showOverlay').length, 0);
  assert.equal(app.state.figures.switches, 0);
  assert.equal(app.state.figures.activeMinutes, 10);
  app.stop();
});

test('settings apply on the desktop, persist, and roll back when the desktop refuses', async () => {
  const { host, store, app } = setup({ preferences: { showTrayIcon: false, sensitivity: 'loud', sessionMinutes: 1e9 } });
  await app.start();
  assert.deepEqual(host.callsTo('com.tavik/settings', 'setMenuBarVisible'), [{ visible: false }]);
  assert.equal(app.state.preferences.sensitivity, 'normal');
  assert.equal(app.state.preferences.sessionMinutes, 180);

  assert.equal(await app.setPreference('launchAtLogin', true), true);
  assert.deepEqual(host.callsTo('com.tavik/settings', 'setLaunchAtLogin'), [{ enabled: true }]);
  assert.equal(store.prefs.launchAtLogin, true);

  host.on('com.tavik/settings', 'setLaunchAtLogin', () => {
    throw new PlatformException('LAUNCH_AT_LOGIN_FAILED', 'read-only config');
  });
  assert.equal(await app.setPreference('launchAtLogin', false), false);
  assert.equal(app.state.preferences.launchAtLogin, true);
  assert.equal(store.prefs.launchAtLogin, true);
  assert.match(app.state.error, /read-only config/);

  await app.setPreference('sensitivity', 'high');
  assert.equal(app.policy.sensitivity, 'high');

  const open = app.state.sidebarOpen;
  await host.callPage('com.tavik/sidebar', 'toggle');
  assert.equal(app.state.sidebarOpen, !open);
  app.stop();
});

test('export writes every row to the chosen file; a cancelled dialog writes nothing', async () => {
  const rows = [];
  for (let i = 0; i < 5003; i++) rows.push([i * 0.01, 'windowChange', 'editor']);
  const { host, app } = setup({ rows });
  await app.start();
  host.on('com.tavik/settings', 'showSavePanel', () => null);
  assert.equal(await app.exportJson(), null);
  host.on('com.tavik/settings', 'showSavePanel', () => '/tmp/out.json');
  let written = null;
  host.on('com.pilvo/interface', 'writeTextFile', (args) => void (written = args));
  assert.equal(await app.exportJson(), '/tmp/out.json');
  const parsed = JSON.parse(written.text);
  assert.equal(written.path, '/tmp/out.json');
  assert.equal(parsed.length, 5003);
  assert.deepEqual(Object.keys(parsed[0]), ['id', 'timestamp', 'type', 'bundleId', 'windowTitle']);

  host.on('com.pilvo/interface', 'writeTextFile', () => {
    throw new PlatformException('WRITE_FAILED', 'No space left on device');
  });
  await assert.rejects(app.exportJson(), { code: 'WRITE_FAILED' });

  // Malformed rows from the host are left out, not a reason to fail.
  host.on('com.pilvo/interface', 'writeTextFile', (args) => void (written = args));
  host.on('com.pilvo/activity', 'eventsAfter', ({ afterId }) =>
    afterId === 0 ? [null, 'x', { id: 'y' }] : []);
  assert.equal(await app.exportJson(), '/tmp/out.json');
  assert.deepEqual(JSON.parse(written.text), []);
  app.stop();
});

test('a start reads only the rows the model keeps, and marks the month before taken too', async () => {
  const rows = [];
  for (let day = 30; day > 8; day--) rows.push([-day * 1440, 'appSwitch', 'web']);
  rows.push([-10, 'appSwitch', 'editor']);
  const { host, clock, store, app } = setup({ rows });
  clock.nowMs = kStart + 20 * kMin;
  await app.start();
  await settle();
  assert.deepEqual(host.callsTo('com.pilvo/activity', 'eventsAfter').map((a) => a.afterId), [22]);
  assert.equal(store.synced, 23);
  assert.equal(app.model.figures(clock.now()).activeMinutes, 30);
  app.stop();

  // A host without the method, or a store with nothing that recent: everything is read.
  const old = setup({ rows: rows.slice(0, 3) });
  old.host.on('com.pilvo/activity', 'firstIdSince', () => null);
  await old.app.start();
  assert.deepEqual(old.host.callsTo('com.pilvo/activity', 'eventsAfter').map((a) => a.afterId), [0]);
  assert.equal(old.store.synced, 3);
  old.app.stop();
});

test('a failing store read is reported, nothing is marked, and the next poll retries', async () => {
  const { host, clock, store, app } = setup({ rows: [[0, 'appSwitch', 'editor']] });
  host.on('com.pilvo/activity', 'eventsAfter', () => {
    throw new PlatformException('STORE_FAILED', 'database is locked');
  });
  await app.start();
  assert.match(app.state.error, /database is locked/);
  assert.equal(store.synced, 0);
  host.on('com.pilvo/activity', 'eventsAfter', ({ afterId }) => store.rows.filter((r) => r.id > afterId));
  await clock.advance(kPollMs);
  assert.equal(app.state.error, null);
  assert.equal(store.synced, 1);
  app.stop();
});
