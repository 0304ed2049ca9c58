// The standard timing curves as functions of elapsed fraction.
#pragma once

#include "overlay/overlay_platform.h"

namespace pilvo::overlay {

// Progress (0..1) of a curve at `fraction` (0..1, clamped) of its duration.
double easedProgress(Curve curve, double fraction);

}  // namespace pilvo::overlay
