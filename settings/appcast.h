// The update feed: an appcast, RSS 2.0 with the sparkle: namespace, and how
// versions compare.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pilvo::settings {

inline constexpr const char* kSparkleNamespace =
    "http://www.andymatuschak.org/xml-namespaces/sparkle";

struct AppcastItem {
  std::string version;             // sparkle:version, compared with ours
  std::string shortVersionString;  // sparkle:shortVersionString, empty when absent
  std::string downloadUrl;         // the enclosure's url
  std::string releaseNotesUrl;     // sparkle:releaseNotesLink, else the item's link

  // What the user is shown: the short version string, else the version.
  const std::string& displayVersionString() const {
    return shortVersionString.empty() ? version : shortVersionString;
  }
  // The page an update notification opens: release notes, else the download;
  // only http(s) addresses, empty when there is none.
  std::string pageUrl() const;
};

// Whether `url` is an http(s) address: the only pages an update opens.
bool isWebAddress(std::string_view url);

// Parses an appcast. Items without a version are skipped. nullopt with
// `error` set when the text is not a well-formed RSS document; documents with
// a DTD are refused (no entity expansion, nothing fetched from the network).
std::optional<std::vector<AppcastItem>> parseAppcast(std::string_view xml, std::string* error);

// Compares two version strings component by component: runs of digits as
// numbers ("1.10" > "1.9"), other runs as text, a release above its
// pre-releases ("1.0" > "1.0beta1"), missing components as zero ("1.0" ==
// "1.0.0"). Negative, zero or positive like strcmp.
int compareVersions(std::string_view a, std::string_view b);

// The newest item that is newer than `currentVersion`, if any.
std::optional<AppcastItem> newestUpdate(const std::vector<AppcastItem>& items,
                                        std::string_view currentVersion);

}  // namespace pilvo::settings
