#include "overlay/animation_curve.h"

#include <algorithm>

namespace pilvo::overlay {
namespace {

// One coordinate of a cubic Bezier from 0 to 1 with control values a and b.
double bezier(double a, double b, double s) {
  const double r = 1 - s;
  return 3 * r * r * s * a + 3 * r * s * s * b + s * s * s;
}

// y at x on cubic-bezier(x1, y1, x2, y2): bisection on the monotonic x(s).
double cubicBezier(double x1, double y1, double x2, double y2, double x) {
  double lo = 0;
  double hi = 1;
  for (int i = 0; i < 40; ++i) {
    const double mid = (lo + hi) / 2;
    (bezier(x1, x2, mid) < x ? lo : hi) = mid;
  }
  return bezier(y1, y2, (lo + hi) / 2);
}

}  // namespace

double easedProgress(Curve curve, double fraction) {
  const double x = std::clamp(fraction, 0.0, 1.0);
  if (x <= 0) return 0;
  if (x >= 1) return 1;
  return curve == Curve::kEaseOut ? cubicBezier(0, 0, 0.58, 1, x) : cubicBezier(0.42, 0, 1, 1, x);
}

}  // namespace pilvo::overlay
