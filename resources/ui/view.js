// The screens: renders the controller's state into index.html and turns clicks and keys into
// controller calls. Text from the desktop (names, titles) only ever goes in as text.

import { tintFor } from './focus_model.js';

const kStateLabels = { deep: 'Deep focus', stable: 'Stable', fragmented: 'Fragmented', distracted: 'Distracted' };
const kScreens = ['today', 'week', 'settings'];

export function formatMinutes(minutes) {
  if (minutes < 60) return `${minutes} min`;
  const h = Math.floor(minutes / 60);
  const m = minutes % 60;
  return m ? `${h} h ${m} min` : `${h} h`;
}

export function formatRemaining(ms) {
  const s = Math.max(0, Math.ceil(ms / 1000));
  return `${String(Math.floor(s / 60)).padStart(2, '0')}:${String(s % 60).padStart(2, '0')}`;
}

/** A stable hue per application, so it keeps its colour across the screens. */
export function hueOf(text) {
  let h = 0;
  for (let i = 0; i < text.length; i++) h = (h * 31 + text.charCodeAt(i)) >>> 0;
  return h % 360;
}

export class AppView {
  constructor(doc, controller) {
    this.doc_ = doc;
    this.c_ = controller;
    this.screen_ = 'today';
    this.iconFailed_ = new Set();
    this.$ = (id) => doc.getElementById(id);
  }

  attach() {
    const d = this.doc_;
    for (const button of d.querySelectorAll('.nav')) {
      button.addEventListener('click', () => this.show(button.dataset.screen));
    }
    d.addEventListener('keydown', (e) => {
      if ((e.ctrlKey || e.metaKey) && ['1', '2', '3'].includes(e.key)) {
        e.preventDefault();
        this.show(kScreens[Number(e.key) - 1]);
      }
    });
    this.$('tracking-toggle').addEventListener('click', () => this.c_.setTracking(!this.c_.state.tracking));
    this.$('session-button').addEventListener('click', () => {
      if (this.c_.state.session) this.c_.endSession({ completed: false });
      else this.c_.startSession();
    });
    for (const key of ['launchAtLogin', 'showTrayIcon', 'hideTitles']) {
      this.$(`pref-${key}`).addEventListener('change', (e) => this.c_.setPreference(key, e.target.checked));
    }
    this.$('pref-sensitivity').addEventListener('change', (e) => this.c_.setPreference('sensitivity', e.target.value));
    this.$('pref-sessionMinutes').addEventListener('change', (e) =>
      this.c_.setPreference('sessionMinutes', Number(e.target.value)),
    );
    this.$('export').addEventListener('click', async () => {
      const status = this.$('settings-status');
      try {
        const path = await this.c_.exportJson();
        status.textContent = path ? `Exported to ${path}` : '';
      } catch (error) {
        status.textContent = `Export failed: ${error?.message ?? error}`;
      }
    });
    this.$('check-updates').addEventListener('click', async () => {
      this.$('settings-status').textContent = 'Checking for updates…';
      await this.c_.checkForUpdates();
      this.$('settings-status').textContent = 'Pilvo tells you here when an update is ready.';
    });
    this.c_.subscribe(() => this.render());
    this.render();
  }

  show(screen) {
    if (!kScreens.includes(screen)) return;
    this.screen_ = screen;
    this.render();
    this.$('main').focus({ preventScroll: true });
  }

  render() {
    const s = this.c_.state;
    const now = this.c_.now();
    this.$('shell').classList.toggle('collapsed', !s.sidebarOpen);
    for (const button of this.doc_.querySelectorAll('.nav')) {
      const current = button.dataset.screen === this.screen_;
      button.classList.toggle('current', current);
      if (current) button.setAttribute('aria-current', 'page');
      else button.removeAttribute('aria-current');
    }
    for (const name of kScreens) this.$(`screen-${name}`).hidden = name !== this.screen_;
    const toggle = this.$('tracking-toggle');
    toggle.textContent = s.tracking ? 'Tracking on' : 'Tracking paused';
    toggle.setAttribute('aria-pressed', String(s.tracking));
    const banner = this.$('banner');
    banner.hidden = !s.error && !s.updateReady;
    const bannerKey = `${s.error}|${s.updateReady}`;
    if (bannerKey !== this.bannerKey_) this.renderBanner_(banner, s);
    this.bannerKey_ = bannerKey;
    if (this.screen_ === 'today') this.renderToday_(s, now);
    else if (this.screen_ === 'week') this.renderWeek_(now);
    else this.renderSettings_(s);
  }

  renderBanner_(banner, s) {
    banner.replaceChildren(s.error ?? (s.updateReady ? `Pilvo ${s.updateReady} is ready to install. ` : ''));
    if (!s.error && s.updateReady) {
      const restart = this.doc_.createElement('button');
      restart.textContent = 'Restart and update';
      restart.addEventListener('click', () => this.c_.restartAndUpdate());
      banner.append(restart);
    }
  }

  renderToday_(s, now) {
    const f = s.figures;
    this.$('today-date').textContent = new Date(now).toLocaleDateString(undefined, {
      weekday: 'long',
      month: 'long',
      day: 'numeric',
    });
    const score = f?.score ?? null;
    const ring = this.$('ring-value');
    const circumference = 2 * Math.PI * 52;
    ring.setAttribute('stroke-dasharray', `${((score ?? 0) / 100) * circumference} ${circumference}`);
    ring.setAttribute('class', `ring-value ${score === null || score === 0 ? 'none' : tintFor(score)}`);
    this.$('score').textContent = score === null ? '–' : String(score);
    let state = 'No activity yet';
    if (f?.paused) state = 'Tracking paused';
    else if (f?.idle) state = 'Away';
    else if (f?.state) state = kStateLabels[f.state];
    this.$('state').textContent = state;
    this.$('deep-work').textContent = String(f?.deepWorkMinutes ?? 0);
    this.$('switches').textContent = String(f?.switches ?? 0);
    this.$('active').textContent = String(f?.activeMinutes ?? 0);

    const session = s.session;
    const remaining = this.c_.sessionRemainingMs(now);
    this.$('session-remaining').textContent = session
      ? formatRemaining(remaining)
      : formatRemaining(s.preferences.sessionMinutes * 60000);
    this.$('session-progress').style.width = session ? `${(1 - remaining / session.lengthMs) * 100}%` : '0%';
    this.$('session-button').textContent = session ? 'End session' : 'Start deep session';
    this.$('session-card').classList.toggle('running', !!session);

    const pieces = this.renderTimeline_(now);
    this.renderTopApps_(this.c_.model.topApps(now, 6, pieces), s.preferences.hideTitles);
  }

  /** The day's top applications; the list is rebuilt only when something it shows changed. */
  renderTopApps_(apps, hideTitles) {
    const rows = apps.map((app) => {
      const name = this.c_.appName(app.bundleId);
      const title = this.c_.model.titleOf(app.bundleId);
      return {
        bundleId: app.bundleId,
        icon: this.c_.iconUrl(app.bundleId),
        name,
        // A title that only repeats the name (many programs title their window so) says nothing.
        title: title && title !== name && !hideTitles ? title : null,
        // An application used today never shows as "0 min".
        minutes: app.minutes > 0 ? formatMinutes(app.minutes) : '< 1 min',
      };
    });
    const key = JSON.stringify(rows);
    if (key === this.topAppsKey_) return;
    this.topAppsKey_ = key;
    const list = this.$('top-apps');
    list.replaceChildren();
    for (const row of rows) {
      const li = this.doc_.createElement('li');
      li.append(this.icon_(row.bundleId));
      const text = this.doc_.createElement('div');
      text.className = 'app-text';
      const name = this.doc_.createElement('span');
      name.className = 'name';
      name.textContent = row.name;
      text.append(name);
      if (row.title) {
        const t = this.doc_.createElement('span');
        t.className = 'title';
        t.textContent = row.title;
        text.append(t);
      }
      const minutes = this.doc_.createElement('span');
      minutes.className = 'minutes';
      minutes.textContent = row.minutes;
      li.append(text, minutes);
      list.append(li);
    }
    if (!list.children.length) {
      const li = this.doc_.createElement('li');
      li.className = 'empty';
      li.textContent = 'Nothing recorded today yet.';
      list.append(li);
    }
  }

  /** Draws the day's pieces and returns them. */
  renderTimeline_(now) {
    const bar = this.$('timeline');
    const pieces = this.c_.model.timeline(now);
    bar.replaceChildren();
    const axis = this.$('timeline-axis');
    axis.replaceChildren();
    if (!pieces.length) return pieces;
    const from = pieces[0].start;
    const span = Math.max(60000, now - from);
    for (const p of pieces) {
      const width = ((p.end - p.start) / span) * 100;
      if (width < 0.05) continue;
      const div = this.doc_.createElement('div');
      div.className = 'piece';
      div.style.left = `${((p.start - from) / span) * 100}%`;
      div.style.width = `${width}%`;
      div.style.background = `hsl(${hueOf(p.bundleId)} 65% 55%)`;
      div.title = this.c_.appName(p.bundleId);
      bar.append(div);
    }
    const fmt = (ms) => new Date(ms).toLocaleTimeString(undefined, { hour: '2-digit', minute: '2-digit' });
    for (const ms of [from, now]) {
      const span_ = this.doc_.createElement('span');
      span_.textContent = fmt(ms);
      axis.append(span_);
    }
    return pieces;
  }

  renderWeek_(now) {
    const week = this.$('week');
    week.replaceChildren();
    const days = this.c_.model.days(now, 7);
    const most = Math.max(60, ...days.map((d) => d.activeMinutes));
    for (const day of days) {
      const col = this.doc_.createElement('div');
      col.className = 'day';
      const bars = this.doc_.createElement('div');
      bars.className = 'bars';
      const active = this.doc_.createElement('div');
      active.className = 'bar active';
      active.style.height = `${(day.activeMinutes / most) * 100}%`;
      const deep = this.doc_.createElement('div');
      deep.className = 'bar deep';
      deep.style.height = `${(day.deepWorkMinutes / most) * 100}%`;
      bars.append(active, deep);
      const label = this.doc_.createElement('span');
      label.className = 'day-label';
      label.textContent = new Date(day.start).toLocaleDateString(undefined, { weekday: 'short' });
      const figures = this.doc_.createElement('span');
      figures.className = 'day-figures';
      figures.textContent = `${formatMinutes(day.deepWorkMinutes)} deep\n${day.switches} switches`;
      col.setAttribute('aria-label', `${label.textContent}: ${formatMinutes(day.activeMinutes)} active, ` +
        `${formatMinutes(day.deepWorkMinutes)} deep work, ${day.switches} switches`);
      col.append(bars, label, figures);
      week.append(col);
    }
  }

  renderSettings_(s) {
    const p = s.preferences;
    for (const key of ['launchAtLogin', 'showTrayIcon', 'hideTitles']) this.$(`pref-${key}`).checked = p[key];
    this.$('pref-sensitivity').value = p.sensitivity;
    const minutes = this.$('pref-sessionMinutes');
    if (this.doc_.activeElement !== minutes) minutes.value = String(p.sessionMinutes);
    this.$('version').textContent = s.version ?? '–';
  }

  icon_(bundleId) {
    const url = this.iconFailed_.has(bundleId) ? null : this.c_.iconUrl(bundleId);
    if (url) {
      const img = this.doc_.createElement('img');
      img.className = 'icon';
      img.alt = '';
      img.src = url;
      img.addEventListener('error', () => {
        this.iconFailed_.add(bundleId);
        img.replaceWith(this.avatar_(bundleId));
      });
      return img;
    }
    return this.avatar_(bundleId);
  }

  avatar_(bundleId) {
    const span = this.doc_.createElement('span');
    span.className = 'icon avatar';
    span.setAttribute('aria-hidden', 'true');
    span.style.background = `hsl(${hueOf(bundleId)} 55% 50%)`;
    const name = this.c_.appName(bundleId);
    span.textContent = (name.match(/[\p{L}\p{N}]/u)?.[0] ?? '?').toUpperCase();
    return span;
  }
}
