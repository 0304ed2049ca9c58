// The index's desktop: GIO's application database (g_app_info_get_all), the
// XDG data directories and current desktops as GLib reads them, and a theme
// icon lookup the toolkit supplies (the host passes GTK's icon theme).
#pragma once

#include <functional>

#include "tracking/app_index_platform.h"

namespace pilvo::tracking {

class GioAppIndexPlatform final : public AppIndexPlatform {
 public:
  using ThemeLookup = std::function<std::optional<std::string>(const std::string& name)>;

  GioAppIndexPlatform(std::string ownBundleId, ThemeLookup themeLookup);

  std::vector<AppCandidate> systemApplications() override;
  std::vector<std::string> dataDirectories() override;
  std::vector<std::string> currentDesktops() override;
  std::string ownBundleIdentifier() override { return ownBundleId_; }
  std::string iconDirectory() override;
  std::optional<std::string> lookupThemeIcon(const std::string& name) override;

 private:
  std::string ownBundleId_;
  ThemeLookup themeLookup_;
};

}  // namespace pilvo::tracking
