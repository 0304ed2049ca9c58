#include "interface/page_bridge.h"

#include "channels/json_mapping.h"
#include "channels/standard_codec.h"

namespace pilvo::interface {
namespace {

using channels::Bytes;
using channels::errorToJson;
using channels::FlutterError;
using channels::FlutterMethodNotImplemented;
using channels::Frame;
using channels::FrameKind;
using channels::Json;
using channels::Value;

// A method-codec reply as the members of a page message.
Json envelopeJson(channels::ByteView reply, const channels::LogSink& log) {
  if (reply.empty()) return Json{{"notImplemented", true}};
  auto decoded = channels::decodeMethodResponse(reply);
  if (!decoded) {
    if (log) log("interface: undecodable reply: " + decoded.error);
    return Json{{"error", errorToJson({"MALFORMED_REPLY", decoded.error, Value()})}};
  }
  if (auto* value = std::get_if<Value>(&*decoded.value)) {
    return Json{{"result", channels::valueToJson(*value)}};
  }
  if (auto* error = std::get_if<FlutterError>(&*decoded.value)) {
    return Json{{"error", errorToJson(*error)}};
  }
  return Json{{"notImplemented", true}};
}

std::optional<std::string> optionalString(const Json& json, const char* key) {
  auto it = json.find(key);
  if (it == json.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

}  // namespace

PageBridge::PageBridge(channels::BridgeServer& bridge, channels::HostMessenger& messenger,
                       RunScript runScript, channels::LogSink log)
    : bridge_(bridge),
      messenger_(messenger),
      runScript_(std::move(runScript)),
      log_(std::move(log)) {}

PageBridge::~PageBridge() { disconnect(); }

void PageBridge::connect() {
  disconnect();
  connection_ = bridge_.connectLocal([this](const Frame& frame) { fromBridge(frame); });
}

void PageBridge::disconnect() {
  pageIds_.clear();
  connection_.reset();  // settles what waited on the page, cancels its streams
}

bool PageBridge::connected() const { return connection_ && connection_->connected(); }

std::string PageBridge::deliveryScript(const std::string& message) {
  return "(function(m){var c=window.__pilvoChannels;if(c){c.receive(m);}"
         "else if(m.kind==='call'&&m.id){window.webkit.messageHandlers." +
         std::string(kMessageHandlerName) +
         ".postMessage(JSON.stringify({kind:'reply',id:m.id,notImplemented:true}));}})(" + message +
         ");";
}

void PageBridge::toPage(const Json& message) {
  if (runScript_) {
    runScript_(deliveryScript(message.dump(-1, ' ', false, Json::error_handler_t::replace)));
  }
}

void PageBridge::replyToPage(int64_t pageId, const Json& envelope) {
  Json message{{"kind", "reply"}, {"id", pageId}};
  message.update(envelope);
  toPage(message);
}

void PageBridge::receive(std::string_view text) {
  Json message = Json::parse(text, nullptr, false);
  if (message.is_discarded() || !message.is_object()) {
    if (log_) log_("interface: the page posted something that is not a JSON object; ignored");
    return;
  }
  const std::optional<std::string> kind = optionalString(message, "kind");
  auto idIt = message.find("id");
  const bool hasId = idIt != message.end() && idIt->is_number_integer();
  const int64_t id = hasId ? idIt->get<int64_t>() : 0;
  if (!kind || !hasId) {
    if (log_) log_("interface: a page message without kind or id; ignored");
    return;
  }
  // A page whose connection the host closed starts a new one with its next message.
  if (!connected()) connect();

  if (*kind == "call") {
    const std::optional<std::string> channel = optionalString(message, "channel");
    const std::optional<std::string> method = optionalString(message, "method");
    if (!channel || channel->empty() || !method) {
      replyToPage(
          id, Json{{"error", errorToJson({"MALFORMED_CALL", "A call needs a channel and a method",
                                          Value()})}});
      return;
    }
    Value args;
    if (auto a = message.find("args"); a != message.end()) {
      std::string error;
      std::optional<Value> value = channels::valueFromJson(*a, &error);
      if (!value) {
        replyToPage(id, Json{{"error", errorToJson({"MALFORMED_CALL", error, Value()})}});
        return;
      }
      args = std::move(*value);
    }
    uint32_t frameId = nextFrameId_++;
    if (nextFrameId_ == 0) nextFrameId_ = 1;
    pageIds_[frameId] = id;
    connection_->send(
        {FrameKind::kMessage, frameId, *channel, channels::encodeMethodCall({*method, args})});
  } else if (*kind == "reply") {
    if (id <= 0 || id > UINT32_MAX) return;
    Bytes payload;
    if (auto e = message.find("error"); e != message.end() && e->is_object()) {
      std::string error;
      FlutterError flutterError{optionalString(*e, "code").value_or("error"),
                                optionalString(*e, "message"), Value()};
      if (auto d = e->find("details"); d != e->end()) {
        flutterError.details = channels::valueFromJson(*d, &error).value_or(Value());
      }
      payload = channels::encodeErrorEnvelope(flutterError);
    } else if (auto r = message.find("result"); r != message.end()) {
      std::string error;
      std::optional<Value> value = channels::valueFromJson(*r, &error);
      payload = value ? channels::encodeSuccessEnvelope(*value)
                      : channels::encodeErrorEnvelope({"MALFORMED_REPLY", error, Value()});
    }  // else: not implemented, the empty reply
    connection_->send({FrameKind::kReply, static_cast<uint32_t>(id), {}, std::move(payload)});
  } else if (log_) {
    log_("interface: a page message of unknown kind \"" + *kind + "\"; ignored");
  }
}

void PageBridge::fromBridge(const Frame& frame) {
  switch (frame.kind) {
    case FrameKind::kReply: {
      auto it = pageIds_.find(frame.id);
      if (it == pageIds_.end()) return;
      const int64_t pageId = it->second;
      pageIds_.erase(it);
      replyToPage(pageId, envelopeJson(frame.payload, log_));
      return;
    }
    case FrameKind::kError: {
      // The host closed this connection; the page's waiting calls fail.
      pageIds_.clear();
      if (log_) {
        log_("interface: the bridge closed the page's connection: " +
             std::string(frame.payload.begin(), frame.payload.end()));
      }
      toPage(Json{{"kind", "closed"},
                  {"reason", std::string(frame.payload.begin(), frame.payload.end())}});
      return;
    }
    case FrameKind::kMessage:
      break;
  }
  if (messenger_.isEventChannel(frame.channel)) {
    Json message{{"kind", "event"}, {"channel", frame.channel}};
    if (frame.payload.empty()) {
      message["end"] = true;
    } else {
      auto decoded = channels::decodeMethodResponse(frame.payload);
      if (decoded && std::holds_alternative<Value>(*decoded.value)) {
        message["event"] = channels::valueToJson(std::get<Value>(*decoded.value));
      } else if (decoded && std::holds_alternative<FlutterError>(*decoded.value)) {
        message["error"] = errorToJson(std::get<FlutterError>(*decoded.value));
      } else {
        if (log_) log_("interface: an undecodable event on " + frame.channel + "; dropped");
        return;
      }
    }
    toPage(message);
    return;
  }
  auto call = channels::decodeMethodCall(frame.payload);
  if (!call) {
    if (log_) log_("interface: an undecodable host call on " + frame.channel + ": " + call.error);
    if (frame.id != 0 && connection_) connection_->send({FrameKind::kReply, frame.id, {}, {}});
    return;
  }
  toPage(Json{{"kind", "call"},
              {"id", frame.id},
              {"channel", frame.channel},
              {"method", call.value->method},
              {"args", channels::valueToJson(call.value->arguments)}});
}

}  // namespace pilvo::interface
