#include "identity/app_identity.h"

#include "common/utf8.h"

namespace pilvo {
namespace {

// Valid UTF-8 or nothing: empty values name nothing.
std::optional<std::string> given(const std::optional<std::string>& value) {
  if (!value || value->empty()) return std::nullopt;
  return repairUtf8(*value);
}

// _KDE_NET_WM_DESKTOP_FILE holds an ID, sometimes with ".desktop" or as a path.
std::optional<std::string> idFromDesktopFile(std::optional<std::string> value) {
  if (!value) return std::nullopt;
  std::string id = std::move(*value);
  if (const size_t slash = id.rfind('/'); slash != std::string::npos) id.erase(0, slash + 1);
  constexpr std::string_view kSuffix = ".desktop";
  if (id.size() > kSuffix.size() && id.ends_with(kSuffix)) id.resize(id.size() - kSuffix.size());
  if (id.empty()) return std::nullopt;
  return id;
}

AppIdentity fromEntry(const DesktopEntry& entry, const std::optional<std::string>& wmClass) {
  AppIdentity identity{.bundleId = entry.id, .localizedName = wmClass};
  if (!entry.name.empty()) identity.localizedName = entry.name;
  return identity;
}

AppIdentity resolveUnchecked(const WindowFacts& facts, const DesktopEntryIndex& index) {
  const std::optional<std::string> instance = given(facts.wmClassInstance);
  const std::optional<std::string> wmClass = given(facts.wmClassClass);

  // Identifiers the window states itself: taken even when no entry is installed.
  for (const std::optional<std::string>& stated :
       {given(facts.gtkApplicationId), idFromDesktopFile(given(facts.kdeDesktopFile))}) {
    if (!stated) continue;
    AppIdentity identity{.bundleId = *stated, .localizedName = wmClass};
    const DesktopEntry* entry = index.findById(*stated);
    if (entry && !entry->name.empty()) identity.localizedName = entry->name;
    return identity;
  }

  for (const std::optional<std::string>& name : {instance, wmClass}) {
    if (!name) continue;
    if (const DesktopEntry* entry = index.findByStartupWmClass(*name)) {
      return fromEntry(*entry, wmClass);
    }
  }
  for (const std::optional<std::string>& name : {instance, wmClass}) {
    if (!name) continue;
    if (const DesktopEntry* entry = index.findByIdIgnoringCase(*name)) {
      return fromEntry(*entry, wmClass);
    }
  }
  return AppIdentity{.bundleId = wmClass, .localizedName = wmClass};
}

}  // namespace

AppIdentity resolveAppIdentity(const WindowFacts& facts, const DesktopEntryIndex& index) {
  AppIdentity identity = resolveUnchecked(facts, index);
  if (identity.bundleId) identity.bundleId = replaceControlCharacters(*identity.bundleId);
  return identity;
}

}  // namespace pilvo
