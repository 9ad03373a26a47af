// kxicons <folder>: draws the crash reporter's bitmaps into <folder> as 32-bit BMP files with
// alpha (kxisend.bmp ... kxibig.bmp, kxiplwait.bmp, kxisend32.bmp). The pictures are made of a few
// filled shapes, each sampled 4 x 4 times per pixel for smooth edges.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Rgba {
  double r = 0, g = 0, b = 0, a = 0;
};

Rgba Hex(uint32_t rgb, double alpha = 1) {
  return {double(rgb >> 16 & 0xFF) / 255, double(rgb >> 8 & 0xFF) / 255, double(rgb & 0xFF) / 255, alpha};
}

// A point is inside a shape when the function says so; coordinates are in pixels of the picture.
using Shape = std::function<bool(double x, double y)>;

class Canvas {
public:
  explicit Canvas(int side) : FSide(side), FPixels(size_t(side) * size_t(side)) {}

  // Paints colour over the picture where the shape covers it (source-over compositing).
  void Fill(const Shape &shape, Rgba colour) {
    for (int y = 0; y < FSide; ++y)
      for (int x = 0; x < FSide; ++x) {
        int hits = 0;
        for (int sy = 0; sy < 4; ++sy)
          for (int sx = 0; sx < 4; ++sx)
            hits += shape(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4) ? 1 : 0;
        if (!hits)
          continue;
        const double a = colour.a * hits / 16.0;
        Rgba &d = FPixels[size_t(y) * size_t(FSide) + size_t(x)];
        const double outA = a + d.a * (1 - a);
        auto mix = [&](double s, double t) { return outA > 0 ? (s * a + t * d.a * (1 - a)) / outA : 0; };
        d = {mix(colour.r, d.r), mix(colour.g, d.g), mix(colour.b, d.b), outA};
      }
  }

  // BMP file: file header, 40-byte information header, bottom-up 32-bit pixels 0xAARRGGBB.
  bool Save(const std::string &path) const {
    std::vector<uint8_t> out;
    auto u16 = [&](uint32_t v) { out.push_back(uint8_t(v)); out.push_back(uint8_t(v >> 8)); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); };
    const uint32_t pixelBytes = uint32_t(FSide * FSide * 4);
    u16(0x4D42); u32(14 + 40 + pixelBytes); u32(0); u32(14 + 40);
    u32(40); u32(uint32_t(FSide)); u32(uint32_t(FSide)); u16(1); u16(32); u32(0); u32(pixelBytes);
    u32(2835); u32(2835); u32(0); u32(0);
    for (int y = FSide - 1; y >= 0; --y)
      for (int x = 0; x < FSide; ++x) {
        const Rgba &p = FPixels[size_t(y) * size_t(FSide) + size_t(x)];
        auto byte = [](double v) { return uint32_t(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
        u32(byte(p.a) << 24 | byte(p.r) << 16 | byte(p.g) << 8 | byte(p.b));
      }
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
      return false;
    const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok;
  }

  int Side() const { return FSide; }

private:
  int FSide;
  std::vector<Rgba> FPixels;
};

// --- shapes, in units of a 16 x 16 picture scaled by s ---

Shape Rect(double x0, double y0, double x1, double y1, double s) {
  return [=](double x, double y) { return x >= x0 * s && x < x1 * s && y >= y0 * s && y < y1 * s; };
}

Shape Circle(double cx, double cy, double r, double s) {
  return [=](double x, double y) { return std::hypot(x - cx * s, y - cy * s) <= r * s; };
}

Shape Ring(double cx, double cy, double r0, double r1, double s) {
  return [=](double x, double y) {
    const double d = std::hypot(x - cx * s, y - cy * s);
    return d >= r0 * s && d <= r1 * s;
  };
}

// A convex or concave polygon (even-odd rule).
Shape Polygon(std::vector<std::pair<double, double>> pts, double s) {
  for (auto &p : pts)
    p = {p.first * s, p.second * s};
  return [pts](double x, double y) {
    bool in = false;
    for (size_t i = 0, j = pts.size() - 1; i < pts.size(); j = i++) {
      const auto [xi, yi] = pts[i];
      const auto [xj, yj] = pts[j];
      if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi)
        in = !in;
    }
    return in;
  };
}

// A line of the given thickness with round ends.
Shape Line(double x0, double y0, double x1, double y1, double thick, double s) {
  return [=](double x, double y) {
    const double ax = x0 * s, ay = y0 * s, bx = x1 * s, by = y1 * s;
    const double dx = bx - ax, dy = by - ay;
    double t = ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy);
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(x - (ax + t * dx), y - (ay + t * dy)) <= thick * s / 2;
  };
}

Shape Minus(Shape a, Shape b) {
  return [=](double x, double y) { return a(x, y) && !b(x, y); };
}

// --- the pictures, drawn on a 16-unit grid ---

void Envelope(Canvas &c) {
  const double s = c.Side() / 16.0;
  c.Fill(Rect(1, 3.5, 15, 13, s), Hex(0x2D5C9E));
  c.Fill(Rect(1.8, 4.3, 14.2, 12.2, s), Hex(0xF4F7FC));
  c.Fill(Line(2, 4.6, 8, 9.2, 1.1, s), Hex(0x2D5C9E));
  c.Fill(Line(14, 4.6, 8, 9.2, 1.1, s), Hex(0x2D5C9E));
  c.Fill(Line(2, 12, 6.3, 8, 0.8, s), Hex(0x7A9CCB));
  c.Fill(Line(14, 12, 9.7, 8, 0.8, s), Hex(0x7A9CCB));
}

void Disk(Canvas &c) {
  const double s = c.Side() / 16.0;
  c.Fill(Polygon({{1.5, 1.5}, {12.5, 1.5}, {14.5, 3.5}, {14.5, 14.5}, {1.5, 14.5}}, s), Hex(0x24508C));
  c.Fill(Rect(4, 1.5, 11.5, 6.5, s), Hex(0xDCE3EC));
  c.Fill(Rect(9, 2.3, 10.6, 5.7, s), Hex(0x24508C));
  c.Fill(Rect(3.5, 8.5, 12.5, 14.5, s), Hex(0xFFFFFF));
  c.Fill(Rect(5, 10, 11, 10.8, s), Hex(0x9AA8B8));
  c.Fill(Rect(5, 12, 11, 12.8, s), Hex(0x9AA8B8));
}

void Printer(Canvas &c) {
  const double s = c.Side() / 16.0;
  c.Fill(Rect(4, 1.5, 12, 7, s), Hex(0xFFFFFF));
  c.Fill(Minus(Rect(4, 1.5, 12, 7, s), Rect(4.7, 2.2, 11.3, 7, s)), Hex(0x707070));
  c.Fill(Polygon({{1.5, 7}, {14.5, 7}, {14.5, 12.5}, {1.5, 12.5}}, s), Hex(0x5E6670));
  c.Fill(Rect(2.3, 7.8, 13.7, 9, s), Hex(0x8A939E));
  c.Fill(Circle(12.3, 10.5, 0.7, s), Hex(0x4FD04F));
  c.Fill(Rect(4, 10.5, 12, 15, s), Hex(0xFFFFFF));
  c.Fill(Minus(Rect(4, 10.5, 12, 15, s), Rect(4.7, 10.5, 11.3, 14.3, s)), Hex(0x707070));
  c.Fill(Rect(5.5, 12, 10.5, 12.7, s), Hex(0x9AA8B8));
}

void Report(Canvas &c) {
  const double s = c.Side() / 16.0;
  c.Fill(Polygon({{2, 1}, {9.5, 1}, {12, 3.5}, {12, 14.5}, {2, 14.5}}, s), Hex(0x6B7480));
  c.Fill(Polygon({{2.8, 1.8}, {9.2, 1.8}, {11.2, 3.8}, {11.2, 13.7}, {2.8, 13.7}}, s), Hex(0xFFFFFF));
  for (double y : {4.0, 6.0, 8.0})
    c.Fill(Rect(4, y, 9.5, y + 0.8, s), Hex(0x9AA8B8));
  c.Fill(Ring(10, 10, 2.2, 3.3, s), Hex(0x2D5C9E));
  c.Fill(Circle(10, 10, 2.2, s), Hex(0xBFD8F5, 0.8));
  c.Fill(Line(12.3, 12.3, 15, 15, 1.8, s), Hex(0x2D5C9E));
}

void Play(Canvas &c, uint32_t dark, uint32_t light) {
  const double s = c.Side() / 16.0;
  c.Fill(Circle(8, 8, 7, s), Hex(dark));
  c.Fill(Circle(8, 8, 6, s), Hex(light));
  c.Fill(Polygon({{6, 4.5}, {11.5, 8}, {6, 11.5}}, s), Hex(0xFFFFFF));
}

void Restart(Canvas &c) {
  const double s = c.Side() / 16.0;
  c.Fill(Minus(Ring(8, 8.5, 3.6, 6, s), Polygon({{8, 8.5}, {9, 0}, {16, 0}, {16, 6}}, s)), Hex(0x2F8A3A));
  c.Fill(Polygon({{9.3, 0.8}, {15, 3.2}, {10.6, 7.4}}, s), Hex(0x2F8A3A));
}

void CloseSign(Canvas &c) {
  const double s = c.Side() / 16.0;
  c.Fill(Circle(8, 8, 7, s), Hex(0xA8231D));
  c.Fill(Circle(8, 8, 6, s), Hex(0xDD3B2E));
  c.Fill(Line(5.2, 5.2, 10.8, 10.8, 2, s), Hex(0xFFFFFF));
  c.Fill(Line(10.8, 5.2, 5.2, 10.8, 2, s), Hex(0xFFFFFF));
}

void CantContinue(Canvas &c) {
  const double s = c.Side() / 16.0;
  c.Fill(Circle(8, 8, 7, s), Hex(0x8C8C8C, 0.7));
  c.Fill(Circle(8, 8, 6, s), Hex(0xC8C8C8, 0.7));
  c.Fill(Polygon({{6, 4.5}, {11.5, 8}, {6, 11.5}}, s), Hex(0xFFFFFF, 0.8));
  c.Fill(Line(3, 13, 13, 3, 1.6, s), Hex(0xA8231D, 0.85));
}

// The dialog's big icon: a red warning sign with an exclamation mark.
void Big(Canvas &c) {
  const double s = c.Side() / 16.0;
  std::vector<std::pair<double, double>> oct;
  for (int i = 0; i < 8; ++i) {
    const double a = (i + 0.5) * M_PI / 4;
    oct.push_back({8 + 7.6 * std::cos(a), 8 + 7.6 * std::sin(a)});
  }
  c.Fill(Polygon(oct, s), Hex(0x8E1A14));
  for (auto &p : oct)
    p = {8 + (p.first - 8) * 0.88, 8 + (p.second - 8) * 0.88};
  c.Fill(Polygon(oct, s), Hex(0xD9372B));
  c.Fill(Polygon({{7, 3.2}, {9, 3.2}, {8.6, 9.8}, {7.4, 9.8}}, s), Hex(0xFFFFFF));
  c.Fill(Circle(8, 12, 1.1, s), Hex(0xFFFFFF));
}

void Clock(Canvas &c) {
  const double s = c.Side() / 16.0;
  c.Fill(Circle(8, 8, 7.3, s), Hex(0x2D5C9E));
  c.Fill(Circle(8, 8, 6.3, s), Hex(0xFDFDFD));
  for (int i = 0; i < 12; ++i) {
    const double a = i * M_PI / 6;
    c.Fill(Line(8 + 5.2 * std::cos(a), 8 + 5.2 * std::sin(a), 8 + 5.8 * std::cos(a), 8 + 5.8 * std::sin(a), 0.6, s),
           Hex(0x404040));
  }
  c.Fill(Line(8, 8, 8, 3.6, 0.9, s), Hex(0x202020));
  c.Fill(Line(8, 8, 11.2, 9.8, 0.9, s), Hex(0x202020));
  c.Fill(Circle(8, 8, 0.8, s), Hex(0xC02020));
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kxicons <output folder>\n");
    return 2;
  }
  const std::string dir = argv[1];
  struct Picture {
    const char *name;
    int side;
    std::function<void(Canvas &)> draw;
  };
  const Picture pictures[] = {
      {"send", 16, Envelope},
      {"save", 16, Disk},
      {"print", 16, Printer},
      {"show", 16, Report},
      {"continue", 16, [](Canvas &c) { Play(c, 0x1F6E2A, 0x35A544); }},
      {"restart", 16, Restart},
      {"close", 16, CloseSign},
      {"cantcontinue", 16, CantContinue},
      {"big", 32, Big},
      {"plwait", 32, Clock},
      {"send32", 32, Envelope},
  };
  for (const Picture &p : pictures) {
    Canvas canvas(p.side);
    p.draw(canvas);
    const std::string path = dir + "/kxi" + p.name + ".bmp";
    if (!canvas.Save(path)) {
      std::fprintf(stderr, "kxicons: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
