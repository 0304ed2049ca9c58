// Tracking platform whose desktop the test sets through the public members;
// records what it was asked to bring forward or launch.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tracking/tracking_platform.h"

namespace pilvo::testing {

struct FakeTrackingPlatform final : tracking::TrackingPlatform {
  std::optional<RunningApp> frontmostApplication() override { return frontmost; }
  std::vector<RunningApp> runningApplications() override { return running; }
  RunningApp ownApplication() override { return own; }
  std::string applicationSupportPath() override { return supportPath; }
  void activate(const RunningApp& app) override { activated.push_back(app.window); }
  // Starts only identifiers with an installed desktop entry.
  bool launch(const std::string& bundleId) override {
    if (!installed.contains(bundleId)) return false;
    launched.push_back(bundleId);
    return true;
  }

  std::optional<RunningApp> frontmost;
  std::vector<RunningApp> running;
  // Like the desktop, `running` holds this program only while a test lists its window.
  RunningApp own{.bundleId = "com.pilvo.Pilvo", .localizedName = "Pilvo", .pid = 4242};
  std::string supportPath = "/home/user/.local/share";
  std::set<std::string> installed;
  // The windows brought forward, and the identifiers started, in order.
  std::vector<uint64_t> activated;
  std::vector<std::string> launched;
};

}  // namespace pilvo::testing
