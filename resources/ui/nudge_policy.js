// Nudge policy: decides when to nudge from the focus figures, the user's sensitivity and the
// answers to earlier nudges. Pure: the caller passes the time with every question.
// See docs/focus-model.md ("Nudges").

import { kOwnBundleId } from './focus_model.js';

const kMinute = 60 * 1000;

export const kSensitivities = {
  // distractedMs: active time in the state "distracted" before a nudge;
  // awayMs: time outside the session's application during a deep session;
  // cooldownMs: no nudge within this time after the last one.
  low: { distractedMs: 4 * kMinute, awayMs: 2 * kMinute, cooldownMs: 30 * kMinute },
  normal: { distractedMs: 2 * kMinute, awayMs: 1 * kMinute, cooldownMs: 20 * kMinute },
  high: { distractedMs: 1 * kMinute, awayMs: 30 * 1000, cooldownMs: 10 * kMinute },
};
export const kBreakMs = 15 * kMinute;
// Time between two questions counts at most this much, so a clock set forward or a suspended
// machine never counts as minutes of distraction.
export const kMaxStepMs = 30 * 1000;

export class NudgePolicy {
  constructor({ sensitivity = 'normal' } = {}) {
    this.setSensitivity(sensitivity);
    this.lastAt_ = null;
    this.lastNudgeAt_ = -Infinity;
    this.silentUntil_ = -Infinity;
    this.distractedMs_ = 0;
    this.awayMs_ = 0;
    this.awayNudged_ = false;
    this.history_ = [];
  }

  get sensitivity() {
    return this.sensitivity_;
  }

  setSensitivity(sensitivity) {
    this.sensitivity_ = Object.hasOwn(kSensitivities, sensitivity) ? sensitivity : 'normal';
    this.params_ = kSensitivities[this.sensitivity_];
  }

  /**
   * situation: { figures (from the focus model), session: null | { bundleId } }.
   * Returns null or a nudge { kind: "distracted" | "awayFromSession", returnTo }.
   */
  evaluate(now, { figures, session = null, focusApp = null }) {
    let step = this.lastAt_ === null ? 0 : now - this.lastAt_;
    if (step < 0) {
      // The clock went back: the cooldown and a break move with it, so neither lasts longer.
      this.lastNudgeAt_ += step;
      this.silentUntil_ += step;
    }
    step = Math.max(0, Math.min(kMaxStepMs, step));
    this.lastAt_ = now;
    const present = figures && !figures.idle && !figures.paused && figures.currentApp;
    // Idle, paused and time in Pilvo itself count for nothing and reset nothing.
    if (!present || figures.currentApp === kOwnBundleId) return null;

    if (session) {
      this.distractedMs_ = 0;
      if (figures.currentApp === session.bundleId) {
        this.awayMs_ = 0;
        this.awayNudged_ = false;
        return null;
      }
      this.awayMs_ += step;
      if (this.awayNudged_ || this.awayMs_ < this.params_.awayMs) return null;
      if (now < this.silentUntil_) return null;
      this.awayNudged_ = true;
      return this.nudge_(now, { kind: 'awayFromSession', returnTo: session.bundleId });
    }

    this.awayMs_ = 0;
    this.awayNudged_ = false;
    if (figures.state !== 'distracted') {
      this.distractedMs_ = 0;
      return null;
    }
    this.distractedMs_ += step;
    if (this.distractedMs_ < this.params_.distractedMs) return null;
    if (now < this.silentUntil_ || now - this.lastNudgeAt_ < this.params_.cooldownMs) return null;
    this.distractedMs_ = 0;
    return this.nudge_(now, { kind: 'distracted', returnTo: focusApp });
  }

  nudge_(now, nudge) {
    this.lastNudgeAt_ = now;
    this.history_.push({ at: now, kind: nudge.kind, answer: null });
    return nudge;
  }

  /** The user's answer to the last nudge: "focus", "break" or "dismiss". */
  answer(now, response) {
    const last = this.history_[this.history_.length - 1];
    if (last && last.answer === null) last.answer = response;
    if (response === 'break') this.silentUntil_ = now + kBreakMs;
    if (response === 'focus') this.distractedMs_ = 0;
  }

  get history() {
    return this.history_;
  }
}
