// Focus model: turns the agent's activity rows into per-application stretches and the figures
// the interface shows (deep-work minutes, switches, score, state). Pure: no DOM, no channels,
// no clock of its own; every question carries its own "now". See docs/focus-model.md.

export const kOwnBundleId = 'com.pilvo.Pilvo';
export const kDeepStretchMs = 15 * 60 * 1000;
export const kScoreWindowMs = 30 * 60 * 1000;
export const kMinRateBaseMs = 10 * 60 * 1000;
// The agent writes its "idle" row once 300 s have passed without input (checked every 30 s),
// so the user went idle that long before the row's time.
export const kIdleThresholdMs = 300 * 1000;
export const kSwitchPenalty = 5;
export const kStretchBonusMax = 20;

const kMinute = 60 * 1000;

/** `ms` as the agent stamps its rows: ISO 8601 in UTC, to the second ("2026-12-07T09:00:00Z"). */
export function isoSeconds(ms) {
  return new Date(ms).toISOString().replace(/\.\d{3}Z$/, 'Z');
}

/** Local midnight at or before `ms`. */
export function localDayStart(ms) {
  const d = new Date(ms);
  d.setHours(0, 0, 0, 0);
  return d.getTime();
}

/** Local midnight of the day after the one holding `dayStart`. */
export function localNextDay(dayStart) {
  const d = new Date(dayStart);
  d.setDate(d.getDate() + 1);
  d.setHours(0, 0, 0, 0);
  return d.getTime();
}

export function tintFor(score) {
  if (score >= 70) return 'green';
  if (score >= 40) return 'orange';
  return 'red';
}

function parseTimestamp(text) {
  if (typeof text !== 'string') return NaN;
  return Date.parse(text);
}

function emptyDay(start, end) {
  return { start, end, activeMs: 0, deepMs: 0 };
}

export class FocusModel {
  constructor({
    ownBundleId = kOwnBundleId,
    dayStart = localDayStart,
    nextDay = localNextDay,
    keepDays = 8,
  } = {}) {
    this.ownBundleId_ = ownBundleId;
    this.dayStart_ = dayStart;
    this.nextDay_ = nextDay;
    this.keepDays_ = keepDays;
    this.lastId_ = 0;
    this.clock_ = -Infinity; // latest time seen; rows stamped earlier act at this time
    this.app_ = null; // application in front (may be Pilvo itself)
    this.workApp_ = null; // last application in front other than Pilvo
    this.idle_ = false;
    this.paused_ = false;
    this.open_ = null; // open stretch: { bundleId, start, segments: [[from, to|null]], activeMs }
    this.stretches_ = []; // closed stretches, oldest first
    this.switches_ = []; // switch times, ascending
    this.sessions_ = []; // [{ start, end|null }]
    this.days_ = new Map(); // day start -> totals of closed stretches
    this.lastDay_ = null; // the day totals last written, to skip date arithmetic
    this.titles_ = new Map(); // bundleId -> last title
  }

  get lastId() {
    return this.lastId_;
  }
  get currentApp() {
    return this.idle_ || this.paused_ ? null : this.app_;
  }
  get workApp() {
    return this.workApp_;
  }
  titleOf(bundleId) {
    return this.titles_.get(bundleId) ?? null;
  }

  /** Feeds rows in ascending id; rows at or below the last id taken are skipped. */
  addRows(rows) {
    for (const row of rows) {
      if (!row || typeof row.id !== 'number' || row.id <= this.lastId_) continue;
      this.lastId_ = row.id;
      const t = parseTimestamp(row.timestamp);
      if (Number.isNaN(t)) continue;
      this.applyRow_(row, t);
    }
  }

  applyRow_(row, stamp) {
    const bundleId = typeof row.bundleId === 'string' && row.bundleId ? row.bundleId : null;
    if (row.type === 'idle') {
      // Back-date by the threshold, but never before what is already recorded.
      const t = Math.max(this.clock_, stamp - kIdleThresholdMs);
      this.advance_(stamp);
      if (!this.idle_) {
        this.closeOpen_(t);
        this.idle_ = true;
      }
      return;
    }
    const t = this.advance_(stamp);
    if (row.type === 'active') {
      if (this.idle_) {
        this.idle_ = false;
        if (bundleId && !this.app_) this.setApp_(bundleId);
        this.openFor_(t);
      }
      return;
    }
    if (row.type !== 'appSwitch' && row.type !== 'windowChange') return;
    if (typeof row.windowTitle === 'string' && bundleId) this.titles_.set(bundleId, row.windowTitle);
    // Any activity ends an idle period: after a restart the agent writes no "active" row.
    const wasIdle = this.idle_;
    this.idle_ = false;
    if (!bundleId || bundleId === this.app_) {
      if (wasIdle || !this.open_) this.openFor_(t);
      return;
    }
    this.switchTo_(bundleId, t, wasIdle);
  }

  advance_(stamp) {
    if (stamp > this.clock_) this.clock_ = stamp;
    return this.clock_;
  }

  setApp_(bundleId) {
    this.app_ = bundleId;
    if (bundleId !== this.ownBundleId_) this.workApp_ = bundleId;
  }

  switchTo_(bundleId, t, fromIdle) {
    const own = this.ownBundleId_;
    if (bundleId === own) {
      // Pilvo itself: time there is not counted, and the stretch it interrupts goes on.
      this.pauseOpen_(t);
      this.app_ = bundleId;
      return;
    }
    const previousWork = this.workApp_;
    this.setApp_(bundleId);
    if (this.paused_) return;
    if (this.open_ && this.open_.bundleId === bundleId && !fromIdle) {
      this.resumeOpen_(t);
      return;
    }
    const counts = !fromIdle && previousWork !== null && previousWork !== bundleId && this.open_;
    this.closeOpen_(t);
    if (counts) this.switches_.push(t);
    this.openFor_(t);
  }

  openFor_(t) {
    if (this.paused_ || this.idle_ || !this.app_) return;
    if (this.app_ === this.ownBundleId_) {
      if (this.open_) return;
      if (!this.workApp_) return;
      this.open_ = { bundleId: this.workApp_, start: t, segments: [], activeMs: 0 };
      return;
    }
    if (this.open_ && this.open_.bundleId === this.app_) {
      this.resumeOpen_(t);
      return;
    }
    this.closeOpen_(t);
    this.open_ = { bundleId: this.app_, start: t, segments: [[t, null]], activeMs: 0 };
  }

  pauseOpen_(t) {
    const open = this.open_;
    if (!open) return;
    const last = open.segments[open.segments.length - 1];
    if (last && last[1] === null) {
      last[1] = t;
      open.activeMs += t - last[0];
    }
  }

  resumeOpen_(t) {
    const open = this.open_;
    const last = open.segments[open.segments.length - 1];
    if (!last || last[1] !== null) open.segments.push([t, null]);
  }

  closeOpen_(t) {
    const open = this.open_;
    if (!open) return;
    this.pauseOpen_(t);
    this.open_ = null;
    if (open.activeMs <= 0) return;
    open.end = t;
    this.stretches_.push(open);
    this.account_(open);
    this.prune_(t);
  }

  /** Adds a closed stretch to the totals of the days it touches. */
  account_(stretch) {
    const deep = stretch.activeMs >= kDeepStretchMs;
    for (const [from, to] of stretch.segments) {
      this.forEachDayPart_(from, to, (day, a, b) => {
        const ms = b - a;
        day.activeMs += ms;
        day.deepMs += deep ? ms : this.sessionOverlap_(a, b, Infinity);
      });
    }
  }

  forEachDayPart_(from, to, fn) {
    let a = from;
    while (a < to) {
      let day = this.lastDay_;
      if (!day || a < day.start || a >= day.end) {
        const start = this.dayStart_(a);
        day = this.days_.get(start);
        if (!day) {
          day = emptyDay(start, this.nextDay_(start));
          this.days_.set(start, day);
        }
        this.lastDay_ = day;
      }
      const b = Math.min(to, day.end);
      fn(day, a, b);
      a = b;
    }
  }

  sessionOverlap_(a, b, now) {
    let ms = 0;
    for (let i = this.sessions_.length - 1; i >= 0; i--) {
      const s = this.sessions_[i];
      const end = s.end ?? now;
      if (end <= a) break;
      ms += Math.max(0, Math.min(b, end) - Math.max(a, s.start));
    }
    return ms;
  }

  /** The oldest time the model keeps anything of: older rows change nothing it shows. */
  horizon(nowMs) {
    return nowMs - this.keepDays_ * 24 * 60 * kMinute;
  }

  prune_(t) {
    const horizon = this.horizon(t);
    // A day's worth at a time, so pruning stays linear over a month of rows.
    if (this.stretches_.length > 4096 && this.stretches_[0].end < horizon - 24 * 60 * kMinute) {
      this.stretches_ = this.stretches_.filter((s) => s.end >= horizon);
      const i = this.switches_.findIndex((x) => x >= horizon);
      this.switches_ = i < 0 ? [] : this.switches_.slice(i);
    }
    for (const key of this.days_.keys()) {
      if (key < horizon - 24 * 60 * kMinute) {
        this.days_.delete(key);
        this.lastDay_ = null;
      }
    }
  }

  /** Tracking paused or resumed at `now`: paused time is neither active time nor switching. */
  setPaused(now, paused) {
    if (paused === this.paused_) return;
    const t = this.advance_(now);
    if (paused) {
      this.closeOpen_(t);
      this.paused_ = true;
    } else {
      this.paused_ = false;
      this.openFor_(t);
    }
  }

  startSession(now) {
    const t = this.advance_(now);
    const last = this.sessions_[this.sessions_.length - 1];
    if (last && last.end === null) return;
    this.sessions_.push({ start: t, end: null });
  }

  endSession(now) {
    const t = this.advance_(now);
    const last = this.sessions_[this.sessions_.length - 1];
    if (last && last.end === null) last.end = Math.max(t, last.start);
  }

  /** Active milliseconds of the open stretch up to `now`. */
  openActiveMs_(now) {
    const open = this.open_;
    if (!open) return 0;
    const last = open.segments[open.segments.length - 1];
    const running = last && last[1] === null ? Math.max(0, now - last[0]) : 0;
    return open.activeMs + running;
  }

  /** The figures for the day holding `now`. */
  figures(nowMs) {
    const now = Math.max(nowMs, this.clock_);
    const dayStart = this.dayStart_(now);
    const closed = this.days_.get(dayStart) ?? emptyDay(dayStart, this.nextDay_(dayStart));
    let activeMs = closed.activeMs;
    let deepMs = closed.deepMs;
    const openMs = this.openActiveMs_(now);
    if (this.open_) {
      const deep = openMs >= kDeepStretchMs;
      for (const [from, to0] of this.open_.segments) {
        const a = Math.max(from, dayStart);
        const b = to0 ?? now;
        if (b <= a) continue;
        activeMs += b - a;
        deepMs += deep ? b - a : this.sessionOverlap_(a, b, now);
      }
    }
    const switches = this.countSwitches_(dayStart, Infinity);
    const { score, windowMs, windowSwitches } = this.score_(now);
    const current = this.open_ && !this.idle_ && !this.paused_ ? openMs : 0;
    let state = null;
    if (score !== null) {
      if (score >= 70) {
        state = current >= kDeepStretchMs || this.inSession_() ? 'deep' : 'stable';
      } else {
        state = score >= 40 ? 'fragmented' : 'distracted';
      }
    }
    return {
      score,
      state,
      deepWorkMinutes: Math.floor(deepMs / kMinute),
      switches,
      activeMinutes: Math.floor(activeMs / kMinute),
      currentApp: this.currentApp,
      currentStretchMinutes: Math.floor(current / kMinute),
      windowMinutes: Math.floor(windowMs / kMinute),
      windowSwitches,
      idle: this.idle_,
      paused: this.paused_,
    };
  }

  inSession_() {
    const last = this.sessions_[this.sessions_.length - 1];
    return !!last && last.end === null;
  }

  countSwitches_(from, to) {
    const s = this.switches_;
    let lo = 0;
    let hi = s.length;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (s[mid] < from) lo = mid + 1;
      else hi = mid;
    }
    let n = 0;
    for (let i = lo; i < s.length && s[i] < to; i++) n++;
    return n;
  }

  /**
   * Score over the most recent kScoreWindowMs of active time:
   * 100 - kSwitchPenalty x switches per 30 minutes + one point per minute of the current
   * stretch (at most kStretchBonusMax), clamped to 0..100. Null without any active time.
   */
  score_(now) {
    let need = kScoreWindowMs;
    let windowStart = now;
    let windowMs = 0;
    const take = (from, to) => {
      const ms = Math.min(need, to - from);
      if (ms <= 0) return;
      need -= ms;
      windowMs += ms;
      windowStart = to - ms;
    };
    if (this.open_) {
      for (let i = this.open_.segments.length - 1; i >= 0 && need > 0; i--) {
        const [from, to] = this.open_.segments[i];
        take(from, to ?? now);
      }
    }
    for (let i = this.stretches_.length - 1; i >= 0 && need > 0; i--) {
      const segs = this.stretches_[i].segments;
      for (let j = segs.length - 1; j >= 0 && need > 0; j--) take(segs[j][0], segs[j][1]);
    }
    if (windowMs <= 0) return { score: null, windowMs: 0, windowSwitches: 0 };
    const windowSwitches = this.countSwitches_(windowStart, Infinity);
    const rate = (windowSwitches * kScoreWindowMs) / Math.max(windowMs, kMinRateBaseMs);
    const current = this.idle_ || this.paused_ ? 0 : this.openActiveMs_(now);
    const bonus = Math.min(kStretchBonusMax, current / kMinute);
    const raw = 100 - kSwitchPenalty * rate + bonus;
    const score = Math.max(0, Math.min(100, Math.round(raw)));
    return { score, windowMs, windowSwitches };
  }

  /**
   * The application the user was focused in before the current one: the latest stretch of at
   * least 5 minutes in another application, else the one with most recent active time.
   */
  focusAppBefore(now) {
    const current = this.currentApp;
    const totals = new Map();
    let seen = 0;
    for (let i = this.stretches_.length - 1; i >= 0; i--) {
      const s = this.stretches_[i];
      if (s.end < now - 2 * kScoreWindowMs) break;
      if (s.bundleId === current) continue;
      if (s.activeMs >= 5 * kMinute) return s.bundleId;
      totals.set(s.bundleId, (totals.get(s.bundleId) ?? 0) + s.activeMs);
      if (++seen > 200) break;
    }
    let best = null;
    let bestMs = 0;
    for (const [id, ms] of totals) {
      if (ms > bestMs) {
        best = id;
        bestMs = ms;
      }
    }
    return best;
  }

  /** Per-application pieces of the day holding `now`: [{bundleId, start, end}], oldest first. */
  timeline(nowMs) {
    const now = Math.max(nowMs, this.clock_);
    const dayStart = this.dayStart_(now);
    const out = [];
    const add = (s, openNow) => {
      for (const [from, to0] of s.segments) {
        const to = to0 ?? openNow;
        const a = Math.max(from, dayStart);
        if (to > a) out.push({ bundleId: s.bundleId, start: a, end: to });
      }
    };
    let i = this.stretches_.length;
    while (i > 0 && this.stretches_[i - 1].end > dayStart) i--;
    for (; i < this.stretches_.length; i++) add(this.stretches_[i], now);
    if (this.open_) add(this.open_, now);
    return out;
  }

  /**
   * Applications of the day holding `now` by active minutes, most first. `pieces` is
   * timeline(now) when the caller has it already.
   */
  topApps(nowMs, limit = 5, pieces = this.timeline(nowMs)) {
    const totals = new Map();
    for (const piece of pieces) {
      totals.set(piece.bundleId, (totals.get(piece.bundleId) ?? 0) + piece.end - piece.start);
    }
    return [...totals]
      .sort((x, y) => y[1] - x[1])
      .slice(0, limit)
      .map(([bundleId, ms]) => ({ bundleId, minutes: Math.floor(ms / kMinute) }));
  }

  /** Totals of the `count` days ending with the one holding `now`, oldest first. */
  days(nowMs, count = 7) {
    const now = Math.max(nowMs, this.clock_);
    const today = this.dayStart_(now);
    const starts = [today];
    for (let i = 1; i < count; i++) starts.unshift(this.dayStart_(starts[0] - 1));
    return starts.map((start) => {
      if (start === today) {
        const f = this.figures(now);
        return {
          start,
          activeMinutes: f.activeMinutes,
          deepWorkMinutes: f.deepWorkMinutes,
          switches: f.switches,
        };
      }
      const day = this.days_.get(start) ?? emptyDay(start, this.nextDay_(start));
      return {
        start,
        activeMinutes: Math.floor(day.activeMs / kMinute),
        deepWorkMinutes: Math.floor(day.deepMs / kMinute),
        switches: this.countSwitches_(start, this.nextDay_(start)),
      };
    });
  }
}
