#include "testing/fake_accessibility.h"

#include <algorithm>

namespace pilvo::testing {

struct FakeAccessibility::Registry {
  std::vector<Observer*> live;
};

class FakeAccessibility::Observer final : public AccessibilityObserver {
 public:
  Observer(std::shared_ptr<Registry> registry, int32_t pid, AccessibilityCallback callback)
      : registry_(std::move(registry)), pid_(pid), callback_(std::move(callback)) {
    registry_->live.push_back(this);
  }
  ~Observer() override { std::erase(registry_->live, this); }

  int32_t pid() const { return pid_; }
  void deliver(ElementRef element, std::string_view name) { callback_(element, name); }

 private:
  std::shared_ptr<Registry> registry_;
  int32_t pid_;
  AccessibilityCallback callback_;
};

FakeAccessibility::FakeAccessibility() : registry_(std::make_shared<Registry>()) {}

FakeAccessibility::~FakeAccessibility() = default;

std::optional<std::string> FakeAccessibility::focusedWindowTitle(const RunningApp& app) {
  auto it = focusedTitles_.find(app.pid);
  return it == focusedTitles_.end() ? std::nullopt : it->second;
}

std::optional<std::string> FakeAccessibility::titleOf(ElementRef element) {
  auto it = titles_.find(element);
  return it == titles_.end() ? std::nullopt : it->second;
}

std::unique_ptr<AccessibilityObserver> FakeAccessibility::createObserver(
    const RunningApp& app, AccessibilityCallback callback) {
  if (!observerCreationSucceeds_) return nullptr;
  ++observersCreated_;
  return std::make_unique<Observer>(registry_, app.pid, std::move(callback));
}

void FakeAccessibility::setFocusedTitle(int32_t pid, std::optional<std::string> title) {
  focusedTitles_[pid] = std::move(title);
}

void FakeAccessibility::setTitle(ElementRef element, std::optional<std::string> title) {
  titles_[element] = std::move(title);
}

int FakeAccessibility::emitNotification(ElementRef element, std::string_view name) {
  return deliver(std::nullopt, element, name);
}

int FakeAccessibility::emitNotificationFor(int32_t pid, ElementRef element, std::string_view name) {
  return deliver(pid, element, name);
}

int FakeAccessibility::deliver(std::optional<int32_t> pid, ElementRef element,
                               std::string_view name) {
  // Copy: a callback may destroy or create observers; skip any destroyed on the way.
  const std::vector<Observer*> targets = registry_->live;
  int delivered = 0;
  for (Observer* observer : targets) {
    const auto& live = registry_->live;
    if (std::find(live.begin(), live.end(), observer) == live.end()) continue;
    if (pid && observer->pid() != *pid) continue;
    observer->deliver(element, name);
    ++delivered;
  }
  return delivered;
}

int FakeAccessibility::liveObserverCount() const {
  return static_cast<int>(registry_->live.size());
}

std::vector<int32_t> FakeAccessibility::observedPids() const {
  std::vector<int32_t> pids;
  for (const Observer* observer : registry_->live) pids.push_back(observer->pid());
  return pids;
}

}  // namespace pilvo::testing
