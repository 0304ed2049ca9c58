// SettingsPlatform for tests: records login-item requests, answers them with
// a failure the test sets, and holds each save dialog open until the test
// closes it, as a user would (or, with cancelAtOnce, has the user cancel each
// dialog as soon as it opens, for tests that cannot play the user).
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "settings/settings_platform.h"

namespace pilvo::testing {

class FakeSettingsPlatform final : public settings::SettingsPlatform {
 public:
  std::string setLaunchAtLogin(bool enabled) override {
    launchRequests.push_back(enabled);
    return launchFailure;
  }
  void runSavePanel(const std::string& suggestedName,
                    std::function<void(std::optional<std::string>)> done) override {
    openedPanels.push_back(suggestedName);
    if (cancelAtOnce) return done(std::nullopt);
    open_.push_back(std::move(done));
  }

  // Closes the oldest open dialog with `path` (nullopt: cancelled). False
  // when no dialog is open.
  bool closePanel(std::optional<std::string> path) {
    if (open_.empty()) return false;
    auto done = std::move(open_.front());
    open_.pop_front();
    done(std::move(path));
    return true;
  }
  size_t openPanelCount() const { return open_.size(); }

  bool cancelAtOnce = false;
  std::string launchFailure;  // empty: the request succeeds
  std::vector<bool> launchRequests;
  std::vector<std::string> openedPanels;  // suggested names, in opening order

 private:
  std::deque<std::function<void(std::optional<std::string>)>> open_;
};

}  // namespace pilvo::testing
