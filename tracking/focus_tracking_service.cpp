#include "tracking/focus_tracking_service.h"

#include <algorithm>

namespace pilvo::tracking {

struct FocusTrackingService::Pending {
  std::unique_ptr<EventSource> timer;
  bool fired = false;
};

FocusTrackingService::FocusTrackingService(TrackingPlatform& platform, Accessibility& accessibility,
                                           EventLoop& loop)
    : platform_(platform),
      accessibility_(accessibility),
      loop_(loop),
      alive_(std::make_shared<bool>(true)) {}

FocusTrackingService::~FocusTrackingService() = default;

std::string FocusTrackingService::activeAppName() {
  std::optional<RunningApp> app = platform_.frontmostApplication();
  if (!app || !app->localizedName) return kUnknownAppName;
  return *app->localizedName;
}

std::vector<RunningApp> FocusTrackingService::runningApplications() {
  std::vector<RunningApp> apps = platform_.runningApplications();
  RunningApp own = platform_.ownApplication();
  if (!own.bundleId) return apps;
  // The desktop lists this program only while it shows a window; an entry
  // with its identifier stands for it (an application is its identifier).
  auto isOwn = [&](const RunningApp& app) { return app.sameApplication(own); };
  auto first = std::find_if(apps.begin(), apps.end(), isOwn);
  if (first == apps.end()) {
    apps.push_back(std::move(own));
    return apps;
  }
  const uint64_t window = first->window;
  *first = own;
  first->window = window;
  apps.erase(std::remove_if(first + 1, apps.end(), isOwn), apps.end());
  return apps;
}

std::vector<std::string> FocusTrackingService::allRunningAppIds() {
  std::vector<std::string> ids;
  for (const RunningApp& app : runningApplications()) {
    if (app.bundleId) ids.push_back(*app.bundleId);
  }
  return ids;
}

std::vector<std::string> FocusTrackingService::runningRegularAppIds() {
  const std::string own = platform_.ownApplication().bundleId.value_or("");
  std::vector<std::string> ids;
  for (const RunningApp& app : runningApplications()) {
    if (app.activationPolicy != ActivationPolicy::kRegular) continue;
    if (!app.bundleId || *app.bundleId == own) continue;
    ids.push_back(*app.bundleId);
  }
  return ids;
}

std::string FocusTrackingService::appSupportPath() { return platform_.applicationSupportPath(); }

void FocusTrackingService::scheduleActivation(std::string bundleId) {
  std::erase_if(pending_, [](const std::unique_ptr<Pending>& p) { return p->fired; });
  auto pending = std::make_unique<Pending>();
  Pending* raw = pending.get();
  std::weak_ptr<bool> alive = alive_;
  raw->timer = loop_.addTimer(kActivationDelaySeconds, /*repeating=*/false,
                              [this, raw, alive, id = std::move(bundleId)] {
                                if (alive.expired()) return;
                                raw->fired = true;
                                activateNow(id);
                              });
  pending_.push_back(std::move(pending));
}

void FocusTrackingService::activateNow(const std::string& bundleId) {
  // A running instance is brought forward through the window manager; the
  // first one in desktop order that has a window wins.
  for (const RunningApp& app : platform_.runningApplications()) {
    if (app.bundleId == bundleId && app.window != 0) {
      platform_.activate(app);
      return;
    }
  }
  // Not running: start it from its desktop entry. An unknown identifier opens
  // nothing, and nobody is waiting for the outcome.
  platform_.launch(bundleId);
}

bool FocusTrackingService::hasPermissions() { return accessibility_.isProcessTrusted(); }

void FocusTrackingService::requestPermissions() {
  if (accessibility_.isProcessTrusted()) return;
  accessibility_.requestTrust();
}

size_t FocusTrackingService::pendingActivations() const {
  return static_cast<size_t>(
      std::count_if(pending_.begin(), pending_.end(), [](const auto& p) { return !p->fired; }));
}

}  // namespace pilvo::tracking
