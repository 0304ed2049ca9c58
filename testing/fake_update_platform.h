// UpdatePlatform for tests: holds each feed request until the test answers
// it, and records what the user was shown and whether quitting was asked.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "settings/update_platform.h"

namespace pilvo::testing {

class FakeUpdatePlatform final : public settings::UpdatePlatform {
 public:
  void fetchFeed(const std::string& url,
                 std::function<void(settings::FeedResponse)> done) override {
    fetchedUrls.push_back(url);
    pending_.push_back(std::move(done));
  }
  void showUpdateAvailable(const std::string& version, const std::string& pageUrl) override {
    shown.push_back("available " + version + " " + pageUrl);
  }
  void showUpToDate(const std::string& currentVersion) override {
    shown.push_back("up to date " + currentVersion);
  }
  void showCheckFailed(const std::string& reason) override { shown.push_back("failed " + reason); }
  void requestQuit() override { ++quitRequests; }

  // Answers the oldest pending fetch; false when none is pending.
  bool answerFetch(settings::FeedResponse response) {
    if (pending_.empty()) return false;
    auto done = std::move(pending_.front());
    pending_.pop_front();
    done(std::move(response));
    return true;
  }
  size_t pendingFetches() const { return pending_.size(); }

  std::vector<std::string> fetchedUrls;
  std::vector<std::string> shown;  // "available V URL", "up to date V", "failed REASON"
  int quitRequests = 0;

 private:
  std::deque<std::function<void(settings::FeedResponse)>> pending_;
};

}  // namespace pilvo::testing
