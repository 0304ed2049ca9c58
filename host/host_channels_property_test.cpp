// Every channel the host's start-up creates, fed random calls: every call gets
// exactly one answer (a value, a channel error or not-implemented) and nothing
// crashes, whatever arrives. Channels come from what start-up registered, so a
// plugin added later is fed without touching this file (the list below only
// makes sure none of today's went missing). Reproducible by run number and
// bounded; deferred work (timers, posted answers) runs on virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "agent/agent_database.h"
#include "agent/logger.h"
#include "channels/standard_codec.h"
#include "host/host_test_support.h"

namespace pilvo::host {
namespace {

using channels::Bytes;
using channels::Value;
using channels::ValueList;
using channels::ValueMap;

constexpr uint64_t kDefaultRun = 20261207;
constexpr int kRandomCalls = 3000;

// Method names of the host's channels and the argument keys they read, so
// random calls often reach past the dispatch into the argument reading.
// Every name is tried on every channel, also where it means nothing.
const std::vector<std::string> kKnownNames = {
    // tracking
    "getActiveAppName", "getAllRunningApps", "indexAllApps", "getRunningAppBundleIds",
    "getAppSupportPath", "activateApp", "hasPermissions", "requestPermissions",
    // overlay
    "showOverlay", "hideOverlay", "updateMessage", "updateAvatarState", "showButtons",
    // menu bar
    "updateScore", "updatePopover", "updateTrackingState", "updateSessionInMenuBar", "showPopover",
    // settings, updater
    "setLaunchAtLogin", "setMenuBarVisible", "showSavePanel", "checkForUpdates", "isUpdateReady",
    "restartAndUpdate", "getVersionInfo",
    // activity, interface
    "eventsAfter", "firstIdSince", "markSynced", "writeTextFile", "loadPreferences", "savePreferences",
    // event channels; calls the host only makes itself
    "listen", "cancel", "toggle", "nudgeResponse", "updateReady"};
const std::vector<std::string> kKnownKeys = {
    "bundleId",        "message",     "state",      "enabled",
    "visible",         "name",        "score",      "position",
    "durationSeconds", "avatarState", "buttonMode", "isTracking",
    "isActive",        "json",        "x",          "y",
    "width",           "height",      "afterId",    "limit",
    "upToId",          "path",        "text",       "preferences",
    "since"};

// Applications the fake desktop runs or has installed, and one it does not know.
const std::vector<std::string> kAppIds = {"xterm", "org.gnome.TextEditor", "org.example.Missing"};

class RandomCalls {
 public:
  explicit RandomCalls(uint64_t run) : rng_(run) {}

  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  bool chance(int percent) { return below(100) < percent; }
  template <typename T>
  const T& pick(const std::vector<T>& from) {
    return from[static_cast<size_t>(below(static_cast<int>(from.size())))];
  }

  std::string text() {
    switch (below(6)) {
      case 0:
        return chance(50) ? "" : "Ünïcödé ✓ \xF0\x9F\x98\x80 \u202E";
      case 1:
        return pick(chance(50) ? kKnownNames : chance(50) ? kKnownKeys : kAppIds);
      case 2: {  // a known name with its case changed or a blank added
        std::string s = pick(kKnownNames);
        if (chance(50))
          s[0] = static_cast<char>(s[0] ^ 0x20);
        else
          s += " ";
        return s;
      }
      default: {  // arbitrary bytes (often not UTF-8) or printable ASCII
        const bool bytes = chance(40);
        std::string s(static_cast<size_t>(below(24)), ' ');
        for (char& c : s) c = static_cast<char>(bytes ? below(256) : '!' + below(94));
        return s;
      }
    }
  }

  std::string huge() {
    std::string s(static_cast<size_t>((1 + below(3)) << 20), 'x');
    s[static_cast<size_t>(below(static_cast<int>(s.size())))] = '.';
    return s;
  }

  Value scalar() {
    using Limits = std::numeric_limits<double>;
    // clang-format off
    static const std::vector<Value> kEdges = {
        Value(), Value(true), Value(false), Value(int32_t{0}), Value(INT32_MIN), Value(INT32_MAX),
        Value(INT64_MIN), Value(INT64_MAX), Value(-0.0), Value(0.5), Value(3.0), Value(1e308),
        Value(Limits::infinity()), Value(Limits::quiet_NaN()), Value(Limits::denorm_min()),
        Value(std::vector<uint8_t>(40, 0xff)), Value(std::vector<int32_t>{INT32_MIN, INT32_MAX}),
        Value(std::vector<int64_t>{INT64_MAX}), Value(std::vector<float>{1.5f, NAN}),
        Value(std::vector<double>{})};
    // clang-format on
    return chance(50) ? pick(kEdges) : Value(text());
  }

  // Any value, nesting at most `depth` more levels.
  Value value(int depth) {
    if (depth <= 0) return scalar();
    switch (below(6)) {
      case 0: {
        ValueList list;
        for (int n = below(4); n > 0; --n) list.push_back(value(depth - 1));
        return Value(std::move(list));
      }
      case 1:
      case 2:
        return map(depth);
      default:
        return scalar();
    }
  }

  // A map: empty, with the keys the channels read (values of any type), or
  // with keys that are not strings.
  Value map(int depth) {
    ValueMap entries;
    for (int n = below(5); n > 0; --n) {
      Value key = chance(70) ? Value(pick(kKnownKeys)) : value(1);
      entries.emplace_back(std::move(key), value(depth - 1));
    }
    return Value(std::move(entries));
  }

  // Nested around the codec's depth limit: both sides of it.
  Value deep() {
    Value v = scalar();
    for (int n = channels::kMaxNestingDepth - 3 + below(6); n > 1; --n) {
      v = chance(50) ? Value(ValueList{std::move(v)})
                     : Value(ValueMap{{Value(pick(kKnownKeys)), std::move(v)}});
    }
    return v;
  }

  Value arguments() {
    const int roll = below(1000);
    if (roll < 3) return Value(huge());
    if (roll < 6) return Value(ValueMap{{Value(pick(kKnownKeys)), Value(huge())}});
    if (roll < 40) return deep();
    if (roll < 500) return map(3);
    return value(3);
  }

  std::string methodName() {
    if (below(1000) < 3) return huge();
    return chance(60) ? pick(kKnownNames) : text();
  }

  // A message as the UI side could send it: mostly method calls, some with a
  // method name that is not a string, some not a method call at all.
  Bytes message(const std::string& method, const Value& args) {
    const int roll = below(100);
    if (roll < 90) return channels::encodeMethodCall({method, args});
    if (roll < 95) {
      Bytes bytes;
      channels::encodeValue(value(2), bytes);
      channels::encodeValue(args, bytes);
      return bytes;
    }
    Bytes bytes = channels::encodeMethodCall({method, args});
    if (roll < 98) {
      bytes.resize(static_cast<size_t>(below(static_cast<int>(bytes.size()) + 1)));
    } else {
      for (uint8_t& b : bytes) b = static_cast<uint8_t>(below(256));
    }
    return bytes;
  }

 private:
  std::mt19937_64 rng_;
};

uint64_t runNumber() {
  const char* text = std::getenv("PILVO_PROPERTY_RUN");
  return text && *text ? std::strtoull(text, nullptr, 10) : kDefaultRun;
}

TEST(HostChannelsPropertyTest, EveryCallOnEveryChannelIsAnsweredExactlyOnce) {
  test::FakeHost host;
  // A desktop with something on it, so the handlers have work to do.
  host.trackingPlatform.running = {
      {.bundleId = "xterm", .localizedName = "XTerm", .pid = 10, .window = 0x10},
      {.bundleId = std::nullopt, .pid = 11, .window = 0x11},
      {.bundleId = "org.example.Tray",
       .pid = 12,
       .activationPolicy = ActivationPolicy::kAccessory,
       .window = 0x12}};
  host.trackingPlatform.frontmost = host.trackingPlatform.running[0];
  host.trackingPlatform.installed = {"xterm", "org.gnome.TextEditor"};
  // An event store with rows, written by the agent's own store.
  {
    agent::Logger logger(host.dir.file("agent.log"), host.loop, nullptr);
    agent::AgentDatabase store(host.dir.file("data/pilvo"), logger, host.loop);
    store.insertEvent("appSwitch", std::string("xterm"), std::string("bash"));
    store.insertEvent("idle", std::nullopt, std::nullopt);
  }
  ASSERT_EQ(testing::fileMode(host.activityStorePath), 0600) << "the store the host reads";
  host.start();

  std::vector<std::string> channelNames;
  for (const std::string& entry : host.engine.registrationLog()) {
    for (std::string prefix : {"channel:", "eventChannel:"}) {
      if (entry.starts_with(prefix)) channelNames.push_back(entry.substr(prefix.size()));
    }
  }
  // Every channel of the host is among those fed, the host-to-interface ones included.
  for (const char* expected :
       {"com.tavik/tracking", "com.tavik/overlay", "com.tavik/menubar", "com.tavik/menubar_events",
        "com.tavik/settings", "com.pilvo/updater", "com.pilvo/activity", "com.pilvo/interface",
        "com.tavik/sidebar"}) {
    EXPECT_NE(std::find(channelNames.begin(), channelNames.end(), expected), channelNames.end())
        << expected << " was not registered at start-up";
  }

  const uint64_t run = runNumber();
  SCOPED_TRACE("PILVO_PROPERTY_RUN=" + std::to_string(run));
  RandomCalls random(run);

  struct Sent {
    std::string channel;
    std::string what;  // for failure messages
    int answers = 0;
    bool decodable = true;
  };
  std::vector<Sent> sent;
  sent.reserve((1 + kAppIds.size()) * channelNames.size() * kKnownNames.size() + kRandomCalls);
  // `wellFormed` sends a proper method call; otherwise the message may be mangled.
  auto send = [&](const std::string& channel, const std::string& method, const Value& args,
                  bool wellFormed = false) {
    const Bytes bytes =
        wellFormed ? channels::encodeMethodCall({method, args}) : random.message(method, args);
    sent.push_back({channel, method.substr(0, 40) + "(" + channels::typeName(args.type()) + ")"});
    const size_t index = sent.size() - 1;
    host.engine.binaryMessenger().deliverFromUi(channel, bytes, [&sent, index](Bytes reply) {
      ++sent[index].answers;
      // Empty is not-implemented; anything else must be a success or error envelope.
      sent[index].decodable = channels::decodeMethodResponse(reply).ok();
    });
    host.loop.runUntilIdle();
    if (random.chance(10)) host.loop.advance(0.1);
  };

  // Every known name on every channel once, also with well-formed arguments,
  // then random calls.
  for (const std::string& channel : channelNames) {
    for (const std::string& method : kKnownNames) {
      send(channel, method, random.arguments());
      for (const std::string& id : kAppIds) {
        send(channel, method, channels::makeMap({{"bundleId", Value(id)}}), true);
      }
    }
  }
  for (int i = 0; i < kRandomCalls; ++i) {
    send(random.pick(channelNames), random.methodName(), random.arguments());
  }
  // Whatever was deferred ("activateApp" moves the focus 0.2 s after its answer) runs too.
  for (int i = 0; i < 10; ++i) {
    host.loop.runUntilIdle();
    host.loop.advance(1.0);
  }
  host.loop.runUntilIdle();

  int wrong = 0;
  for (const Sent& s : sent) {
    if (s.answers == 1 && s.decodable) continue;
    if (++wrong <= 10) {
      ADD_FAILURE() << s.channel << " " << s.what << ": " << s.answers << " answers"
                    << (s.decodable ? "" : ", not a method response");
    }
  }
  EXPECT_EQ(wrong, 0) << "of " << sent.size() << " calls";
  // The channel layer answers for a handler that forgot to and drops a second
  // answer, so on the wire it always looks right; it says so in the log.
  for (const std::string& line : host.logged) {
    EXPECT_EQ(line.find("programming error"), std::string::npos) << line;
  }
  EXPECT_FALSE(host.trackingPlatform.activated.empty() && host.trackingPlatform.launched.empty())
      << "no deferred activation ran";
}

}  // namespace
}  // namespace pilvo::host
