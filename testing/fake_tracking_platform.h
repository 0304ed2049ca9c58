// Tracking platform whose applications the test sets; records what it was
// asked to bring forward or launch.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tracking/tracking_platform.h"

namespace pilvo::testing {

class FakeTrackingPlatform final : public tracking::TrackingPlatform {
 public:
  std::optional<RunningApp> frontmostApplication() override { return frontmost_; }
  std::vector<RunningApp> runningApplications() override { return running_; }
  std::optional<std::string> ownBundleIdentifier() override { return ownId_; }
  std::string applicationSupportPath() override { return supportPath_; }
  void activate(const RunningApp& app) override { activated_.push_back(app); }
  bool launch(const std::string& bundleId) override;

  // Test controls.
  void setFrontmost(std::optional<RunningApp> app) { frontmost_ = std::move(app); }
  void setRunning(std::vector<RunningApp> apps) { running_ = std::move(apps); }
  void setOwnBundleIdentifier(std::optional<std::string> id) { ownId_ = std::move(id); }
  void setSupportPath(std::string path) { supportPath_ = std::move(path); }
  // Identifiers that have an installed desktop entry.
  void addInstalled(std::string bundleId) { installed_.insert(std::move(bundleId)); }

  // What was brought forward, and what was started, in order.
  const std::vector<RunningApp>& activated() const { return activated_; }
  const std::vector<std::string>& launched() const { return launched_; }
  int openedCount() const { return static_cast<int>(activated_.size() + launched_.size()); }

 private:
  std::optional<RunningApp> frontmost_;
  std::vector<RunningApp> running_;
  std::optional<std::string> ownId_ = std::string("com.pilvo.Pilvo");
  std::string supportPath_ = "/home/user/.local/share";
  std::set<std::string> installed_;
  std::vector<RunningApp> activated_;
  std::vector<std::string> launched_;
};

}  // namespace pilvo::testing
