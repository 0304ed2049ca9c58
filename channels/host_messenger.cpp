#include "channels/host_messenger.h"

#include <atomic>
#include <map>
#include <set>

namespace pilvo::channels {

struct HostMessenger::State {
  std::map<std::string, std::shared_ptr<BinaryMessageHandler>> handlers;
  std::set<std::string> eventChannels;
  UiSide ui;
  ChannelObserver observer;
};

namespace {

// Answers one message from the UI side: the reply is carried to the main loop
// and dropped there when the messenger is gone by then.
class LoopResponder final : public BinaryResponder {
 public:
  LoopResponder(EventLoop& loop, std::weak_ptr<void> alive, std::function<void(Bytes)> reply,
                std::string channel, LogSink log)
      : loop_(loop),
        alive_(std::move(alive)),
        reply_(std::move(reply)),
        channel_(std::move(channel)),
        log_(std::move(log)) {}

  ~LoopResponder() override {
    if (done_.load()) return;
    if (log_) log_("programming error: a message on \"" + channel_ + "\" was never answered");
    respond({});
  }

  void respond(Bytes reply) override {
    if (done_.exchange(true)) {
      if (log_) {
        log_("programming error: a message on \"" + channel_ +
             "\" was answered more than once; extra answer dropped");
      }
      return;
    }
    loop_.post([alive = alive_, reply = std::move(reply_), bytes = std::move(reply)]() mutable {
      if (alive.lock() && reply) reply(std::move(bytes));
    });
  }

 private:
  EventLoop& loop_;
  std::weak_ptr<void> alive_;
  std::function<void(Bytes)> reply_;
  std::string channel_;
  LogSink log_;
  std::atomic<bool> done_{false};
};

}  // namespace

HostMessenger::HostMessenger(EventLoop& loop, LogSink log)
    : loop_(loop), log_(std::move(log)), state_(std::make_shared<State>()) {}

HostMessenger::~HostMessenger() = default;

void HostMessenger::send(const std::string& channel, Bytes message, BinaryReplyCallback reply) {
  loop_.post([weak = std::weak_ptr<State>(state_), channel, message = std::move(message),
              reply = std::move(reply)]() mutable {
    auto state = weak.lock();
    if (!state) return;
    if (state->ui) {
      UiSide ui = state->ui;  // the call may replace the UI side
      ui(channel, std::move(message), std::move(reply));
    } else if (reply) {
      reply({});
    }
  });
}

void HostMessenger::setMessageHandler(const std::string& channel, BinaryMessageHandler handler) {
  if (handler) {
    state_->handlers[channel] = std::make_shared<BinaryMessageHandler>(std::move(handler));
  } else {
    state_->handlers.erase(channel);
  }
}

void HostMessenger::channelCreated(const std::string& channel, ChannelKind kind) {
  if (kind == ChannelKind::kEvent) state_->eventChannels.insert(channel);
  if (state_->observer) state_->observer(channel, kind);
}

void HostMessenger::deliverFromUi(const std::string& channel, ByteView message,
                                  std::function<void(Bytes)> reply) {
  auto responder = std::make_unique<LoopResponder>(loop_, std::weak_ptr<void>(state_),
                                                   std::move(reply), channel, log_);
  auto it = state_->handlers.find(channel);
  if (it == state_->handlers.end()) {
    responder->respond({});  // no handler: the empty (not implemented) reply
    return;
  }
  std::shared_ptr<BinaryMessageHandler> handler = it->second;  // survives replacement mid-call
  (*handler)(message, std::move(responder));
}

void HostMessenger::setUiSide(UiSide ui) { state_->ui = std::move(ui); }

void HostMessenger::setChannelObserver(ChannelObserver observer) {
  state_->observer = std::move(observer);
}

bool HostMessenger::hasHandler(const std::string& channel) const {
  return state_->handlers.count(channel) != 0;
}

bool HostMessenger::isEventChannel(const std::string& channel) const {
  return state_->eventChannels.count(channel) != 0;
}

}  // namespace pilvo::channels
