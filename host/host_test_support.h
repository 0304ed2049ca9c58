// The host's start-up on fakes: every service registerChannels() needs, on a
// virtual-time loop. A plugin that needs another platform adds its fake here,
// so every test that starts the host up gets it.
#pragma once

#include <glib.h>

#include "channels/flutter_engine.h"
#include "host/host_plugins.h"
#include "testing/fake_accessibility.h"
#include "testing/fake_app_index_platform.h"
#include "testing/fake_event_loop.h"
#include "testing/fake_overlay_platform.h"
#include "testing/fake_settings_platform.h"
#include "testing/fake_tracking_platform.h"
#include "testing/fake_tray_platform.h"
#include "testing/fake_update_platform.h"
#include "testing/inline_runner.h"
#include "testing/temp_dir.h"

namespace pilvo::host::test {

struct FakeHost {
  FakeHost() {
    // One installed application for the index to find.
    g_mkdir_with_parents(dir.file("data/applications").c_str(), 0700);
    testing::writeFile(dir.file("data/applications/org.example.Editor.desktop"),
                       "[Desktop Entry]\nType=Application\nName=Editor\nExec=true\n");
    appIndexPlatform.dataDirs = {dir.file("data")};
    appIndexPlatform.iconDir = dir.file("data/app_icons");
    // Nobody sits at a test's save dialog: each one is cancelled as it opens.
    settingsPlatform.cancelAtOnce = true;
    // The interface's files stay in the test's directory.
    activityStorePath = dir.file("data/pilvo/agent_events.db");
    interfacePreferencesPath = dir.file("config/pilvo/interface.json");
  }

  // What the host logged, errors and all.
  std::vector<std::string> logged;

  testing::TempDir dir;
  testing::FakeEventLoop loop;
  testing::FakeTrackingPlatform trackingPlatform;
  testing::FakeAccessibility accessibility;
  testing::FakeAppIndexPlatform appIndexPlatform;
  testing::FakeOverlayPlatform overlayPlatform{loop};
  testing::FakeSettingsPlatform settingsPlatform;
  testing::FakeUpdatePlatform updatePlatform;
  testing::FakeTrayPlatform tray;
  std::string activityStorePath;
  std::string interfacePreferencesPath;
  channels::FlutterEngine engine{loop, [this](const std::string& line) { logged.push_back(line); }};

  HostServices services() {
    HostServices services{
        &loop,
        &trackingPlatform,
        &accessibility,
        [this](HostLogLevel, std::string_view text) { logged.emplace_back(text); },
        &appIndexPlatform,
        [] { return std::make_unique<testing::InlineRunner>(); }};
    services.overlayPlatform = &overlayPlatform;
    services.settingsPlatform = &settingsPlatform;
    services.updatePlatform = &updatePlatform;
    services.trayPlatform = &tray;
    services.activityStorePath = activityStorePath;
    services.interfacePreferencesPath = interfacePreferencesPath;
    return services;
  }
  // The channel start-up of the main window; returns the sidebar channel.
  std::shared_ptr<channels::FlutterMethodChannel> start() {
    return registerChannels(engine, services());
  }
};

}  // namespace pilvo::host::test
