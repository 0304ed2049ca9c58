// A stand-in for channels.js in Node tests: a fake host with method handlers per channel,
// host calls into the page, event streams, and a virtual clock with timers.
// Like the real bridge, every answer arrives asynchronously, and a method without a handler
// rejects with NOT_IMPLEMENTED.

import { PlatformException } from '../channels.js';

export { PlatformException };

export class FakeHost {
  constructor() {
    this.handlers = new Map(); // "channel method" -> (args) => value (may throw PlatformException)
    this.calls = []; // [channel, method, args]
    this.pageHandlers = new Map(); // channel -> handler set by the page
    this.listeners = new Map(); // event channel -> [{ onEvent, onError, onDone }]
    const host = this;
    this.MethodChannel = class {
      constructor(name) {
        this.name = name;
      }
      invokeMethod(method, args = null) {
        // Values cross as JSON, so the page never shares objects with the host.
        const copy = args === null ? null : JSON.parse(JSON.stringify(args));
        host.calls.push([this.name, method, copy]);
        const handler = host.handlers.get(`${this.name} ${method}`);
        return Promise.resolve().then(() => {
          if (!handler) throw new PlatformException('NOT_IMPLEMENTED', 'Not implemented');
          const value = handler(copy);
          return value === undefined ? null : JSON.parse(JSON.stringify(value));
        });
      }
      setMethodCallHandler(handler) {
        host.pageHandlers.set(this.name, handler);
      }
    };
    this.EventChannel = class {
      constructor(name) {
        this.name = name;
      }
      receiveBroadcastStream() {
        const name = this.name;
        return {
          listen(onEvent, onError, onDone) {
            const entry = { onEvent, onError, onDone };
            const list = host.listeners.get(name) ?? [];
            list.push(entry);
            host.listeners.set(name, list);
            return { cancel: () => list.splice(list.indexOf(entry), 1) };
          },
        };
      }
    };
  }

  on(channel, method, handler) {
    this.handlers.set(`${channel} ${method}`, handler);
  }

  /** The host calls the page, as "nudgeResponse" or "toggle" do. */
  async callPage(channel, method, args = null) {
    const handler = this.pageHandlers.get(channel);
    if (!handler) throw new PlatformException('NOT_IMPLEMENTED');
    return handler(method, args);
  }

  emit(channel, event) {
    for (const l of this.listeners.get(channel) ?? []) l.onEvent(event);
  }

  callsTo(channel, method) {
    return this.calls.filter(([c, m]) => c === channel && m === method).map(([, , a]) => a);
  }
}

export class FakeClock {
  constructor(start) {
    this.nowMs = start;
    this.timers = new Map();
    this.nextId = 1;
  }
  now() {
    return this.nowMs;
  }
  setTimeout(fn, ms) {
    const id = this.nextId++;
    this.timers.set(id, { at: this.nowMs + ms, fn });
    return id;
  }
  clearTimeout(id) {
    this.timers.delete(id);
  }
  /** Moves time on, firing due timers in order and letting their promises settle. */
  async advance(ms) {
    const end = this.nowMs + ms;
    for (;;) {
      let next = null;
      for (const [id, t] of this.timers) if (t.at <= end && (!next || t.at < next[1].at)) next = [id, t];
      if (!next) break;
      this.timers.delete(next[0]);
      this.nowMs = Math.max(this.nowMs, next[1].at);
      next[1].fn();
      await settle();
    }
    this.nowMs = end;
    await settle();
  }
}

export async function settle() {
  for (let i = 0; i < 20; i++) await new Promise((resolve) => setImmediate(resolve));
}
