// Shears, and the turns by any angle built from a quarter turn and three shears; the mapping of a point
// through the same steps, from which rastRotateImage crops the turned page.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "picture/tpicture_internal.h"
#include "picture/transform.h"

namespace vantrel {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2 * kPi;
// Residual angles may overshoot 45 degrees by rounding of the sector arithmetic.
constexpr double kResidualLimit = kPi / 4 + 1e-9;

int64_t paddedSide(int64_t side) {
  return bitmapWords(side) * 32;
}

// ---------------------------------------------------------------------------------------------------------
// Turn plans: the quarter turn and residual turn for an angle in [0, 2 pi], shared by the turn itself and
// by the point mapping so that the crop fits what the turn makes.

struct TurnPlan {
  int quarter = 0;  // 0 none, 1 clockwise, 2 half, 3 counter-clockwise
  double theta = 0;
  bool clockwise = true;
};

TurnPlan planFor(double a) {
  TurnPlan plan;
  if (a <= kPi / 4) {
    plan = {0, a, true};
  } else if (a <= kPi / 2) {
    plan = {1, kPi / 2 - a, false};
  } else if (a <= 3 * kPi / 4) {
    plan = {1, a - kPi / 2, true};
  } else if (a <= kPi) {
    plan = {2, kPi - a, false};
  } else if (a <= 5 * kPi / 4) {
    plan = {2, a - kPi, true};
  } else if (a <= 3 * kPi / 2) {
    plan = {3, 3 * kPi / 2 - a, false};
  } else if (a < 7 * kPi / 4) {
    plan = {3, a - 3 * kPi / 2, true};
  } else {
    plan = {0, kTwoPi - a, false};
  }
  plan.theta = std::max(plan.theta, 0.0);
  return plan;
}

// [0, 2 pi) for a finite angle.
double normalizeAngle(double a) {
  a = std::fmod(a, kTwoPi);
  if (a < 0) a += kTwoPi;
  return a >= kTwoPi ? 0 : a;
}

// The residual turn moves nothing by a whole pixel.
bool residualStill(int64_t height, int64_t width, double theta) {
  const double t = std::tan(theta / 2);
  const double s = std::sin(theta);
  return static_cast<double>(height - 1) * t + 0.5 < 1 && static_cast<double>(width - 1) * s + 0.5 < 1;
}

// The most any row moves in a shear of a picture of `rows` rows.
int64_t shearReach(int64_t rows, double f) {
  return rows > 0 ? static_cast<int64_t>(std::trunc(static_cast<double>(rows - 1) * f + 0.5)) : 0;
}

int64_t shearShift(int64_t k, double f) {
  return static_cast<int64_t>(std::floor(static_cast<double>(k) * f + 0.5));
}

// A point and the size of the picture it lies in, moved through the steps of a turn.
struct Mapped {
  int64_t x, y, height, width;
  void mirrorRows() {
    height = paddedSide(height);
    y = height - 1 - y;
  }
  void mirrorColumns() {
    width = paddedSide(width);
    x = width - 1 - x;
  }
  void transpose() {
    std::swap(x, y);
    std::swap(height, width);
  }
  void shear(double f, bool downRight) {
    x += shearShift(downRight ? y : height - 1 - y, f);
    width += shearReach(height, f) + 32;
  }
};

void mapQuarter(Mapped& m, int quarter) {
  switch (quarter) {
    case 1:
      m.mirrorRows();
      m.transpose();
      break;
    case 2:
      m.mirrorRows();
      m.mirrorColumns();
      break;
    case 3:
      m.transpose();
      m.mirrorRows();
      break;
    default:
      break;
  }
}

void mapResidual(Mapped& m, double theta, bool clockwise) {
  if (residualStill(m.height, m.width, theta)) return;
  const double t = std::tan(theta / 2);
  const double s = std::sin(theta);
  m.shear(t, !clockwise);
  m.transpose();
  m.shear(s, clockwise);
  m.transpose();
  m.shear(t, !clockwise);
}

bool quarterTurn(TPicture* p, int quarter) {
  switch (quarter) {
    case 1:
      return Rotate90TPicture(p);
    case 2:
      return Rotate180TPicture(p);
    case 3:
      return Rotate270TPicture(p);
    default:
      return true;
  }
}

TPicture* shear(TPicture* p, double f, int keepSource, bool downRight, const char* routine) {
  auto fail = [&](TPicture* made, uint32_t* bits) -> TPicture* {
    FreeBitmapString(bits);
    FreeTPicture(made);
    if (!keepSource) FreeTPicture(p);
    return nullptr;
  };
  if (!(f >= 0 && f < 1)) {
    rastSetError(kRastOutOfRange, routine);
    return fail(nullptr, nullptr);
  }
  const int64_t height = p->height;
  const int64_t width = int64_t{p->width} + shearReach(height, f) + 32;
  if (width > kMaxPictureSide) {
    rastSetError(kRastOutOfMemory, "AllocTPicture");
    return fail(nullptr, nullptr);
  }
  TPicture* n = AllocTPicture(p->height, static_cast<int32_t>(width));
  if (!n) return fail(nullptr, nullptr);
  n->columnDpi = p->columnDpi;
  n->rowDpi = p->rowDpi;
  const auto words = static_cast<int32_t>(bitmapWords(p->width) + 1);
  uint32_t* bits = AllocBitmapString(words);
  if (!bits) return fail(n, nullptr);
  for (int32_t y = 0; y < p->height; ++y) {
    const int64_t shift = shearShift(downRight ? y : height - 1 - y, f);
    ReadShiftedBitmapStringTPicture(p, y, bits, words, static_cast<int32_t>(shift % 32));
    if (!WriteBitmapStringTPicture(n, y, bits, words, static_cast<int32_t>(shift / 32))) return fail(n, bits);
  }
  FreeBitmapString(bits);
  PackBlackTPicture(n);
  if (!keepSource) FreeTPicture(p);
  return n;
}

}  // namespace

TPicture* ShearDownRightTPicture(TPicture* p, double factor, int keepSource) {
  return shear(p, factor, keepSource, true, "ShearDownRightTPicture");
}

TPicture* ShearUpRightTPicture(TPicture* p, double factor, int keepSource) {
  return shear(p, factor, keepSource, false, "ShearUpRightTPicture");
}

TPicture* RotateResidualTPicture(TPicture* p, double theta, bool clockwise, int keepSource) {
  if (!(theta >= 0 && theta <= kResidualLimit)) {
    rastSetError(kRastOutOfRange, "RotateTPicture");
    if (!keepSource) FreeTPicture(p);
    return nullptr;
  }
  if (residualStill(p->height, p->width, theta)) return keepSource ? CopyTPicture(p) : p;
  const double t = std::tan(theta / 2);
  const double s = std::sin(theta);
  // Clockwise: up-right by t, down-right by s across the transpose, up-right by t; the other way mirrored.
  TPicture* a =
      shear(p, t, keepSource, !clockwise, clockwise ? "ShearUpRightTPicture" : "ShearDownRightTPicture");
  if (!a) return nullptr;
  if (!MirrorDiagonalTPicture(a)) {
    FreeTPicture(a);
    return nullptr;
  }
  TPicture* b = shear(a, s, 0, clockwise, clockwise ? "ShearDownRightTPicture" : "ShearUpRightTPicture");
  if (!b) return nullptr;
  if (!MirrorDiagonalTPicture(b)) {
    FreeTPicture(b);
    return nullptr;
  }
  return shear(b, t, 0, !clockwise, clockwise ? "ShearUpRightTPicture" : "ShearDownRightTPicture");
}

TPicture* RotateTPicture(TPicture* p, double angle, int keepSource) {
  if (!p) {
    rastSetError(kRastNoPicture, "RotateTPicture");
    return nullptr;
  }
  if (!std::isfinite(angle)) {
    rastSetError(kRastOutOfRange, "RotateTPicture");
    return nullptr;
  }
  if (!keepSource && refuseProtected(p, "RotateTPicture")) return nullptr;
  const TurnPlan plan = planFor(normalizeAngle(angle));
  if (plan.quarter == 0) return RotateResidualTPicture(p, plan.theta, plan.clockwise, keepSource);
  TPicture* work = keepSource ? CopyTPicture(p) : p;
  if (!work) return nullptr;
  if (!quarterTurn(work, plan.quarter)) {
    FreeTPicture(work);
    return nullptr;
  }
  return RotateResidualTPicture(work, plan.theta, plan.clockwise, 0);
}

bool MapRotatedPoint(int64_t height, int64_t width, double angle, RastPoint* point, int64_t* resultHeight,
                     int64_t* resultWidth) {
  if (!std::isfinite(angle)) return false;
  const TurnPlan plan = planFor(normalizeAngle(angle));
  Mapped m{point ? point->x : 0, point ? point->y : 0, height, width};
  mapQuarter(m, plan.quarter);
  mapResidual(m, plan.theta, plan.clockwise);
  if (point) *point = {m.x, m.y};
  if (resultHeight) *resultHeight = m.height;
  if (resultWidth) *resultWidth = m.width;
  return true;
}

TPicture* rastRotateImage(TPicture* p, double angle, RastPoint* corner, int keepSource) {
  if (!p) {
    rastSetError(kRastNoPicture, "rastRotateImage");
    return nullptr;
  }
  if (!std::isfinite(angle)) {
    rastSetError(kRastOutOfRange, "rastRotateImage");
    return nullptr;
  }
  if (!keepSource && refuseProtected(p, "rastRotateImage")) return nullptr;
  const double a = normalizeAngle(-angle);
  const int64_t height = p->height;
  const int64_t width = p->width;
  if (height == 0 || width == 0) {
    // Nothing to turn: an empty page of the turned size.
    const bool across = planFor(a).quarter % 2 == 1;
    TPicture* n = AllocTPicture(static_cast<int32_t>(across ? width : height),
                                static_cast<int32_t>(across ? height : width));
    if (n) {
      n->columnDpi = across ? p->rowDpi : p->columnDpi;
      n->rowDpi = across ? p->columnDpi : p->rowDpi;
    }
    if (!keepSource) FreeTPicture(p);
    if (corner) *corner = {};
    return n;
  }
  const RastPoint corners[4] = {{0, 0}, {width - 1, 0}, {width - 1, height - 1}, {0, height - 1}};
  int64_t minX = INT64_MAX, minY = INT64_MAX, maxX = INT64_MIN, maxY = INT64_MIN;
  RastPoint origin{};
  for (int i = 0; i < 4; ++i) {
    RastPoint q = corners[i];
    (void)MapRotatedPoint(height, width, a, &q);
    if (i == 0) origin = q;
    minX = std::min(minX, q.x);
    maxX = std::max(maxX, q.x);
    minY = std::min(minY, q.y);
    maxY = std::max(maxY, q.y);
  }
  TPicture* turned = RotateTPicture(p, a, keepSource);
  if (!turned) return nullptr;
  if (!TranslateTPicture(turned, static_cast<int32_t>(-minX), static_cast<int32_t>(-minY))) {
    FreeTPicture(turned);
    return nullptr;
  }
  const auto rows = static_cast<int32_t>(maxY - minY + 1);
  const auto columns = static_cast<int32_t>(maxX - minX + 1);
  TPicture* cropped = ResizeTPicture(turned, rows, columns);
  if (cropped == turned) {
    FreeTPicture(turned);
    return nullptr;
  }
  if (corner) *corner = {origin.x - minX, origin.y - minY};
  return cropped;
}

}  // namespace vantrel
