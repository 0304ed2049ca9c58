// The listeners (or handlers) of an event source, each registered through an
// RAII handle.
//
// Calling them is re-entrant: a listener may add or remove listeners, itself
// included, or destroy the list's owner while it runs. A listener removed
// during a round is not called later in that round, one added is called from
// the next round on, and once the list is gone nothing more is called. A
// handle may outlive the list; dropping it then does nothing.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "common/event_loop.h"

namespace pilvo {

template <typename L>
class ListenerList {
 public:
  ListenerList() = default;
  ListenerList(const ListenerList&) = delete;
  ListenerList& operator=(const ListenerList&) = delete;
  ~ListenerList() { *alive_ = false; }

  // Registers `listener` until the returned handle is dropped.
  std::unique_ptr<EventSource> add(L listener) {
    const uint64_t id = nextId_++;
    entries_[id] = std::make_shared<Entry>(Entry{std::move(listener)});
    return std::make_unique<Handle>(this, id);
  }

  // Calls `f(listener)` for every listener registered when the call began and
  // still registered when its turn comes, in registration order.
  template <typename F>
  void forEach(F&& f) {
    std::vector<std::shared_ptr<Entry>> snapshot;
    snapshot.reserve(entries_.size());
    for (const auto& [id, entry] : entries_) snapshot.push_back(entry);
    const std::shared_ptr<bool> alive = alive_;
    for (const auto& entry : snapshot) {
      if (!*alive) return;  // a listener destroyed the list's owner
      if (entry->active) f(entry->listener);
    }
  }

  // Unregisters every listener; their handles then do nothing.
  void clear() {
    for (auto& [id, entry] : entries_) entry->active = false;
    entries_.clear();
  }

 private:
  struct Entry {
    L listener;
    bool active = true;
  };

  class Handle final : public EventSource {
   public:
    Handle(ListenerList* list, uint64_t id) : list_(list), alive_(list->alive_), id_(id) {}
    ~Handle() override {
      if (*alive_) list_->remove(id_);
    }

   private:
    ListenerList* list_;
    std::shared_ptr<bool> alive_;
    uint64_t id_;
  };

  void remove(uint64_t id) {
    auto it = entries_.find(id);
    if (it == entries_.end()) return;
    it->second->active = false;
    entries_.erase(it);
  }

  std::map<uint64_t, std::shared_ptr<Entry>> entries_;
  uint64_t nextId_ = 1;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace pilvo
