// The host's start-up on fakes: every service registerChannels() needs, on a
// virtual-time loop. A plugin that needs another platform adds its fake here,
// so every test that starts the host up gets it.
#pragma once

#include "channels/flutter_engine.h"
#include "host/host_plugins.h"
#include "testing/fake_accessibility.h"
#include "testing/fake_event_loop.h"
#include "testing/fake_tracking_platform.h"

namespace pilvo::host::test {

struct FakeHost {
  // What the host logged, errors and all.
  std::vector<std::string> logged;

  testing::FakeEventLoop loop;
  testing::FakeTrackingPlatform trackingPlatform;
  testing::FakeAccessibility accessibility;
  channels::FlutterEngine engine{loop, [this](const std::string& line) { logged.push_back(line); }};

  HostServices services() {
    return {&loop, &trackingPlatform, &accessibility,
            [this](HostLogLevel, std::string_view text) { logged.emplace_back(text); }};
  }
  // The channel start-up of the main window; returns the sidebar channel.
  std::shared_ptr<channels::FlutterMethodChannel> start() {
    return registerChannels(engine, services());
  }
};

}  // namespace pilvo::host::test
