#include "testing/fake_accessibility.h"

#include <algorithm>

namespace pilvo::testing {

struct FakeAccessibility::Registry {
  std::vector<Observer*> live;
};

class FakeAccessibility::Observer final : public AccessibilityObserver {
 public:
  Observer(std::shared_ptr<Registry> registry, RunningApp app, AccessibilityCallback callback)
      : registry_(std::move(registry)), app_(std::move(app)), callback_(std::move(callback)) {
    registry_->live.push_back(this);
  }
  ~Observer() override { std::erase(registry_->live, this); }

  const RunningApp& app() const { return app_; }
  void deliver(ElementRef element, std::string_view name) { callback_(element, name); }

 private:
  std::shared_ptr<Registry> registry_;
  RunningApp app_;
  AccessibilityCallback callback_;
};

FakeAccessibility::FakeAccessibility() : registry_(std::make_shared<Registry>()) {}

FakeAccessibility::~FakeAccessibility() = default;

std::optional<std::string> FakeAccessibility::focusedWindowTitle(const RunningApp& app) {
  for (const auto& [owner, title] : focusedTitles_) {
    if (owner.sameApplication(app)) return title;
  }
  return std::nullopt;
}

std::optional<std::string> FakeAccessibility::titleOf(ElementRef element) {
  auto it = titles_.find(element);
  return it == titles_.end() ? std::nullopt : it->second;
}

std::unique_ptr<AccessibilityObserver> FakeAccessibility::createObserver(
    const RunningApp& app, AccessibilityCallback callback) {
  if (!observerCreationSucceeds_) return nullptr;
  ++observersCreated_;
  return std::make_unique<Observer>(registry_, app, std::move(callback));
}

void FakeAccessibility::setFocusedTitle(const RunningApp& app, std::optional<std::string> title) {
  std::erase_if(focusedTitles_, [&](const auto& entry) { return entry.first.sameApplication(app); });
  focusedTitles_.emplace_back(app, std::move(title));
}

void FakeAccessibility::setTitle(ElementRef element, std::optional<std::string> title) {
  titles_[element] = std::move(title);
}

int FakeAccessibility::emitNotification(ElementRef element, std::string_view name) {
  return deliver(std::nullopt, element, name);
}

int FakeAccessibility::emitNotificationFor(const RunningApp& app, ElementRef element,
                                           std::string_view name) {
  return deliver(app, element, name);
}

int FakeAccessibility::deliver(const std::optional<RunningApp>& app, ElementRef element,
                               std::string_view name) {
  // Copy: a callback may destroy or create observers; skip any destroyed on the way.
  const std::vector<Observer*> targets = registry_->live;
  int delivered = 0;
  for (Observer* observer : targets) {
    const auto& live = registry_->live;
    if (std::find(live.begin(), live.end(), observer) == live.end()) continue;
    if (app && !observer->app().sameApplication(*app)) continue;
    observer->deliver(element, name);
    ++delivered;
  }
  return delivered;
}

int FakeAccessibility::liveObserverCount() const {
  return static_cast<int>(registry_->live.size());
}

std::vector<std::optional<std::string>> FakeAccessibility::observedIds() const {
  std::vector<std::optional<std::string>> ids;
  for (const Observer* observer : registry_->live) ids.push_back(observer->app().bundleId);
  return ids;
}

}  // namespace pilvo::testing
