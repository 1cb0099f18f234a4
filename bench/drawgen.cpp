// drawgen: writes a deterministic synthetic engineering drawing, the test and benchmark input of the
// translators. The page is described as a list of primitives (axis-aligned boxes, convex polygons, rings),
// then rendered one row at a time by a scanline renderer: primitives sorted by their top row, an active
// list, each row's spans merged into a sorted run list. Memory stays at the primitive list plus one row.
//
//   drawgen [-w W] [-h H] [-dpi D] [-p a0..a4] [-landscape] [-seed S] [-scan] [-f format] out
//
// -scan makes the page look scanned: the whole drawing turned by a slight skew, strokes broken by small
// gaps, clusters of specks, and in the rendered rows ragged run ends and pinholes in the ink.
//
// Output is raw PBM (P4) by default or with -f pbm; any other -f name, or a format id (for the formats no
// name selects, such as 13), is written through the format writers of the library.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "formats/registry.h"
#include "formats/open.h"
#include "rio/rcb.h"
#include "rio/sline.h"
#include "rio/status.h"
#include "tests/support/rng.h"
#include "rio/stream.h"

namespace vantrel {
namespace {

constexpr double kPi = 3.14159265358979323846;


struct Point {
  double x, y;
};

enum class Kind : uint8_t { kBox, kPolygon, kRing };

// One primitive. Rows [top, bottom) are those whose pixel centres it may cover.
struct Shape {
  int32_t top = 0;
  int32_t bottom = 0;
  Kind kind = Kind::kBox;
  int32_t x0 = 0, x1 = 0;             // box: columns [x0, x1)
  uint32_t first = 0, count = 0;      // polygon: vertices in the pool
  double cx = 0, cy = 0, ro = 0, ri = 0;  // ring: centre, outer and inner radius (ri 0: a disc)
};

struct Span {
  int32_t start, end;
};

// Pixel rows whose centre lies in [lo, hi], clamped so that the conversion to int stays defined.
void rowRange(double lo, double hi, int32_t limit, int32_t* top, int32_t* bottom) {
  lo = std::clamp(lo, -2.0, limit + 2.0);
  hi = std::clamp(hi, -2.0, limit + 2.0);
  *top = static_cast<int32_t>(std::ceil(lo - 0.5));
  *bottom = static_cast<int32_t>(std::floor(hi - 0.5)) + 1;
}

// The page as a list of primitives, in pixel coordinates (y down).
class Drawing {
 public:
  Drawing(int32_t width, int32_t height, double dpi) : width_(width), height_(height), dpi_(dpi) {}

  // From here on every primitive is turned by `degrees` about the page centre and strokes are broken now
  // and then, the randomness drawn from its own generator so the layout stays that of the clean page.
  void scanLook(double degrees, uint64_t seed) {
    scan_ = true;
    skewCos_ = std::cos(degrees * kPi / 180), skewSin_ = std::sin(degrees * kPi / 180);
    scanRng_ = Rng(seed);
  }

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  double mm(double v) const { return v * dpi_ / 25.4; }
  // A pen width in pixels: never thinner than one pixel.
  double pen(double millimetres) const { return std::max(1.0, std::round(mm(millimetres))); }

  // Filled box [x0, x1) x [y0, y1), rounded to whole pixels; nothing when it is empty or off the page.
  // A box that is not `turned` keeps its edges on the pixel grid on a skewed page (specks of a few pixels,
  // where a turn would change nothing but cost a polygon).
  void box(double x0, double y0, double x1, double y1, bool turned = true) {
    if (scan_ && turned) {
      const Point q[4] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
      return polygon(q, 4);
    }
    const double limitX = width_ + 2.0, limitY = height_ + 2.0;
    Shape s;
    s.kind = Kind::kBox;
    s.x0 = static_cast<int32_t>(std::lround(std::clamp(std::min(x0, x1), -2.0, limitX)));
    s.x1 = static_cast<int32_t>(std::lround(std::clamp(std::max(x0, x1), -2.0, limitX)));
    s.top = static_cast<int32_t>(std::lround(std::clamp(std::min(y0, y1), -2.0, limitY)));
    s.bottom = static_cast<int32_t>(std::lround(std::clamp(std::max(y0, y1), -2.0, limitY)));
    if (s.x1 <= s.x0 || s.bottom <= s.top) return;
    if (s.x1 <= 0 || s.x0 >= width_ || s.bottom <= 0 || s.top >= height_) return;
    shapes_.push_back(s);
  }

  void polygon(const Point* p, int n) {
    if (n < 3) return;
    Point turned[kMaxVertices];
    if (scan_) {
      n = std::min(n, kMaxVertices);
      for (int i = 0; i < n; ++i) turned[i] = turn(p[i]);
      p = turned;
    }
    double lo = p[0].y, hi = p[0].y, left = p[0].x, right = p[0].x;
    for (int i = 1; i < n; ++i) {
      lo = std::min(lo, p[i].y), hi = std::max(hi, p[i].y);
      left = std::min(left, p[i].x), right = std::max(right, p[i].x);
    }
    if (right < 0 || left > width_) return;
    Shape s;
    s.kind = Kind::kPolygon;
    rowRange(lo, hi, height_, &s.top, &s.bottom);
    if (s.bottom <= std::max(s.top, 0) || s.top >= height_) return;
    s.first = static_cast<uint32_t>(points_.size());
    s.count = static_cast<uint32_t>(n);
    points_.insert(points_.end(), p, p + n);
    shapes_.push_back(s);
  }

  // A ring of pen width t centred on radius r; t >= 2r gives a disc.
  void ring(double cx, double cy, double r, double t) {
    Shape s;
    s.kind = Kind::kRing;
    if (scan_) {
      const Point c = turn({cx, cy});
      cx = c.x, cy = c.y;
    }
    s.cx = cx, s.cy = cy, s.ro = r + t / 2, s.ri = std::max(0.0, r - t / 2);
    if (cx + s.ro < 0 || cx - s.ro > width_) return;
    rowRange(cy - s.ro, cy + s.ro, height_, &s.top, &s.bottom);
    if (s.bottom <= std::max(s.top, 0) || s.top >= height_) return;
    shapes_.push_back(s);
  }
  void disc(double cx, double cy, double r) { ring(cx, cy, r / 2, r); }

  // A straight stroke of pen width t with square caps; horizontal and vertical ones become boxes.
  void line(double x0, double y0, double x1, double y1, double t) {
    const double length = std::hypot(x1 - x0, y1 - y0);
    if (!scan_ || length < mm(4) || !scanRng_.chance(0.3)) return stroke(x0, y0, x1, y1, t);
    // A broken stroke: one to three gaps of 0.1 to 0.4 mm, the caps kept out of each gap.
    const double dx = (x1 - x0) / length, dy = (y1 - y0) / length, h = t / 2;
    const int gaps = 1 + scanRng_.below(3);
    double at = 0;
    for (int i = 0; i < gaps; ++i) {
      const double centre = scanRng_.uniform(at, length), half = mm(scanRng_.uniform(0.05, 0.2)) + h;
      const double stop = centre - half;
      if (stop > at) stroke(x0 + dx * at, y0 + dy * at, x0 + dx * stop, y0 + dy * stop, t);
      at = std::max(at, centre + half);
      if (at >= length) return;
    }
    stroke(x0 + dx * at, y0 + dy * at, x1, y1, t);
  }

  // Clusters of specks, as dust and toner on a scanned sheet leave them: a few dots of one to three pixels
  // within a millimetre or so of a centre.
  void specks(int64_t clusters, Rng& rng) {
    for (int64_t i = 0; i < clusters; ++i) {
      const double x = rng.uniform(0, width_), y = rng.uniform(0, height_);
      const double spread = mm(rng.uniform(0.2, 1.5));
      const int dots = 2 + rng.below(10);
      for (int k = 0; k < dots; ++k) {
        const double px = std::floor(x + rng.uniform(-spread, spread));
        const double py = std::floor(y + rng.uniform(-spread, spread));
        const int size = 1 + rng.below(3);
        box(px, py, px + size, py + size, false);
      }
    }
  }

  // A straight stroke of pen width t with square caps; horizontal and vertical ones become boxes.
  void stroke(double x0, double y0, double x1, double y1, double t) {
    const double h = t / 2;
    if (y0 == y1) return box(std::min(x0, x1) - h, y0 - h, std::max(x0, x1) + h, y0 + h);
    if (x0 == x1) return box(x0 - h, std::min(y0, y1) - h, x0 + h, std::max(y0, y1) + h);
    Point q[4];
    strokeQuad(x0, y0, x1, y1, t, q);
    polygon(q, 4);
  }

  // A dashed stroke: long dash, gap, short dash, gap (the centre-line pattern).
  void centreLine(double x0, double y0, double x1, double y1, double t) {
    const double length = std::hypot(x1 - x0, y1 - y0);
    if (length <= 0) return;
    const double dx = (x1 - x0) / length, dy = (y1 - y0) / length;
    const double pattern[4] = {mm(8), mm(1.5), mm(1), mm(1.5)};
    double at = 0;
    for (int i = 0; at < length; i = (i + 1) % 4) {
      const double next = std::min(length, at + std::max(1.0, pattern[i]));
      if (i % 2 == 0) line(x0 + dx * at, y0 + dy * at, x0 + dx * next, y0 + dy * next, t);
      at = next;
    }
  }

  // The outline of a box, its pen inside the box's edges.
  void frame(double x0, double y0, double x1, double y1, double t) {
    box(x0, y0, x1, y0 + t);
    box(x0, y1 - t, x1, y1);
    box(x0, y0 + t, x0 + t, y1 - t);
    box(x1 - t, y0 + t, x1, y1 - t);
  }

  // An arc of radius r from angle a0 to a1 (radians, counter-clockwise on the page), as annular-sector
  // quads that share their edges, so the chain has no gaps.
  void arc(double cx, double cy, double r, double t, double a0, double a1) {
    const double ro = r + t / 2, ri = std::max(0.0, r - t / 2);
    const double step = 2 * std::acos(std::max(0.0, 1 - 0.25 / std::max(ro, 1.0)));
    const int n = std::clamp(static_cast<int>(std::ceil(std::abs(a1 - a0) / std::max(step, 1e-3))), 2, 512);
    for (int i = 0; i < n; ++i) {
      const double b0 = a0 + (a1 - a0) * i / n, b1 = a0 + (a1 - a0) * (i + 1) / n;
      const Point q[4] = {{cx + ri * std::cos(b0), cy - ri * std::sin(b0)},
                          {cx + ro * std::cos(b0), cy - ro * std::sin(b0)},
                          {cx + ro * std::cos(b1), cy - ro * std::sin(b1)},
                          {cx + ri * std::cos(b1), cy - ri * std::sin(b1)}};
      polygon(q, 4);
    }
  }

  // Parallel strokes at `angle` (radians) and `spacing` apart, clipped to the box.
  void hatch(double x0, double y0, double x1, double y1, double angle, double spacing, double t) {
    const double dx = std::cos(angle), dy = -std::sin(angle);  // along the strokes
    const double nx = -dy, ny = dx;                             // across them
    const double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
    const double half = std::hypot(x1 - x0, y1 - y0) / 2;
    for (double off = -half + spacing / 2; off < half; off += spacing) {
      const double px = cx + nx * off, py = cy + ny * off;
      Point q[4];
      strokeQuad(px - dx * half, py - dy * half, px + dx * half, py + dy * half, t, q);
      Point clipped[8];
      const int n = clipToBox(q, 4, x0, y0, x1, y1, clipped);
      polygon(clipped, n);
    }
  }

  // A row of text-like glyphs: each glyph a few strokes between the nodes of a 3 x 5 lattice.
  // Returns the x after the last glyph.
  double text(double x, double y, int glyphs, double charHeight, Rng& rng) {
    const double w = charHeight * 0.7, t = std::max(1.0, std::round(charHeight / 10));
    const double advance = w + charHeight * 0.3;
    for (int g = 0; g < glyphs; ++g, x += advance) {
      if (rng.chance(0.16)) continue;  // a space between words
      glyph(x, y, w, charHeight, t, rng);
    }
    return x;
  }

  // Speckle noise: isolated dots of one to three pixels.
  void speckle(int64_t count, Rng& rng) {
    for (int64_t i = 0; i < count; ++i) {
      const double x = rng.uniform(0, width_), y = rng.uniform(0, height_);
      const int size = 1 + rng.below(3);
      if (rng.chance(0.8))
        box(std::floor(x), std::floor(y), std::floor(x) + size, std::floor(y) + size, false);
      else
        disc(x, y, size + 0.5);
    }
  }

  std::vector<Shape>& shapes() { return shapes_; }
  bool scanned() const { return scan_; }
  const std::vector<Point>& points() const { return points_; }

 private:
  static void strokeQuad(double x0, double y0, double x1, double y1, double t, Point q[4]) {
    const double length = std::max(std::hypot(x1 - x0, y1 - y0), 1e-9);
    const double ux = (x1 - x0) / length * t / 2, uy = (y1 - y0) / length * t / 2;
    q[0] = {x0 - ux - uy, y0 - uy + ux};
    q[1] = {x1 + ux - uy, y1 + uy + ux};
    q[2] = {x1 + ux + uy, y1 + uy - ux};
    q[3] = {x0 - ux + uy, y0 - uy - ux};
  }

  // Sutherland-Hodgman against the four sides of a box; a convex input stays convex (at most n + 4
  // vertices).
  static int clipToBox(const Point* in, int n, double x0, double y0, double x1, double y1, Point* out) {
    Point a[8], b[8];
    std::copy(in, in + n, a);
    for (int side = 0; side < 4 && n > 0; ++side) {
      auto inside = [&](const Point& p) {
        switch (side) {
          case 0: return p.x >= x0;
          case 1: return p.x <= x1;
          case 2: return p.y >= y0;
          default: return p.y <= y1;
        }
      };
      auto cross = [&](const Point& p, const Point& q) {
        const double edge = side == 0 ? x0 : side == 1 ? x1 : side == 2 ? y0 : y1;
        if (side < 2) {
          const double f = (edge - p.x) / (q.x - p.x);
          return Point{edge, p.y + f * (q.y - p.y)};
        }
        const double f = (edge - p.y) / (q.y - p.y);
        return Point{p.x + f * (q.x - p.x), edge};
      };
      int m = 0;
      for (int i = 0; i < n; ++i) {
        const Point& p = a[i];
        const Point& q = a[(i + 1) % n];
        const bool pin = inside(p), qin = inside(q);
        if (pin && m < 8) b[m++] = p;
        if (pin != qin && m < 8) b[m++] = cross(p, q);
      }
      n = m;
      std::copy(b, b + n, a);
    }
    std::copy(a, a + n, out);
    return n;
  }

  void glyph(double x, double y, double w, double h, double t, Rng& rng) {
    struct Stroke {
      uint8_t x0, y0, x1, y1;
    };
    static constexpr Stroke kStrokes[] = {
        {0, 0, 2, 0}, {0, 2, 2, 2}, {0, 4, 2, 4}, {0, 0, 0, 2}, {0, 2, 0, 4}, {2, 0, 2, 2},
        {2, 2, 2, 4}, {1, 0, 1, 4}, {0, 0, 2, 4}, {2, 0, 0, 4}, {0, 4, 1, 0}, {1, 0, 2, 4},
        {0, 2, 2, 0}, {0, 4, 2, 2}, {0, 0, 1, 2}, {1, 2, 2, 4},
    };
    constexpr int kCount = sizeof kStrokes / sizeof kStrokes[0];
    const double sx = (w - t) / 2, sy = (h - t) / 4, ox = x + t / 2, oy = y + t / 2;
    const int strokes = 2 + rng.below(4);
    uint32_t used = 0;
    for (int i = 0; i < strokes; ++i) {
      const int k = rng.below(kCount);
      if (used & (1u << k)) continue;
      used |= 1u << k;
      const Stroke& s = kStrokes[k];
      line(ox + s.x0 * sx, oy + s.y0 * sy, ox + s.x1 * sx, oy + s.y1 * sy, t);
    }
  }

  static constexpr int kMaxVertices = 16;  // clipped hatch strokes have at most 8

  Point turn(const Point& p) const {
    const double cx = width_ / 2.0, cy = height_ / 2.0, x = p.x - cx, y = p.y - cy;
    return {cx + x * skewCos_ - y * skewSin_, cy + x * skewSin_ + y * skewCos_};
  }

  int32_t width_, height_;
  double dpi_;
  std::vector<Shape> shapes_;
  std::vector<Point> points_;
  bool scan_ = false;
  double skewCos_ = 1, skewSin_ = 0;
  Rng scanRng_{0};
};

// ---- The drawing's content ----

struct Rect {
  double x0, y0, x1, y1;
  double w() const { return x1 - x0; }
  double h() const { return y1 - y0; }
};

// A block of text lines of varying length inside r.
void textBlock(Drawing& d, const Rect& r, double charHeight, Rng& rng) {
  // At most about 100 glyphs a line and 60 lines a block, however large the block.
  charHeight = std::max({charHeight, r.w() / 100, r.h() / (60 * 1.7)});
  const double advance = charHeight;  // 0.7 h glyph + 0.3 h gap
  const int perLine = static_cast<int>(r.w() / advance);
  if (perLine < 1 || charHeight < 3) return;
  for (double y = r.y0; y + charHeight <= r.y1; y += charHeight * 1.7) {
    const int glyphs = rng.chance(0.2) ? 1 + rng.below(perLine) : perLine - rng.below(perLine / 4 + 1);
    d.text(r.x0, y, glyphs, charHeight, rng);
  }
}

// A machined part: rounded outline, holes with centre lines.
void partView(Drawing& d, const Rect& c, Rng& rng) {
  const double w = c.w() * rng.uniform(0.55, 0.95), h = c.h() * rng.uniform(0.45, 0.9);
  const double x0 = c.x0 + (c.w() - w) / 2, y0 = c.y0 + (c.h() - h) / 2, x1 = x0 + w, y1 = y0 + h;
  const double thick = d.pen(0.7), thin = d.pen(0.25), mid = d.pen(0.5);
  const double r = std::min(w, h) * rng.uniform(0.05, 0.2);
  d.line(x0 + r, y0, x1 - r, y0, thick);
  d.line(x0 + r, y1, x1 - r, y1, thick);
  d.line(x0, y0 + r, x0, y1 - r, thick);
  d.line(x1, y0 + r, x1, y1 - r, thick);
  d.arc(x1 - r, y0 + r, r, thick, 0, kPi / 2);
  d.arc(x0 + r, y0 + r, r, thick, kPi / 2, kPi);
  d.arc(x0 + r, y1 - r, r, thick, kPi, 1.5 * kPi);
  d.arc(x1 - r, y1 - r, r, thick, 1.5 * kPi, 2 * kPi);
  const int holes = 1 + rng.below(6);
  for (int i = 0; i < holes; ++i) {
    const double hr = std::min(w, h) * rng.uniform(0.03, 0.12);
    const double hx = rng.uniform(x0 + r + 2 * hr, std::max(x0 + r + 2 * hr, x1 - r - 2 * hr));
    const double hy = rng.uniform(y0 + r + 2 * hr, std::max(y0 + r + 2 * hr, y1 - r - 2 * hr));
    d.ring(hx, hy, hr, mid);
    d.centreLine(hx - hr * 1.4, hy, hx + hr * 1.4, hy, thin);
    d.centreLine(hx, hy - hr * 1.4, hx, hy + hr * 1.4, thin);
  }
  if (rng.chance(0.5)) d.line(x0 + w * 0.1, y1 - h * 0.1, x0 + w * 0.4, y0 + h * 0.6, mid);  // a chamfer
}

// A section: outlined boxes with hatching at two angles.
void sectionView(Drawing& d, const Rect& c, Rng& rng) {
  const double w = c.w() * rng.uniform(0.5, 0.9), h = c.h() * rng.uniform(0.4, 0.85);
  const Rect outer{c.x0 + (c.w() - w) / 2, c.y0 + (c.h() - h) / 2, c.x0 + (c.w() + w) / 2,
                   c.y0 + (c.h() + h) / 2};
  const double t = d.pen(0.5);
  d.frame(outer.x0, outer.y0, outer.x1, outer.y1, t);
  d.hatch(outer.x0 + t, outer.y0 + t, outer.x1 - t, outer.y1 - t, kPi / 4, d.mm(rng.uniform(2, 4)),
          d.pen(0.25));
  if (rng.chance(0.6)) {
    const Rect inner{outer.x0 + w * 0.55, outer.y0 + h * 0.2, outer.x1 - w * 0.1, outer.y1 - h * 0.3};
    d.frame(inner.x0, inner.y0, inner.x1, inner.y1, t);
    d.hatch(inner.x0, inner.y0, inner.x1, inner.y1, 3 * kPi / 4, d.mm(1.5), d.pen(0.25));
  }
}

// A flange: concentric circles, a bolt circle, radial lines and arcs.
void flangeView(Drawing& d, const Rect& c, Rng& rng) {
  const double cx = (c.x0 + c.x1) / 2, cy = (c.y0 + c.y1) / 2;
  const double r = std::min(c.w(), c.h()) * rng.uniform(0.3, 0.45);
  const double pens[] = {d.pen(0.35), d.pen(0.5), d.pen(0.7), d.pen(1.0)};
  const int rings = 2 + rng.below(3);
  for (int i = 0; i < rings; ++i) d.ring(cx, cy, r * (1.0 - 0.28 * i), pens[rng.below(4)]);
  const int bolts = 4 + rng.below(9);
  const double pitch = r * 0.86, boltR = r * rng.uniform(0.03, 0.06);
  for (int i = 0; i < bolts; ++i) {
    const double a = 2 * kPi * i / bolts;
    d.ring(cx + pitch * std::cos(a), cy - pitch * std::sin(a), boltR, pens[0]);
  }
  const int rays = 2 + rng.below(4);
  for (int i = 0; i < rays; ++i) {
    const double a = rng.uniform(0, kPi);
    d.centreLine(cx - r * 1.1 * std::cos(a), cy + r * 1.1 * std::sin(a), cx + r * 1.1 * std::cos(a),
                 cy - r * 1.1 * std::sin(a), d.pen(0.25));
  }
  const int arcs = 1 + rng.below(3);
  for (int i = 0; i < arcs; ++i) {
    const double a0 = rng.uniform(0, 2 * kPi);
    d.arc(cx, cy, r * rng.uniform(1.02, 1.1), pens[1], a0, a0 + rng.uniform(0.3, 2.5));
  }
  d.disc(cx, cy, std::max(2.0, r * 0.03));
}

// A dimension: a thin line with an arrowhead at each end and a value above it.
void dimension(Drawing& d, double x0, double y0, double x1, double y1, Rng& rng) {
  const double length = std::hypot(x1 - x0, y1 - y0);
  if (length < d.mm(10)) return;
  const double ux = (x1 - x0) / length, uy = (y1 - y0) / length;
  const double head = d.mm(3), half = head / 3;
  d.line(x0, y0, x1, y1, d.pen(0.25));
  const Point a[3] = {{x0, y0}, {x0 + ux * head - uy * half, y0 + uy * head + ux * half},
                      {x0 + ux * head + uy * half, y0 + uy * head - ux * half}};
  const Point b[3] = {{x1, y1}, {x1 - ux * head + uy * half, y1 - uy * head - ux * half},
                      {x1 - ux * head - uy * half, y1 - uy * head + ux * half}};
  d.polygon(a, 3);
  d.polygon(b, 3);
  const double ch = d.mm(3.5);
  if (uy == 0) d.text((x0 + x1) / 2 - 2 * ch, y0 - ch * 1.5, 3 + rng.below(2), ch, rng);
}

// A schematic: lines of several widths and angles, a polyline, dimensions.
void schematicView(Drawing& d, const Rect& c, Rng& rng) {
  const double pens[] = {d.pen(0.25), d.pen(0.35), d.pen(0.5), d.pen(0.7), d.pen(1.0), d.pen(2.0)};
  const int lines = 4 + rng.below(8);
  for (int i = 0; i < lines; ++i) {
    const double t = pens[rng.below(6)];
    switch (rng.below(3)) {
      case 0: {
        const double y = rng.uniform(c.y0, c.y1);
        d.line(rng.uniform(c.x0, c.x0 + c.w() / 2), y, rng.uniform(c.x0 + c.w() / 2, c.x1), y, t);
        break;
      }
      case 1: {
        const double x = rng.uniform(c.x0, c.x1);
        d.line(x, rng.uniform(c.y0, c.y0 + c.h() / 2), x, rng.uniform(c.y0 + c.h() / 2, c.y1), t);
        break;
      }
      default:
        d.line(rng.uniform(c.x0, c.x1), rng.uniform(c.y0, c.y1), rng.uniform(c.x0, c.x1),
               rng.uniform(c.y0, c.y1), t);
    }
  }
  double x = rng.uniform(c.x0, c.x0 + c.w() / 3), y = rng.uniform(c.y0, c.y1);
  const double t = pens[2 + rng.below(3)];
  for (int i = 0; i < 6; ++i) {
    const double nx = std::clamp(x + rng.uniform(-0.3, 0.5) * c.w(), c.x0, c.x1);
    const double ny = std::clamp(y + rng.uniform(-0.4, 0.4) * c.h(), c.y0, c.y1);
    d.line(x, y, nx, ny, t);
    d.disc(nx, ny, t * 1.2);  // a round joint
    x = nx, y = ny;
  }
  const double dy = c.y0 + c.h() * rng.uniform(0.8, 0.95);
  dimension(d, c.x0 + c.w() * 0.1, dy, c.x1 - c.w() * 0.1, dy, rng);
  dimension(d, c.x0 + c.w() * 0.05, c.y0 + c.h() * 0.1, c.x0 + c.w() * 0.05, c.y0 + c.h() * 0.7, rng);
}

// Border with zone ticks, title block, notes, the views and noise.
void compose(Drawing& d, uint64_t seed, bool scan) {
  const double W = d.width(), H = d.height();
  if (scan) {
    Rng skew(seed ^ 0x5CA11ED5CA11ED5Cull);
    const double degrees = skew.uniform(0.3, 0.8) * (skew.chance(0.5) ? 1 : -1);
    d.scanLook(degrees, skew.next());
  }
  const double edge = std::min(d.mm(10), 0.04 * std::min(W, H));
  const double left = std::min(d.mm(20), 0.08 * W);
  const Rect inner{left, edge, W - edge, H - edge};
  const double thick = d.pen(0.7), thin = d.pen(0.35);

  // Trim line, drawing frame, zone ticks and centring marks.
  d.frame(edge / 3, edge / 3, W - edge / 3, H - edge / 3, thin);
  d.frame(inner.x0, inner.y0, inner.x1, inner.y1, thick);
  const double zone = std::max(d.mm(50), std::max(W, H) / 100);
  for (double x = inner.x0 + zone; x < inner.x1 - zone / 2; x += zone) {
    d.line(x, edge / 3, x, inner.y0, thin);
    d.line(x, inner.y1, x, H - edge / 3, thin);
  }
  for (double y = inner.y0 + zone; y < inner.y1 - zone / 2; y += zone) {
    d.line(edge / 3, y, inner.x0, y, thin);
    d.line(inner.x1, y, W - edge / 3, y, thin);
  }
  d.line(W / 2, 0, W / 2, inner.y0 + edge / 2, thick);
  d.line(W / 2, inner.y1 - edge / 2, W / 2, H, thick);
  d.line(0, H / 2, inner.x0 + edge / 2, H / 2, thick);
  d.line(inner.x1 - edge / 2, H / 2, W, H / 2, thick);

  Rng rng(seed);

  // Title block in the lower right corner: four rows, the lower three split into fields.
  const double tbW = std::min(d.mm(180), 0.6 * inner.w()), tbH = std::min(d.mm(56), 0.3 * inner.h());
  const Rect tb{inner.x1 - tbW, inner.y1 - tbH, inner.x1, inner.y1};
  d.frame(tb.x0, tb.y0, tb.x1, tb.y1, thick);
  const double rowH = tbH / 4;
  // Field lines run from the frame's inner edge to the next line, caps included.
  const double in = thick + thin / 2;
  for (int i = 1; i < 4; ++i) d.line(tb.x0 + in, tb.y0 + i * rowH, tb.x1 - in, tb.y0 + i * rowH, thin);
  d.line(tb.x0 + tbW * 0.5, tb.y0 + in, tb.x0 + tbW * 0.5, tb.y0 + rowH, thin);
  const double splits[] = {0.3, 0.55, 0.8};
  for (double f : splits) d.line(tb.x0 + tbW * f, tb.y0 + rowH, tb.x0 + tbW * f, tb.y1 - in, thin);
  {
    const double big = std::min(rowH * 0.55, d.mm(7)), small = std::min(rowH * 0.4, d.mm(3.5));
    const double pad = rowH * 0.25;
    d.text(tb.x0 + pad, tb.y0 + (rowH - big) / 2, static_cast<int>((tbW * 0.5 - 2 * pad) / big), big, rng);
    d.text(tb.x0 + tbW * 0.5 + pad, tb.y0 + (rowH - big) / 2, static_cast<int>((tbW * 0.5 - 2 * pad) / big),
           big, rng);
    const double cols[] = {0, 0.3, 0.55, 0.8, 1.0};
    for (int row = 1; row < 4; ++row)
      for (int col = 0; col < 4; ++col) {
        const double fieldW = tbW * (cols[col + 1] - cols[col]) - 2 * pad;
        d.text(tb.x0 + tbW * cols[col] + pad, tb.y0 + row * rowH + (rowH - small) / 2,
               static_cast<int>(fieldW / small), small, rng);
      }
  }

  // Notes to the left of the title block.
  const double gap = d.mm(6);
  if (tb.x0 - inner.x0 > d.mm(60))
    textBlock(d, {inner.x0 + gap, tb.y0 + gap, std::min(tb.x0 - gap, inner.x0 + d.mm(250)), tb.y1 - gap},
              d.mm(3.5), rng);

  // The views, one per cell of a grid of about 160 mm.
  const Rect area{inner.x0 + gap, inner.y0 + gap, inner.x1 - gap, tb.y0 - gap};
  if (area.w() > 0 && area.h() > 0) {
    // Up to 16 x 16 cells: a larger page gets larger views rather than more of them.
    const int cols = std::clamp(static_cast<int>(std::lround(area.w() / d.mm(160))), 1, 16);
    const int rows = std::clamp(static_cast<int>(std::lround(area.h() / d.mm(160))), 1, 16);
    const double cw = area.w() / cols, chgt = area.h() / rows;
    for (int row = 0; row < rows; ++row)
      for (int col = 0; col < cols; ++col) {
        // Each cell its own generator, so one view never shifts the randomness of the others.
        Rng cellRng(seed ^ (0xD1B54A32D192ED03ull * static_cast<uint64_t>(row * cols + col + 1)));
        const Rect c{area.x0 + col * cw + cw * 0.06, area.y0 + row * chgt + chgt * 0.06,
                     area.x0 + (col + 1) * cw - cw * 0.06, area.y0 + (row + 1) * chgt - chgt * 0.06};
        switch (cellRng.below(5)) {
          case 0: partView(d, c, cellRng); break;
          case 1: sectionView(d, c, cellRng); break;
          case 2: flangeView(d, c, cellRng); break;
          case 3: textBlock(d, c, d.mm(2.5 + 1.25 * cellRng.below(3)), cellRng); break;
          default: schematicView(d, c, cellRng); break;
        }
      }
  }

  d.speckle(static_cast<int64_t>(W * H / 40000), rng);
  if (scan) {
    Rng dust(seed ^ 0xD057D057D057D057ull);
    d.specks(static_cast<int64_t>(W * H / 30000), dust);
  }
}

// ---- Scanline rendering ----

class Renderer {
 public:
  // `noiseSeed` drives the ragged run ends and pinholes of a scanned page.
  Renderer(Drawing& d, uint64_t noiseSeed) : d_(d), width_(d.width()), noise_(noiseSeed) {
    std::vector<Shape>& s = d.shapes();
    std::sort(s.begin(), s.end(), [](const Shape& a, const Shape& b) { return a.top < b.top; });
    line_.assign(static_cast<size_t>(slineValues(width_) + 2), 0);
  }

  // The run list of row y (rows must come in increasing order); it stays valid until the next call.
  const int32_t* row(int32_t y) {
    const std::vector<Shape>& shapes = d_.shapes();
    while (next_ < shapes.size() && shapes[next_].top <= y) active_.push_back(static_cast<uint32_t>(next_++));
    spans_.clear();
    size_t kept = 0;
    for (uint32_t index : active_) {
      const Shape& s = shapes[index];
      if (s.bottom <= y) continue;
      active_[kept++] = index;
      emit(s, y + 0.5);
    }
    active_.resize(kept);
    std::sort(spans_.begin(), spans_.end(), [](const Span& a, const Span& b) { return a.start < b.start; });

    int32_t* runs = line_.data() + 2;  // behind the (0, 0) sentinel pair
    int32_t n = 0;
    for (const Span& sp : spans_) {
      const int32_t s = std::max(sp.start, 0), e = std::min(sp.end, width_);
      if (e <= s) continue;
      if (n > 0 && s <= runs[2 * n - 1]) {
        runs[2 * n - 1] = std::max(runs[2 * n - 1], e);
      } else {
        runs[2 * n] = s, runs[2 * n + 1] = e;
        ++n;
      }
    }
    if (d_.scanned()) n = roughen(runs, n);
    runs[2 * n] = kSlineEnd, runs[2 * n + 1] = kSlineEnd;
    return runs;
  }

 private:
  // Pixels whose centre lies in [left, right].
  void addSpan(double left, double right) {
    if (right < left) return;
    left = std::max(left, -2.0);
    right = std::min(right, width_ + 2.0);
    const int32_t s = static_cast<int32_t>(std::ceil(left - 0.5));
    const int32_t e = static_cast<int32_t>(std::floor(right - 0.5)) + 1;
    if (e > s) spans_.push_back({s, e});
  }

  void emit(const Shape& s, double yc) {
    switch (s.kind) {
      case Kind::kBox:
        spans_.push_back({s.x0, s.x1});
        break;
      case Kind::kRing: {
        const double dy = yc - s.cy, dy2 = dy * dy;
        if (dy2 >= s.ro * s.ro) return;
        const double outer = std::sqrt(s.ro * s.ro - dy2);
        if (dy2 >= s.ri * s.ri) return addSpan(s.cx - outer, s.cx + outer);
        const double inner = std::sqrt(s.ri * s.ri - dy2);
        addSpan(s.cx - outer, s.cx - inner);
        addSpan(s.cx + inner, s.cx + outer);
        break;
      }
      case Kind::kPolygon: {
        const Point* p = d_.points().data() + s.first;
        double left = 1e300, right = -1e300;
        int hits = 0;
        for (uint32_t i = 0; i < s.count; ++i) {
          const Point& a = p[i];
          const Point& b = p[(i + 1) % s.count];
          if (a.y == b.y) continue;
          const double lo = std::min(a.y, b.y), hi = std::max(a.y, b.y);
          if (yc < lo || yc >= hi) continue;
          const double x = a.x + (yc - a.y) * (b.x - a.x) / (b.y - a.y);
          left = std::min(left, x), right = std::max(right, x);
          ++hits;
        }
        if (hits >= 2) addSpan(left, right);
        break;
      }
    }
  }

  // Ragged edges: each run end moves by a pixel either way in about half the rows; now and then a pinhole
  // of one or two pixels opens in a long run. Runs that come to touch merge. Returns the new run count;
  // the list may grow by the pinholes, which the row's room allows (at most one per three pixels).
  int32_t roughen(int32_t* runs, int32_t n) {
    int32_t out = 0, prevEnd = -1;
    const int32_t limit = static_cast<int32_t>(line_.size() - 4) / 2;
    auto put = [&](int32_t s, int32_t e) {
      s = std::max(s, 0), e = std::min(e, width_);
      if (e <= s) return;
      if (out > 0 && s <= prevEnd) {
        prevEnd = std::max(prevEnd, e);
        runs[2 * out - 1] = prevEnd;
      } else if (out < limit) {
        runs[2 * out] = s, runs[2 * out + 1] = e;
        prevEnd = e;
        ++out;
      }
    };
    // The runs are read from a copy: a pinhole writes two where one was read.
    std::vector<int32_t>& held = held_;
    held.assign(runs, runs + 2 * n);
    for (int32_t i = 0; i < n; ++i) {
      const uint64_t r = noise_.next();
      const int32_t s0 = held[2 * i], e0 = held[2 * i + 1];
      const int32_t s = s0 + kShift[r & 3], e = std::max(e0 + kShift[(r >> 2) & 3], s + 1);
      if (e - s >= 12 && (r >> 4) % 64 == 0) {
        const int32_t at = s + 3 + static_cast<int32_t>((r >> 10) % static_cast<uint64_t>(e - s - 8));
        put(s, at);
        put(at + 1 + static_cast<int32_t>((r >> 40) & 1), e);
      } else {
        put(s, e);
      }
    }
    return out;
  }

  static constexpr int32_t kShift[4] = {-1, 0, 0, 1};

  Drawing& d_;
  int32_t width_;
  Rng noise_;
  std::vector<int32_t> held_;
  size_t next_ = 0;
  std::vector<uint32_t> active_;
  std::vector<Span> spans_;
  std::vector<int32_t> line_;
};

// ---- Output ----

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

void packRow(const int32_t* runs, uint8_t* row, size_t bytes) {
  std::memset(row, 0, bytes);
  for (; runs[0] != kSlineEnd; runs += 2) {
    const int32_t s = runs[0], last = runs[1] - 1;
    const int32_t first = s >> 3, end = last >> 3;
    const uint8_t head = static_cast<uint8_t>(0xFFu >> (s & 7));
    const uint8_t tail = static_cast<uint8_t>(0xFF00u >> ((last & 7) + 1));
    if (first == end) {
      row[first] |= head & tail;
    } else {
      row[first] |= head;
      std::memset(row + first + 1, 0xFF, static_cast<size_t>(end - first - 1));
      row[end] |= tail;
    }
  }
}

bool writePbm(Renderer& r, int32_t width, int32_t height, const char* path) {
  FilePtr f(std::fopen(path, "wb"));
  if (!f) {
    std::fprintf(stderr, "drawgen: cannot create %s: %s\n", path, std::strerror(errno));
    return false;
  }
  const size_t bytes = (static_cast<size_t>(width) + 7) / 8;
  std::vector<uint8_t> row(bytes);
  bool ok = std::fprintf(f.get(), "P4\n%d %d\n", width, height) > 0;
  for (int32_t y = 0; ok && y < height; ++y) {
    packRow(r.row(y), row.data(), bytes);
    ok = std::fwrite(row.data(), 1, bytes, f.get()) == bytes;
  }
  ok = std::fclose(f.release()) == 0 && ok;
  if (!ok) std::fprintf(stderr, "drawgen: cannot write %s\n", path);
  return ok;
}

bool writeFormat(Renderer& r, int32_t width, int32_t height, double dpi, RasterFormatId format,
                 const char* path) {
  FilePtr f(std::fopen(path, "wb"));
  if (!f) {
    std::fprintf(stderr, "drawgen: cannot create %s: %s\n", path, std::strerror(errno));
    return false;
  }
  RioStatus status = 0;
  bool streamOk = false;
  {
    // drawgen keeps to its own bounds (checked above), which reach past the library's default page budget.
    RioSettings settings;
    settings.maxPageSide = std::to_string(1 << 24);
    StreamPtr stream(streamOpen(f.get(), "w", &settings));
    if (!stream) {
      std::fprintf(stderr, "drawgen: out of memory\n");
      return false;
    }
    {
      RcbPtr rcb(rioOpenRasterWrite(stream.get(), width, height, format, &status));
      if (rcb) {
        (void)rioSetXDpi(rcb.get(), dpi);
        (void)rioSetYDpi(rcb.get(), dpi);
        const int32_t outWidth = rioGetWidth(rcb.get());
        for (int32_t y = 0; status == 0 && y < height; ++y) {
          rioCopySlineClipped(r.row(y), rioGetCurSline(rcb.get()), outWidth);
          status = rioWriteRasterSline(rcb.get());
          rioSwapSlines(rcb.get());
        }
        if (status == 0) status = rioGetStatus(rcb.get());
        // Closing lets the writer finish its coder and trailer.
        const RioStatus closed = rioCloseRaster(rcb.release());
        if (status == 0) status = closed;
      }
    }
    streamOk = streamClose(stream.release()) == 1;
  }
  const bool closed = std::fclose(f.release()) == 0;
  if (status != 0) {
    std::fprintf(stderr, "drawgen: %s: %s\n", path, rioStatusText(status));
  } else if (!streamOk || !closed) {
    std::fprintf(stderr, "drawgen: cannot write %s\n", path);
  }
  return status == 0 && streamOk && closed;
}

void usage() {
  std::fprintf(stderr,
               "usage: drawgen [-w width] [-h height] [-dpi resolution] [-p a0|a1|a2|a3|a4] [-landscape]\n"
               "               [-seed n] [-scan] [-f pbm|format name|format id] outfile\n"
               "  default: A0 portrait at 400 dpi (13244 x 18724 pixels), seed 1, raw PBM\n"
               "  -scan: a scanned look: a skew of 0.3 to 0.8 degrees, ragged edges, pinholes, clusters of\n"
               "         specks and broken strokes, all drawn from the seed\n");
}

bool parseInt(const char* text, long lo, long hi, long* out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno || end == text || *end || v < lo || v > hi) return false;
  *out = v;
  return true;
}

struct Paper {
  const char* name;
  double widthMm, heightMm;
};
constexpr Paper kPapers[] = {{"a0", 841, 1189}, {"a1", 594, 841}, {"a2", 420, 594}, {"a3", 297, 420},
                             {"a4", 210, 297}};

int run(int argc, char** argv) {
  long width = 0, height = 0;
  double dpi = 400;
  uint64_t seed = 1;
  const Paper* paper = &kPapers[0];
  bool landscape = false, scan = false;
  std::string format = "pbm";
  const char* out = nullptr;

  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-landscape") {
      landscape = true;
      continue;
    }
    if (a == "-scan") {
      scan = true;
      continue;
    }
    if (a.size() > 1 && a[0] == '-') {
      if (i + 1 >= argc) return usage(), 2;
      const char* v = argv[++i];
      if (a == "-w") {
        if (!parseInt(v, 1, kMaxLineWidth, &width)) return usage(), 2;
      } else if (a == "-h") {
        if (!parseInt(v, 1, 1 << 24, &height)) return usage(), 2;
      } else if (a == "-dpi") {
        char* end = nullptr;
        dpi = std::strtod(v, &end);
        if (end == v || *end || !(dpi >= 10 && dpi <= 10000)) return usage(), 2;
      } else if (a == "-seed") {
        char* end = nullptr;
        errno = 0;
        seed = std::strtoull(v, &end, 0);
        if (errno || end == v || *end || *v == '-') return usage(), 2;
      } else if (a == "-p") {
        std::string name = v;
        for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        paper = nullptr;
        for (const Paper& p : kPapers)
          if (name == p.name) paper = &p;
        if (!paper) return usage(), 2;
      } else if (a == "-f") {
        format = v;
      } else {
        return usage(), 2;
      }
      continue;
    }
    if (out) return usage(), 2;
    out = argv[i];
  }
  if (!out) return usage(), 2;

  double paperW = paper->widthMm, paperH = paper->heightMm;
  if (landscape) std::swap(paperW, paperH);
  if (width == 0) width = std::lround(paperW * dpi / 25.4);
  if (height == 0) height = std::lround(paperH * dpi / 25.4);
  // The primitive count grows with the area (speckle, zone ticks): bound it to about 10 gigapixels.
  if (width < 1 || width > kMaxLineWidth || height < 1 || height > (1 << 24) ||
      static_cast<double>(width) * static_cast<double>(height) > 1e10) {
    std::fprintf(stderr, "drawgen: page of %ld x %ld pixels is out of range\n", width, height);
    return 2;
  }

  RasterFormatId formatId = 0;
  std::string lower = format;
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (lower != "pbm") {
    formatId = rioFormatFromName(format.c_str());
    if (formatId == 0 && !format.empty() && format.find_first_not_of("0123456789") == std::string::npos &&
        format.size() <= 2 && rioFormatInfo(std::stoi(format)).writes)
      formatId = std::stoi(format);
    if (formatId == 0) {
      std::fprintf(stderr, "drawgen: unknown format %s\n", format.c_str());
      return 2;
    }
  }

  Drawing drawing(static_cast<int32_t>(width), static_cast<int32_t>(height), dpi);
  compose(drawing, seed, scan);
  Renderer renderer(drawing, seed ^ 0x2A66ED2A66ED2A66ull);
  const bool ok = formatId == 0 ? writePbm(renderer, drawing.width(), drawing.height(), out)
                                : writeFormat(renderer, drawing.width(), drawing.height(), dpi, formatId, out);
  if (!ok) {
    // A partial file goes; a device or anything else that is not a plain file stays.
    std::error_code ignored;
    if (std::filesystem::is_regular_file(out, ignored)) std::filesystem::remove(out, ignored);
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace vantrel

int main(int argc, char** argv) { return vantrel::run(argc, argv); }
