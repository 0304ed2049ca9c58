#include "testing/fake_tracking_platform.h"

namespace pilvo::testing {

bool FakeTrackingPlatform::launch(const std::string& bundleId) {
  if (installed_.count(bundleId) == 0) return false;
  launched_.push_back(bundleId);
  return true;
}

}  // namespace pilvo::testing
