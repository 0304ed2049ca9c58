// pilvoctl: talks to a running Pilvo host over its socket bridge, as a UI would.
//
//   pilvoctl [--socket PATH] [--timeout SECONDS] call CHANNEL METHOD [JSON]
//   pilvoctl [--socket PATH] [--timeout SECONDS] [--count N] listen CHANNEL...
//
// Exit status: 0 success, 1 channel error, 2 not implemented, 3 no connection
// or connection lost, 4 usage error. See docs/bridge-protocol.md.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "channels/bridge_client.h"
#include "channels/bridge_server.h"
#include "channels/json_mapping.h"
#include "channels/standard_codec.h"

namespace {

using namespace pilvo::channels;
using SteadyClock = std::chrono::steady_clock;

constexpr int kExitOk = 0;
constexpr int kExitChannelError = 1;
constexpr int kExitNotImplemented = 2;
constexpr int kExitConnection = 3;
constexpr int kExitUsage = 4;

constexpr double kDefaultCallTimeoutSeconds = 60;
constexpr int kSliceMs = 200;  // how often a waiting listen looks at signals

volatile sig_atomic_t gStop = 0;

void onSignal(int) { gStop = 1; }

const char kUsage[] =
    "Usage:\n"
    "  pilvoctl [--socket PATH] [--timeout SECONDS] call CHANNEL METHOD [JSON]\n"
    "  pilvoctl [--socket PATH] [--timeout SECONDS] [--count N] listen CHANNEL...\n"
    "\n"
    "call    sends METHOD with the JSON arguments (default null) and prints the reply as JSON.\n"
    "listen  listens to event channels and prints events and the host's own calls on the\n"
    "        given channels as JSON lines until interrupted (or N lines, or SECONDS).\n"
    "--socket PATH   the host's socket (default: $XDG_RUNTIME_DIR/pilvo/host.sock)\n"
    "Exit status: 0 ok, 1 channel error, 2 not implemented, 3 connection problem, 4 usage.\n";

int usage(const std::string& problem) {
  std::fprintf(stderr, "pilvoctl: %s\n\n%s", problem.c_str(), kUsage);
  return kExitUsage;
}

void printLine(const Json& j) {
  std::string line = j.dump();
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

int connectionProblem(const std::string& what) {
  std::fprintf(stderr, "pilvoctl: %s\n", what.c_str());
  return kExitConnection;
}

struct Options {
  std::string socket = defaultSocketPath();
  std::optional<double> timeoutSeconds;
  std::optional<long> count;
  std::vector<std::string> args;
};

int runCall(BridgeClient& client, const Options& o) {
  if (o.args.size() < 3 || o.args.size() > 4) return usage("call needs CHANNEL METHOD [JSON]");
  const std::string& channel = o.args[1];
  const std::string& method = o.args[2];
  std::string error;
  auto arguments = valueFromJsonText(o.args.size() == 4 ? o.args[3] : "null", &error);
  if (!arguments) return usage("the arguments are not usable: " + error);
  if (std::string e = client.connect(o.socket); !e.empty()) return connectionProblem(e);

  const uint32_t id =
      client.sendMessage(channel, encodeMethodCall({method, *arguments}), true, &error);
  if (id == 0) return connectionProblem(error);
  const double timeout = o.timeoutSeconds.value_or(kDefaultCallTimeoutSeconds);
  const auto deadline = SteadyClock::now() + std::chrono::duration<double>(timeout);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    Frame frame;
    switch (client.readFrame(frame, std::max<int>(0, static_cast<int>(left.count())), &error)) {
      case BridgeClient::ReadStatus::kTimeout:
        if (SteadyClock::now() < deadline) continue;  // interrupted early
        return connectionProblem("no answer from the Pilvo host within " + std::to_string(timeout) +
                                 " seconds (use --timeout to wait longer)");
      case BridgeClient::ReadStatus::kClosed:
        return connectionProblem("the Pilvo host closed the connection before answering");
      case BridgeClient::ReadStatus::kError:
        return connectionProblem(error);
      case BridgeClient::ReadStatus::kFrame:
        break;
    }
    if (frame.kind == FrameKind::kMessage) {
      if (frame.id != 0) client.sendReply(frame.id, {}, nullptr);  // a CLI answers nothing
      continue;
    }
    if (frame.kind != FrameKind::kReply || frame.id != id) continue;
    auto response = decodeMethodResponse(frame.payload);
    if (!response)
      return connectionProblem("the Pilvo host sent a malformed reply: " + response.error);
    if (const Value* v = std::get_if<Value>(&*response.value)) {
      printLine(valueToJson(*v));
      return kExitOk;
    }
    if (const FlutterError* e = std::get_if<FlutterError>(&*response.value)) {
      printLine(errorToJson(*e));
      return kExitChannelError;
    }
    std::fprintf(stderr,
                 "pilvoctl: method \"%s\" is not implemented on channel \"%s\" (no handler "
                 "answers it)\n",
                 method.c_str(), channel.c_str());
    return kExitNotImplemented;
  }
}

// Prints one message the host sent on a listened channel. Returns true when a
// line was printed.
bool printIncoming(const Frame& frame, std::set<std::string>& ended) {
  const std::string& channel = frame.channel;
  if (frame.payload.empty()) {
    ended.insert(channel);
    printLine(Json{{"channel", channel}, {"endOfStream", true}});
    return true;
  }
  if (frame.payload[0] <= 1) {  // an event envelope; a method call starts with a string tag
    auto event = decodeMethodResponse(frame.payload);
    if (!event) {
      std::fprintf(stderr, "pilvoctl: malformed event on \"%s\": %s\n", channel.c_str(),
                   event.error.c_str());
      return false;
    }
    if (const Value* v = std::get_if<Value>(&*event.value)) {
      printLine(Json{{"channel", channel}, {"event", valueToJson(*v)}});
    } else {
      printLine(
          Json{{"channel", channel}, {"error", errorToJson(std::get<FlutterError>(*event.value))}});
    }
    return true;
  }
  auto call = decodeMethodCall(frame.payload);
  if (!call) {
    std::fprintf(stderr, "pilvoctl: malformed call on \"%s\": %s\n", channel.c_str(),
                 call.error.c_str());
    return false;
  }
  printLine(Json{{"channel", channel},
                 {"method", call.value->method},
                 {"arguments", valueToJson(call.value->arguments)}});
  return true;
}

int runListen(BridgeClient& client, const Options& o) {
  if (o.args.size() < 2) return usage("listen needs at least one CHANNEL");
  std::set<std::string> channels(o.args.begin() + 1, o.args.end());
  if (std::string e = client.connect(o.socket); !e.empty()) return connectionProblem(e);

  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  std::string error;
  std::map<uint32_t, std::string> listenIds;
  for (const auto& channel : channels) {
    const uint32_t id =
        client.sendMessage(channel, encodeMethodCall({"listen", Value()}), true, &error);
    if (id == 0) return connectionProblem(error);
    listenIds[id] = channel;
  }
  std::set<std::string> streams;  // event channels whose listen succeeded
  std::set<std::string> ended;
  long printed = 0;
  int status = kExitOk;
  const auto deadline =
      o.timeoutSeconds
          ? std::optional(SteadyClock::now() + std::chrono::duration<double>(*o.timeoutSeconds))
          : std::nullopt;
  while (!gStop && !(o.count && printed >= *o.count)) {
    int wait = kSliceMs;
    if (deadline) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - SteadyClock::now())
              .count();
      if (left <= 0) break;
      wait = static_cast<int>(std::min<long>(left, kSliceMs));
    }
    Frame frame;
    const auto got = client.readFrame(frame, wait, &error);
    if (got == BridgeClient::ReadStatus::kTimeout) continue;
    if (got == BridgeClient::ReadStatus::kClosed) {
      status = connectionProblem("the Pilvo host closed the connection");
      break;
    }
    if (got == BridgeClient::ReadStatus::kError) {
      status = connectionProblem(error);
      break;
    }
    if (frame.kind == FrameKind::kReply) {
      auto it = listenIds.find(frame.id);
      if (it == listenIds.end()) continue;
      const std::string channel = it->second;
      listenIds.erase(it);
      auto response = decodeMethodResponse(frame.payload);
      if (response && std::holds_alternative<Value>(*response.value)) {
        streams.insert(channel);
      } else if (response && std::holds_alternative<FlutterError>(*response.value)) {
        const auto& e = std::get<FlutterError>(*response.value);
        std::fprintf(stderr, "pilvoctl: listening to \"%s\" failed: %s %s\n", channel.c_str(),
                     e.code.c_str(), e.message.value_or("").c_str());
        status = kExitChannelError;
        break;
      }
      // Not implemented: a method channel; its calls from the host are still printed.
      continue;
    }
    if (frame.kind != FrameKind::kMessage) continue;
    if (frame.id != 0) client.sendReply(frame.id, {}, nullptr);
    if (!channels.count(frame.channel)) continue;
    if (printIncoming(frame, ended)) ++printed;
  }
  for (const auto& channel : streams) {
    if (!ended.count(channel) && client.connected()) {
      client.sendMessage(channel, encodeMethodCall({"cancel", Value()}), false, nullptr);
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto valueOf = [&](const char* name) -> const char* {
      if (i + 1 >= argc) return nullptr;
      (void)name;
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    } else if (arg == "--socket") {
      const char* v = valueOf("--socket");
      if (!v) return usage("--socket needs a path");
      o.socket = v;
    } else if (arg == "--timeout") {
      const char* v = valueOf("--timeout");
      char* end = nullptr;
      const double seconds = v ? std::strtod(v, &end) : -1;
      if (!v || *end || !(seconds >= 0)) return usage("--timeout needs a number of seconds");
      o.timeoutSeconds = seconds;
    } else if (arg == "--count") {
      const char* v = valueOf("--count");
      char* end = nullptr;
      const long n = v ? std::strtol(v, &end, 10) : -1;
      if (!v || *end || n <= 0) return usage("--count needs a positive whole number");
      o.count = n;
    } else if (arg.size() > 2 && arg.rfind("--", 0) == 0) {
      return usage("unknown option " + arg);
    } else {
      o.args.push_back(arg);
    }
  }
  if (o.args.empty()) return usage("no command given");
  BridgeClient client;
  if (o.args[0] == "call") return runCall(client, o);
  if (o.args[0] == "listen") return runListen(client, o);
  return usage("unknown command \"" + o.args[0] + "\"");
}
