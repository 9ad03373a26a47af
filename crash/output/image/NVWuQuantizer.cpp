#include "crash/output/image/NVWuQuantizer.h"

#include <vector>

namespace kx {

namespace {

constexpr int kSide = 33; // histogram cells per channel: index 0 is the zero border
constexpr int kCells = kSide * kSide * kSide;
constexpr int kMaxBoxes = 256;

constexpr int Cell(int r, int g, int b) { return (r * kSide + g) * kSide + b; }

enum Axis { axRed, axGreen, axBlue };

// A box of histogram cells: lower bounds exclusive, upper bounds inclusive.
struct Box {
  int r0 = 0, r1 = 0, g0 = 0, g1 = 0, b0 = 0, b1 = 0;
  int64_t volume = 0; // number of cells
};

using Table = std::vector<int64_t>;

// The five moment tables: pixel count, channel sums, sum of squared channels.
struct Moments {
  Table weight = Table(kCells), red = Table(kCells), green = Table(kCells), blue = Table(kCells),
        squares = Table(kCells);

  void Count(const NVPixelView &pixels) {
    for (int32_t y = 0; y < pixels.height; ++y) {
      const uint8_t *p = pixels.Row(y);
      for (int32_t x = 0; x < pixels.width; ++x, p += kNVBytesPerPixel) {
        const int b = p[0], g = p[1], r = p[2];
        const int cell = Cell((r >> 3) + 1, (g >> 3) + 1, (b >> 3) + 1);
        weight[size_t(cell)] += 1;
        red[size_t(cell)] += r;
        green[size_t(cell)] += g;
        blue[size_t(cell)] += b;
        squares[size_t(cell)] += r * r + g * g + b * b;
      }
    }
  }

  // Turns every table into sums over the box from the origin to each cell.
  void Accumulate() {
    for (Table *table : {&weight, &red, &green, &blue, &squares}) {
      Table &m = *table;
      for (int r = 1; r < kSide; ++r) {
        int64_t area[kSide] = {};
        for (int g = 1; g < kSide; ++g) {
          int64_t line = 0;
          for (int b = 1; b < kSide; ++b) {
            const int cell = Cell(r, g, b);
            line += m[size_t(cell)];
            area[b] += line;
            m[size_t(cell)] = m[size_t(Cell(r - 1, g, b))] + area[b];
          }
        }
      }
    }
  }
};

int64_t At(const Table &m, int r, int g, int b) { return m[size_t(Cell(r, g, b))]; }

// The sum of a table over a box.
int64_t Volume(const Box &c, const Table &m) {
  return At(m, c.r1, c.g1, c.b1) - At(m, c.r1, c.g1, c.b0) - At(m, c.r1, c.g0, c.b1) + At(m, c.r1, c.g0, c.b0) -
         At(m, c.r0, c.g1, c.b1) + At(m, c.r0, c.g1, c.b0) + At(m, c.r0, c.g0, c.b1) - At(m, c.r0, c.g0, c.b0);
}

// The part of Volume that does not depend on the box's upper bound along the axis.
int64_t Bottom(const Box &c, Axis axis, const Table &m) {
  switch (axis) {
  case axRed:
    return -At(m, c.r0, c.g1, c.b1) + At(m, c.r0, c.g1, c.b0) + At(m, c.r0, c.g0, c.b1) - At(m, c.r0, c.g0, c.b0);
  case axGreen:
    return -At(m, c.r1, c.g0, c.b1) + At(m, c.r1, c.g0, c.b0) + At(m, c.r0, c.g0, c.b1) - At(m, c.r0, c.g0, c.b0);
  case axBlue:
  default:
    return -At(m, c.r1, c.g1, c.b0) + At(m, c.r1, c.g0, c.b0) + At(m, c.r0, c.g1, c.b0) - At(m, c.r0, c.g0, c.b0);
  }
}

// The rest of Volume with the upper bound along the axis set to position.
int64_t Top(const Box &c, Axis axis, int position, const Table &m) {
  switch (axis) {
  case axRed:
    return At(m, position, c.g1, c.b1) - At(m, position, c.g1, c.b0) - At(m, position, c.g0, c.b1) +
           At(m, position, c.g0, c.b0);
  case axGreen:
    return At(m, c.r1, position, c.b1) - At(m, c.r1, position, c.b0) - At(m, c.r0, position, c.b1) +
           At(m, c.r0, position, c.b0);
  case axBlue:
  default:
    return At(m, c.r1, c.g1, position) - At(m, c.r1, c.g0, position) - At(m, c.r0, c.g1, position) +
           At(m, c.r0, c.g0, position);
  }
}

class WuCutter {
public:
  explicit WuCutter(const Moments &moments) : M(moments) {}

  // The weighted variance of a box (sum of squared distances to its mean).
  double Variance(const Box &c) const {
    const double dr = double(Volume(c, M.red)), dg = double(Volume(c, M.green)), db = double(Volume(c, M.blue));
    const double squares = double(Volume(c, M.squares));
    const double weight = double(Volume(c, M.weight));
    if (weight <= 0)
      return 0.0;
    return squares - (dr * dr + dg * dg + db * db) / weight;
  }

  // Cuts box into box (lower part) and upper; false when no cut leaves pixels on both sides.
  bool Cut(Box &box, Box &upper) const {
    const Sums whole{Volume(box, M.red), Volume(box, M.green), Volume(box, M.blue), Volume(box, M.weight)};
    int cutRed, cutGreen, cutBlue;
    const double maxRed = Maximize(box, axRed, box.r0 + 1, box.r1, cutRed, whole);
    const double maxGreen = Maximize(box, axGreen, box.g0 + 1, box.g1, cutGreen, whole);
    const double maxBlue = Maximize(box, axBlue, box.b0 + 1, box.b1, cutBlue, whole);

    Axis axis;
    if (maxRed >= maxGreen && maxRed >= maxBlue) {
      axis = axRed;
      if (cutRed < 0)
        return false;
    } else if (maxGreen >= maxRed && maxGreen >= maxBlue) {
      axis = axGreen;
    } else {
      axis = axBlue;
    }

    upper.r1 = box.r1;
    upper.g1 = box.g1;
    upper.b1 = box.b1;
    switch (axis) {
    case axRed:
      upper.r0 = box.r1 = cutRed;
      upper.g0 = box.g0;
      upper.b0 = box.b0;
      break;
    case axGreen:
      upper.g0 = box.g1 = cutGreen;
      upper.r0 = box.r0;
      upper.b0 = box.b0;
      break;
    case axBlue:
      upper.b0 = box.b1 = cutBlue;
      upper.r0 = box.r0;
      upper.g0 = box.g0;
      break;
    }
    box.volume = int64_t(box.r1 - box.r0) * (box.g1 - box.g0) * (box.b1 - box.b0);
    upper.volume = int64_t(upper.r1 - upper.r0) * (upper.g1 - upper.g0) * (upper.b1 - upper.b0);
    return true;
  }

private:
  struct Sums {
    int64_t red, green, blue, weight;
  };

  // The best cut position along one axis: the one that maximises the sum over both halves of
  // |channel sums|^2 / pixel count (the lowest position wins ties). cut is -1 when no position
  // leaves pixels on both sides.
  double Maximize(const Box &c, Axis axis, int first, int last, int &cut, const Sums &whole) const {
    const Sums base{Bottom(c, axis, M.red), Bottom(c, axis, M.green), Bottom(c, axis, M.blue),
                    Bottom(c, axis, M.weight)};
    double best = 0.0;
    cut = -1;
    for (int i = first; i < last; ++i) {
      Sums half{base.red + Top(c, axis, i, M.red), base.green + Top(c, axis, i, M.green),
                base.blue + Top(c, axis, i, M.blue), base.weight + Top(c, axis, i, M.weight)};
      if (half.weight == 0)
        continue;
      double score = Spread(half);
      half = {whole.red - half.red, whole.green - half.green, whole.blue - half.blue, whole.weight - half.weight};
      if (half.weight == 0)
        continue;
      score += Spread(half);
      if (score > best) {
        best = score;
        cut = i;
      }
    }
    return best;
  }

  static double Spread(const Sums &s) {
    const double r = double(s.red), g = double(s.green), b = double(s.blue);
    return (r * r + g * g + b * b) / double(s.weight);
  }

  const Moments &M;
};

} // namespace

NVWuResult QuantizeWu(const NVPixelView &pixels) {
  Moments moments;
  moments.Count(pixels);
  moments.Accumulate();
  WuCutter cutter(moments);

  std::vector<Box> boxes(kMaxBoxes);
  std::vector<double> variance(kMaxBoxes, 0.0);
  boxes[0] = {0, kSide - 1, 0, kSide - 1, 0, kSide - 1, int64_t(kSide - 1) * (kSide - 1) * (kSide - 1)};
  int count = kMaxBoxes;
  int next = 0;
  for (int i = 1; i < kMaxBoxes; ++i) {
    if (cutter.Cut(boxes[size_t(next)], boxes[size_t(i)])) {
      variance[size_t(next)] = boxes[size_t(next)].volume > 1 ? cutter.Variance(boxes[size_t(next)]) : 0.0;
      variance[size_t(i)] = boxes[size_t(i)].volume > 1 ? cutter.Variance(boxes[size_t(i)]) : 0.0;
    } else {
      variance[size_t(next)] = 0.0; // this box cannot be cut: try the next best one
      --i;
    }
    next = 0;
    double largest = variance[0];
    for (int k = 1; k <= i; ++k) {
      if (variance[size_t(k)] > largest) {
        largest = variance[size_t(k)];
        next = k;
      }
    }
    if (largest <= 0.0) {
      count = i + 1;
      break;
    }
  }

  NVWuResult result;
  for (int k = 0; k < count; ++k) {
    const Box &box = boxes[size_t(k)];
    result.boxes.push_back({box.r0, box.r1, box.g0, box.g1, box.b0, box.b1});
    const int64_t weight = Volume(box, moments.weight);
    NVColour &entry = result.palette.entries[size_t(k)];
    if (weight > 0) {
      entry.red = uint8_t(Volume(box, moments.red) / weight);
      entry.green = uint8_t(Volume(box, moments.green) / weight);
      entry.blue = uint8_t(Volume(box, moments.blue) / weight);
    }
  }
  for (size_t k = size_t(count); k < result.palette.entries.size(); ++k)
    result.palette.entries[k] = result.palette.entries[0];
  result.palette.count = 256;
  return result;
}

} // namespace kx
