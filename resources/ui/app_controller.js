// The interface's controller: reads activity rows from the host, keeps the focus model and the
// nudge policy, drives the tray, the nudges and deep sessions, and keeps the preferences.
// It reaches the host only through the channel classes it is given, and time only through the
// clock it is given, so tests run it against fakes.

import { FocusModel, isoSeconds, kOwnBundleId } from './focus_model.js';
import { NudgePolicy } from './nudge_policy.js';

export const kPollMs = 5000;
export const kTickMs = 1000;
export const kPageLimit = 5000;
export const kDefaultPreferences = Object.freeze({
  launchAtLogin: false,
  showTrayIcon: true,
  sensitivity: 'normal',
  sessionMinutes: 25,
  hideTitles: false,
});

const kMessages = {
  distracted: 'You have been hopping between apps for a while. Back to what you were doing?',
  awayFromSession: 'Your deep session is still running. Back to it?',
};

export const systemClock = {
  now: () => Date.now(),
  setTimeout: (fn, ms) => setTimeout(fn, ms),
  clearTimeout: (id) => clearTimeout(id),
};

/** A channel integer may arrive as {"$int64": "…"}; the interface only needs safe numbers. */
export function toNumber(value) {
  if (typeof value === 'number') return value;
  if (value && typeof value === 'object' && '$int64' in value) return Number(value.$int64);
  if (value && typeof value === 'object' && '$float64' in value) return Number(value.$float64);
  return NaN;
}

function normalizeRow(row) {
  return row && typeof row === 'object' ? { ...row, id: toNumber(row.id) } : null;
}

/** What a page handler throws for a method it does not know: the host hears "not implemented". */
function notImplemented() {
  return Object.assign(new Error('Not implemented'), { code: 'NOT_IMPLEMENTED' });
}

export function sanitizePreferences(stored) {
  const p = { ...kDefaultPreferences };
  if (!stored || typeof stored !== 'object') return p;
  for (const key of ['launchAtLogin', 'showTrayIcon', 'hideTitles']) {
    if (typeof stored[key] === 'boolean') p[key] = stored[key];
  }
  if (['low', 'normal', 'high'].includes(stored.sensitivity)) p.sensitivity = stored.sensitivity;
  const minutes = toNumber(stored.sessionMinutes);
  if (Number.isFinite(minutes)) p.sessionMinutes = Math.min(180, Math.max(5, Math.round(minutes)));
  return p;
}

export class AppController {
  constructor({ channels, clock = systemClock, model = null, log = console } = {}) {
    const { MethodChannel, EventChannel } = channels;
    this.activity_ = new MethodChannel('com.pilvo/activity');
    this.interface_ = new MethodChannel('com.pilvo/interface');
    this.tracking_ = new MethodChannel('com.tavik/tracking');
    this.overlay_ = new MethodChannel('com.tavik/overlay');
    this.menubar_ = new MethodChannel('com.tavik/menubar');
    this.settings_ = new MethodChannel('com.tavik/settings');
    this.updater_ = new MethodChannel('com.pilvo/updater');
    this.sidebar_ = new MethodChannel('com.tavik/sidebar');
    this.menubarEvents_ = new EventChannel('com.tavik/menubar_events');
    this.clock_ = clock;
    this.log_ = log;
    this.model = model ?? new FocusModel();
    this.policy = new NudgePolicy();
    this.listeners_ = new Set();
    this.pushed_ = new Map(); // tray method -> JSON of the last arguments sent
    this.syncing_ = null;
    this.pollTimer_ = null;
    this.tickTimer_ = null;
    this.stopped_ = false;
    this.pendingNudge_ = null;
    this.commands_ = Promise.resolve();
    this.state = {
      ready: false,
      preferences: { ...kDefaultPreferences },
      figures: null,
      tracking: true,
      session: null, // { start, lengthMs, bundleId }
      sidebarOpen: true,
      apps: new Map(), // bundleId -> display name
      iconBase: null,
      version: null,
      updateReady: null,
      error: null,
    };
  }

  subscribe(listener) {
    this.listeners_.add(listener);
    return () => this.listeners_.delete(listener);
  }

  notify_() {
    for (const listener of this.listeners_) listener(this.state);
  }

  async call_(channel, method, args = null) {
    try {
      return await channel.invokeMethod(method, args);
    } catch (error) {
      this.log_.warn?.(`${method} failed: ${error?.code ?? ''} ${error?.message ?? error}`);
      throw error;
    }
  }

  async quietly_(channel, method, args = null) {
    try {
      return await this.call_(channel, method, args);
    } catch {
      return undefined;
    }
  }

  async start() {
    this.overlay_.setMethodCallHandler((method, args) => this.onOverlayCall_(method, args));
    this.sidebar_.setMethodCallHandler((method) => {
      if (method !== 'toggle') throw notImplemented();
      this.state.sidebarOpen = !this.state.sidebarOpen;
      this.notify_();
      return null;
    });
    this.updater_.setMethodCallHandler((method, args) => {
      if (method !== 'updateReady') throw notImplemented();
      this.state.updateReady = (args && typeof args.version === 'string' && args.version) || 'new';
      this.notify_();
      return null;
    });
    this.subscription_ = this.menubarEvents_
      .receiveBroadcastStream()
      .listen((event) => this.onMenuEvent(event), (error) => this.log_.warn?.(`menu bar events: ${error?.message}`));

    const stored = await this.quietly_(this.interface_, 'loadPreferences');
    this.state.preferences = sanitizePreferences(stored);
    this.policy.setSensitivity(this.state.preferences.sensitivity);
    if (!this.state.preferences.showTrayIcon) {
      await this.quietly_(this.settings_, 'setMenuBarVisible', { visible: false });
    }
    await this.sync();
    this.state.ready = true;
    this.refresh();
    this.schedulePoll_();
    // Names, icons and the version are for show; they arrive when they arrive.
    this.loadApps_();
    this.quietly_(this.updater_, 'getVersionInfo').then((info) => {
      this.state.version = info?.currentVersion ?? null;
      this.notify_();
    });
  }

  stop() {
    this.stopped_ = true;
    if (this.pollTimer_ !== null) this.clock_.clearTimeout(this.pollTimer_);
    if (this.tickTimer_ !== null) this.clock_.clearTimeout(this.tickTimer_);
    this.pollTimer_ = this.tickTimer_ = null;
    this.subscription_?.cancel();
  }

  async loadApps_() {
    const [support, apps] = await Promise.all([
      this.quietly_(this.tracking_, 'getAppSupportPath'),
      this.quietly_(this.tracking_, 'indexAllApps'),
    ]);
    if (typeof support === 'string' && support) {
      this.state.iconBase = `file://${support.split('/').map(encodeURIComponent).join('/')}/app_icons/`;
    }
    if (Array.isArray(apps)) {
      for (const entry of apps) {
        if (Array.isArray(entry) && typeof entry[0] === 'string' && typeof entry[1] === 'string') {
          this.state.apps.set(entry[0], entry[1]);
        }
      }
    }
    this.notify_();
  }

  schedulePoll_() {
    if (this.stopped_) return;
    this.pollTimer_ = this.clock_.setTimeout(async () => {
      this.pollTimer_ = null;
      await this.sync();
      this.refresh();
      this.schedulePoll_();
    }, kPollMs);
  }

  /** Takes every new row from the host, then marks them synced. One run at a time. */
  sync() {
    if (this.syncing_) return this.syncing_;
    this.syncing_ = (async () => {
      const before = this.model.lastId;
      try {
        const afterId = before === 0 ? await this.startingPoint_() : before;
        for await (const rows of this.pagesAfter_(afterId)) this.model.addRows(rows);
        this.state.error = null;
      } catch (error) {
        this.state.error = `Reading activity failed: ${error?.message ?? error}`;
      }
      if (this.model.lastId > before) {
        await this.quietly_(this.activity_, 'markSynced', { upToId: this.model.lastId });
      }
    })().finally(() => {
      this.syncing_ = null;
    });
    return this.syncing_;
  }

  /**
   * The host's rows after `afterId`, a page at a time (rows normalized: a malformed one is null
   * or has no finite id), until a short page or one that does not move on.
   */
  async *pagesAfter_(afterId) {
    for (;;) {
      const page = await this.call_(this.activity_, 'eventsAfter', { afterId, limit: kPageLimit });
      if (!Array.isArray(page) || page.length === 0) return;
      const rows = page.map(normalizeRow);
      yield rows;
      let last = null;
      for (const row of rows) if (row && Number.isFinite(row.id)) last = row.id;
      if (page.length < kPageLimit || last === null || !(last > afterId)) return;
      afterId = last;
    }
  }

  /** The controller's clock, which the screens follow too. */
  now() {
    return this.clock_.now();
  }

  /** Milliseconds left in the running session at `now` (0 without one). */
  sessionRemainingMs(now) {
    const s = this.state.session;
    return s ? Math.max(0, s.start + s.lengthMs - now) : 0;
  }

  /** Recomputes the figures and tells the tray, the nudges and the view what changed. */
  refresh() {
    const now = this.clock_.now();
    const f = this.model.figures(now);
    this.state.figures = f;
    if (this.state.session && this.sessionRemainingMs(now) <= 0) {
      this.endSession({ completed: true });
      return;
    }
    if (f.score !== null) this.push_('updateScore', { score: f.score });
    this.push_('updateTrackingState', { isTracking: this.state.tracking });
    this.push_('updatePopover', {
      score: f.score ?? 0,
      focusState: f.state ?? '',
      deepWork: f.deepWorkMinutes,
      switches: f.switches,
      isTracking: this.state.tracking,
    });
    this.pushSession_(now);
    this.considerNudge_(now, f);
    this.notify_();
  }

  push_(method, args) {
    const text = JSON.stringify(args);
    if (this.pushed_.get(method) === text) return;
    this.pushed_.set(method, text);
    this.quietly_(this.menubar_, method, args);
  }

  pushSession_(now) {
    const s = this.state.session;
    if (!s) {
      this.push_('updateSessionInMenuBar', { isActive: false, remaining: 0, progress: 0 });
      return;
    }
    const remainingMs = this.sessionRemainingMs(now);
    this.push_('updateSessionInMenuBar', {
      isActive: true,
      remaining: Math.ceil(remainingMs / 1000),
      progress: 1 - remainingMs / s.lengthMs,
    });
  }

  considerNudge_(now, figures) {
    if (!this.state.tracking) return;
    const session = this.state.session ? { bundleId: this.state.session.bundleId } : null;
    if (session && !session.bundleId) return; // a session begun before any activity was seen
    const nudge = this.policy.evaluate(now, { figures, session });
    if (!nudge) return;
    // Where "focus" leads back to, looked up only when such a nudge is shown.
    if (nudge.kind === 'distracted') nudge.returnTo = this.model.focusAppBefore(now);
    this.pendingNudge_ = nudge;
    this.quietly_(this.overlay_, 'showOverlay', {
      message: kMessages[nudge.kind],
      avatarState: nudge.kind === 'awayFromSession' ? 'concerned' : 'alert',
      showButtons: true,
      buttonMode: 'nudge',
      durationSeconds: 30,
    });
  }

  onOverlayCall_(method, args) {
    if (method !== 'nudgeResponse') throw notImplemented();
    const answer = typeof args === 'string' ? args : '';
    const nudge = this.pendingNudge_;
    this.pendingNudge_ = null;
    this.policy.answer(this.clock_.now(), answer);
    if (answer === 'focus' && nudge?.returnTo && nudge.returnTo !== kOwnBundleId) {
      this.quietly_(this.tracking_, 'activateApp', { bundleId: nudge.returnTo });
    }
    return null;
  }

  /** Menu commands run one after the other, so two quick toggles are two toggles. */
  onMenuEvent(event) {
    const run = () => {
      if (event === 'startSession') return this.startSession();
      if (event === 'endSession') return this.endSession({ completed: false });
      if (event === 'toggleTracking') return this.setTracking(!this.state.tracking);
      return undefined;
    };
    this.commands_ = this.commands_.then(run, run);
    return this.commands_;
  }

  async startSession() {
    if (this.state.session || this.starting_) return;
    this.starting_ = true;
    try {
      await this.sync();
    } finally {
      this.starting_ = false;
    }
    if (this.state.session || this.stopped_) return;
    const now = this.clock_.now();
    this.model.startSession(now);
    this.state.session = {
      start: now,
      lengthMs: this.state.preferences.sessionMinutes * 60 * 1000,
      bundleId: this.model.workApp,
    };
    this.refresh();
    this.scheduleTick_();
  }

  scheduleTick_() {
    if (this.stopped_ || this.tickTimer_ !== null || !this.state.session) return;
    this.tickTimer_ = this.clock_.setTimeout(() => {
      this.tickTimer_ = null;
      this.refresh();
      this.scheduleTick_();
    }, kTickMs);
  }

  endSession({ completed }) {
    const s = this.state.session;
    if (!s) return;
    const now = this.clock_.now();
    this.model.endSession(Math.min(now, s.start + s.lengthMs));
    this.state.session = null;
    if (this.tickTimer_ !== null) this.clock_.clearTimeout(this.tickTimer_);
    this.tickTimer_ = null;
    if (completed) {
      const minutes = Math.round(s.lengthMs / 60000);
      this.quietly_(this.overlay_, 'showOverlay', {
        message: `Session complete: ${minutes} minutes of deep work. Well done!`,
        avatarState: 'celebrating',
        showButtons: false,
        durationSeconds: 5,
      });
    }
    this.refresh();
  }

  async setTracking(tracking) {
    if (tracking === this.state.tracking) return;
    await this.sync();
    this.state.tracking = tracking;
    this.model.setPaused(this.clock_.now(), !tracking);
    this.refresh();
  }

  /** Changes one preference, applies it on the desktop and saves the preferences. */
  async setPreference(key, value) {
    const previous = this.state.preferences;
    const next = sanitizePreferences({ ...previous, [key]: value });
    if (next[key] === previous[key]) return true;
    this.state.preferences = next;
    this.notify_();
    try {
      if (key === 'launchAtLogin') await this.call_(this.settings_, 'setLaunchAtLogin', { enabled: next.launchAtLogin });
      if (key === 'showTrayIcon') await this.call_(this.settings_, 'setMenuBarVisible', { visible: next.showTrayIcon });
    } catch (error) {
      this.state.preferences = previous;
      this.state.error = `Could not change the setting: ${error?.message ?? error}`;
      this.notify_();
      return false;
    }
    if (key === 'sensitivity') this.policy.setSensitivity(next.sensitivity);
    try {
      await this.call_(this.interface_, 'savePreferences', { preferences: next });
    } catch (error) {
      this.state.error = `Could not save the settings: ${error?.message ?? error}`;
      this.notify_();
      return false;
    }
    return true;
  }

  /**
   * Where a fresh model starts reading: at the first row it keeps. The store holds a month; the
   * older rows are marked taken with the rest (by id) without crossing the bridge.
   */
  async startingPoint_() {
    const since = isoSeconds(this.model.horizon(this.clock_.now()));
    const first = await this.quietly_(this.activity_, 'firstIdSince', { since });
    return Number.isInteger(first) && first > 0 ? first - 1 : 0;
  }

  /** Asks for a file and writes every stored row into it as JSON. Resolves with the path or null. */
  async exportJson() {
    const day = new Date(this.clock_.now()).toISOString().slice(0, 10);
    const path = await this.call_(this.settings_, 'showSavePanel', { name: `pilvo-activity-${day}.json` });
    if (typeof path !== 'string' || !path) return null;
    const rows = [];
    for await (const page of this.pagesAfter_(0)) {
      for (const row of page) {
        if (!row || !Number.isFinite(row.id)) continue; // a malformed row is left out
        rows.push({
          id: row.id,
          timestamp: row.timestamp,
          type: row.type,
          bundleId: row.bundleId ?? null,
          windowTitle: row.windowTitle ?? null,
        });
      }
    }
    await this.call_(this.interface_, 'writeTextFile', { path, text: `${JSON.stringify(rows, null, 1)}\n` });
    return path;
  }

  checkForUpdates() {
    return this.quietly_(this.updater_, 'checkForUpdates');
  }

  restartAndUpdate() {
    return this.quietly_(this.updater_, 'restartAndUpdate');
  }

  activateApp(bundleId) {
    return this.quietly_(this.tracking_, 'activateApp', { bundleId });
  }

  appName(bundleId) {
    return this.state.apps.get(bundleId) ?? bundleId;
  }

  iconUrl(bundleId) {
    return this.state.iconBase ? `${this.state.iconBase}${encodeURIComponent(bundleId)}.png` : null;
  }
}
