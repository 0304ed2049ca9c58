// The standard plugins of the interface, registered in this fixed order, each
// through a registrar named after its plugin class. On this platform none of
// them has a native part: asking for the registrar is the whole registration.
#pragma once

#include <array>
#include <string_view>

#include "channels/flutter_engine.h"

namespace pilvo::host {

inline constexpr std::array<std::string_view, 10> kGeneratedPluginKeys = {
    "AppLinksMacosPlugin",      "ConnectivityPlusPlugin",   "FlutterLocalNotificationsPlugin",
    "FPPPackageInfoPlusPlugin", "PathProviderPlugin",       "SharedPreferencesPlugin",
    "SignInWithApplePlugin",    "Sqlite3FlutterLibsPlugin", "UrlLauncherPlugin",
    "FVPVideoPlayerPlugin",
};

void RegisterGeneratedPlugins(channels::FlutterPluginRegistry& registry);

}  // namespace pilvo::host
