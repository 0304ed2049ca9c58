// Channels to the Pilvo host, for the interface page inside the host's window.
//
//   const tracking = new MethodChannel("com.tavik/tracking");
//   const name = await tracking.invokeMethod("getActiveAppName");
//
//   new MethodChannel("com.tavik/sidebar").setMethodCallHandler((method, args) => { ... });
//
//   const subscription = new EventChannel("com.tavik/menubar_events")
//     .receiveBroadcastStream()
//     .listen((event) => { ... }, (error) => { ... }, () => { ... });
//   subscription.cancel();
//
// Values cross as JSON: numbers, strings, booleans, null, arrays and objects;
// {"$int64": n}, {"$float64": x}, {"$bytes": "<base64>"} where a type must be
// forced. A failed call rejects with a PlatformException (code, message,
// details); a method the host does not implement rejects with the code
// "NOT_IMPLEMENTED".

const HANDLER = "pilvoChannel";

export class PlatformException extends Error {
  constructor(code, message = null, details = null) {
    super(message ?? code);
    this.name = "PlatformException";
    this.code = code;
    this.details = details;
  }
}

function post(message) {
  const handlers = globalThis.webkit?.messageHandlers;
  if (!handlers || !handlers[HANDLER]) {
    throw new PlatformException("NO_HOST", "Not running inside the Pilvo host");
  }
  handlers[HANDLER].postMessage(JSON.stringify(message));
}

function errorFrom(error) {
  return new PlatformException(error?.code ?? "error", error?.message ?? null,
                               error?.details ?? null);
}

let nextId = 1;
const pending = new Map();        // call id -> { resolve, reject }
const methodHandlers = new Map(); // channel -> handler(method, args)
const streams = new Map();        // channel -> the stream whose events arrive now

function call(channel, method, args) {
  return new Promise((resolve, reject) => {
    const id = nextId++;
    pending.set(id, { resolve, reject });
    try {
      post({ kind: "call", id, channel, method, args: args === undefined ? null : args });
    } catch (error) {
      pending.delete(id);
      reject(error);
    }
  });
}

function settle(message) {
  const waiting = pending.get(message.id);
  if (!waiting) return;
  pending.delete(message.id);
  if ("error" in message) {
    waiting.reject(errorFrom(message.error));
  } else if (message.notImplemented) {
    waiting.reject(new PlatformException("NOT_IMPLEMENTED", "Not implemented"));
  } else {
    waiting.resolve(message.result ?? null);
  }
}

function reply(id, body) {
  if (!id) return;
  try {
    post({ kind: "reply", id, ...body });
  } catch (_) {
    // Not inside the host: nobody waits for the answer.
  }
}

async function answerHostCall(message) {
  const handler = methodHandlers.get(message.channel);
  if (!handler) {
    reply(message.id, { notImplemented: true });
    return;
  }
  try {
    const result = await handler(message.method, message.args ?? null);
    reply(message.id, { result: result === undefined ? null : result });
  } catch (error) {
    if (error?.code === "NOT_IMPLEMENTED") {
      reply(message.id, { notImplemented: true });
    } else {
      reply(message.id, { error: { code: String(error?.code ?? "error"),
                                   message: error?.message ?? String(error),
                                   details: error?.details ?? null } });
    }
  }
}

function deliverEvent(message) {
  const stream = streams.get(message.channel);
  if (!stream) return;
  if (message.end) {
    streams.delete(message.channel);
    stream.onDone?.();
  } else if ("error" in message) {
    stream.onError?.(errorFrom(message.error));
  } else {
    stream.onEvent?.(message.event ?? null);
  }
}

// The host hands every message to this function.
globalThis.__pilvoChannels = {
  receive(message) {
    switch (message?.kind) {
      case "reply":
        settle(message);
        break;
      case "call":
        answerHostCall(message);
        break;
      case "event":
        deliverEvent(message);
        break;
      case "closed": {
        const reason = new PlatformException("DISCONNECTED", message.reason ?? "Disconnected");
        for (const waiting of pending.values()) waiting.reject(reason);
        pending.clear();
        for (const stream of streams.values()) stream.onError?.(reason);
        streams.clear();
        break;
      }
    }
  },
};

export class MethodChannel {
  constructor(name) {
    this.name = name;
  }

  invokeMethod(method, args = null) {
    return call(this.name, method, args);
  }

  setMethodCallHandler(handler) {
    if (handler) {
      methodHandlers.set(this.name, handler);
    } else {
      methodHandlers.delete(this.name);
    }
  }
}

export class EventChannel {
  constructor(name) {
    this.name = name;
  }

  receiveBroadcastStream(args = null) {
    const name = this.name;
    return {
      listen(onEvent, onError = null, onDone = null) {
        const stream = { onEvent, onError, onDone };
        // The host's stream goes to the latest listener; this one takes it over.
        streams.set(name, stream);
        call(name, "listen", args).catch((error) => {
          if (streams.get(name) === stream) streams.delete(name);
          onError?.(error);
        });
        return {
          cancel() {
            if (streams.get(name) !== stream) return Promise.resolve();
            streams.delete(name);
            return call(name, "cancel", null).then(() => undefined, () => undefined);
          },
        };
      },
    };
  }
}
