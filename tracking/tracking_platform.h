// What the tracking channel needs from the desktop: the frontmost and running
// applications, this program itself, the data directory, bringing an
// application to the front and launching one. Value types only; the X11
// implementation lives in x11_tracking_platform.h, tests use
// testing/fake_tracking_platform.h.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/running_app.h"

namespace pilvo::tracking {

class TrackingPlatform {
 public:
  virtual ~TrackingPlatform() = default;

  // The application that receives key events now; nullopt when there is none.
  virtual std::optional<RunningApp> frontmostApplication() = 0;
  // Every running application the desktop shows, in the desktop's order
  // (several instances of one application are listed separately). Like the
  // desktop, it knows applications by their windows: this program is missing
  // while its window is hidden.
  virtual std::vector<RunningApp> runningApplications() = 0;
  // This program as a running application: its identifier (none when it has
  // none), localized name, process id and regular policy, window 0 (whether a
  // window is shown or not).
  virtual RunningApp ownApplication() = 0;
  // The user's application data directory, with no trailing separator; it is
  // neither created nor tested for existence.
  virtual std::string applicationSupportPath() = 0;
  // Asks the window manager to bring `app` (one of runningApplications()) to the front.
  virtual void activate(const RunningApp& app) = 0;
  // Launches the installed application named `bundleId` and lets it come to the
  // front; false when no installed application has that identifier or it
  // cannot be started.
  virtual bool launch(const std::string& bundleId) = 0;
};

}  // namespace pilvo::tracking
