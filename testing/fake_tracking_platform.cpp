// FakeTrackingPlatform lives in its header; this unit keeps the library's source list stable.
#include "testing/fake_tracking_platform.h"
