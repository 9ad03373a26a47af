// Encoding a 1920 x 1080 screenshot-like picture (a desktop gradient, windows with flat client
// areas and gradient title bars, lines of text-like glyphs, icons, a taskbar) as a PNG: our
// encoder (the 256-colour image, and format 2 with its grey trial) against ImageMagick's 8-bit
// palette PNG of the same picture ("convert in.ppm -colors 256 PNG8:out.png", with and without
// its default dithering), timed in the same run. ImageMagick runs as a process; the same command
// on a 1 x 1 picture measures its fixed cost (process start and the quantiser's set-up, which
// alone takes about a second here). The last lines print time and size ratios, also with that
// fixed cost taken off ImageMagick's time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "bench/figure/BenchFigure.h"
#include "crash/output/image/NVPixels.h"
#include "crash/output/image/NVPngEncoding.h"

using namespace kx;

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;

struct Painter {
  NVPixelBuffer &picture;
  void Pixel(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b) {
    if (x < 0 || y < 0 || x >= picture.Width() || y >= picture.Height())
      return;
    uint8_t *p = picture.View().TopRow(y) + size_t(x) * 4;
    p[0] = b;
    p[1] = g;
    p[2] = r;
  }
  void Fill(int32_t left, int32_t top, int32_t width, int32_t height, uint8_t r, uint8_t g, uint8_t b) {
    for (int32_t y = top; y < top + height; ++y)
      for (int32_t x = left; x < left + width; ++x)
        Pixel(x, y, r, g, b);
  }
};

NVPixelBuffer ScreenLikePicture() {
  NVPixelBuffer picture(kWidth, kHeight);
  Painter paint{picture};
  std::mt19937 random(2024);
  for (int32_t y = 0; y < kHeight; ++y) // the desktop: a vertical gradient
    for (int32_t x = 0; x < kWidth; ++x)
      paint.Pixel(x, y, uint8_t(20 + y * 60 / kHeight), uint8_t(60 + y * 80 / kHeight),
                  uint8_t(120 + y * 100 / kHeight));
  for (int i = 0; i < 12; ++i) // desktop icons
    paint.Fill(30, 30 + i * 80, 48, 48, uint8_t(random()), uint8_t(random()), uint8_t(random()));

  struct Window {
    int32_t left, top, width, height;
  };
  const Window windows[] = {{150, 80, 1100, 760}, {900, 300, 900, 640}, {300, 600, 700, 380}};
  for (const Window &w : windows) {
    paint.Fill(w.left - 1, w.top - 1, w.width + 2, w.height + 2, 100, 100, 100); // border
    for (int32_t y = 0; y < 28; ++y) // title bar: a horizontal gradient
      for (int32_t x = 0; x < w.width; ++x)
        paint.Pixel(w.left + x, w.top + y, uint8_t(10 + x * 150 / w.width), uint8_t(36 + x * 130 / w.width),
                    uint8_t(106 + x * 120 / w.width));
    paint.Fill(w.left, w.top + 28, w.width, 24, 240, 240, 240);              // menu bar
    paint.Fill(w.left, w.top + 52, w.width, w.height - 52, 255, 255, 255);   // client area
    paint.Fill(w.left + w.width - 18, w.top + 52, 18, w.height - 52, 225, 225, 225); // scroll bar
    // Lines of text: glyph cells of 7 x 12 with random strokes in dark grey and anti-aliased edges.
    for (int32_t line = w.top + 60; line + 12 < w.top + w.height - 10; line += 16) {
      int32_t x = w.left + 8;
      const int32_t end = w.left + 8 + int32_t(random() % uint32_t(w.width - 60));
      while (x + 7 < end) {
        if (random() % 6 == 0) { // a space
          x += 5;
          continue;
        }
        for (int32_t gy = 2; gy < 11; ++gy)
          for (int32_t gx = 0; gx < 6; ++gx) {
            const uint32_t bits = random();
            if (bits % 3 == 0)
              paint.Pixel(x + gx, line + gy, 30, 30, 30);
            else if (bits % 7 == 0)
              paint.Pixel(x + gx, line + gy, 150, 150, 160);
          }
        x += 7;
      }
    }
    paint.Fill(w.left + 20, w.top + w.height - 40, 90, 26, 225, 225, 225); // a button
  }
  paint.Fill(0, kHeight - 40, kWidth, 40, 36, 40, 52); // taskbar
  for (int i = 0; i < 8; ++i)
    paint.Fill(60 + i * 56, kHeight - 34, 28, 28, uint8_t(random()), uint8_t(random()), uint8_t(random()));
  return picture;
}

NVPixelBuffer &Picture() {
  static NVPixelBuffer picture = ScreenLikePicture();
  return picture;
}

std::filesystem::path Scratch(const char *name) { return std::filesystem::temp_directory_path() / name; }

void WritePpm(const std::filesystem::path &path, NVPixelBuffer &picture) {
  std::ofstream out(path, std::ios::binary);
  out << "P6\n" << picture.Width() << " " << picture.Height() << "\n255\n";
  for (int32_t y = 0; y < picture.Height(); ++y) {
    const uint8_t *p = picture.View().TopRow(y);
    for (int32_t x = 0; x < picture.Width(); ++x, p += 4) {
      const char rgb[3] = {char(p[2]), char(p[1]), char(p[0])};
      out.write(rgb, 3);
    }
  }
}

std::map<std::string, double> gSizes; // bytes written by each benchmark

void TidewellColour(benchmark::State &state) {
  std::string png;
  for (auto _ : state)
    benchmark::DoNotOptimize(png = EncodeColourPng(Picture().View()));
  gSizes["TidewellColour"] = double(png.size());
  state.counters["bytes"] = double(png.size());
}

void TidewellFormat2(benchmark::State &state) {
  std::string png;
  for (auto _ : state) {
    state.PauseTiming();
    NVPixelBuffer copy = Picture(); // the grey trial turns the pixels grey
    state.ResumeTiming();
    benchmark::DoNotOptimize(png = EncodePng(copy.View(), 2));
  }
  gSizes["TidewellFormat2"] = double(png.size());
  state.counters["bytes"] = double(png.size());
}

void RunConvert(benchmark::State &state, const std::string &name, const std::string &options, bool tiny) {
#ifdef TIDEWELL_CONVERT
  const auto input = Scratch(tiny ? "tidewell_bench_tiny.ppm" : "tidewell_bench_screen.ppm");
  const auto output = Scratch("tidewell_bench_magick.png");
  if (tiny) {
    NVPixelBuffer one(1, 1);
    WritePpm(input, one);
  } else {
    WritePpm(input, Picture());
  }
  const std::string command =
      std::string(TIDEWELL_CONVERT) + " '" + input.string() + "' " + options + " 'PNG8:" + output.string() + "'";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0)
      state.SkipWithError("convert failed");
  std::error_code error;
  gSizes[name] = double(std::filesystem::file_size(output, error));
  state.counters["bytes"] = gSizes[name];
  std::filesystem::remove(input, error);
  std::filesystem::remove(output, error);
#else
  (void)name, (void)options, (void)tiny;
  state.SkipWithError("ImageMagick's convert was not found when the benchmark was configured");
#endif
}

void MagickPng8(benchmark::State &state) { RunConvert(state, "MagickPng8", "-colors 256", false); }
void MagickPng8NoDither(benchmark::State &state) {
  RunConvert(state, "MagickPng8NoDither", "+dither -colors 256", false);
}
void MagickOnePixel(benchmark::State &state) { RunConvert(state, "MagickOnePixel", "-colors 256", true); }

BENCHMARK(TidewellColour)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(TidewellFormat2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(MagickPng8)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(MagickPng8NoDither)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(MagickOnePixel)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const auto &r : runs)
      if (!r.error_occurred)
        times[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

std::string Find(const std::map<std::string, double> &times, const std::string &prefix) {
  for (const auto &[name, time] : times)
    if (name.rfind(prefix, 0) == 0)
      return name;
  return {};
}

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto time = [&](const char *prefix) {
    const std::string name = Find(reporter.times, prefix);
    return name.empty() ? 0.0 : reporter.times[name];
  };
  const double onePixel = time("MagickOnePixel");
  for (const char *ours : {"TidewellColour", "TidewellFormat2"})
    for (const char *theirs : {"MagickPng8", "MagickPng8NoDither"}) {
      const double t = time(ours), m = time(theirs);
      if (t <= 0 || m <= 0 || gSizes[theirs] <= 0)
        continue;
      std::printf("%s / %s: time %.2f (%.2f without ImageMagick's fixed %.0f ms), size %.2f (%.0f / %.0f bytes)\n",
                  ours, theirs, t / m, m > onePixel ? t / (m - onePixel) : 0.0, onePixel, gSizes[ours] / gSizes[theirs],
                  gSizes[ours], gSizes[theirs]);
    }
  // The summary's figures: the 256-colour image (what a report attaches) against ImageMagick's
  // default PNG8, as run, and with ImageMagick's fixed cost taken off.
  const double ours = time("TidewellColour"), magick = time("MagickPng8");
  if (ours > 0 && magick > 0) {
    kx::bench::PrintFigure("PNG of a 1920x1080 screen", ours, magick, "ms", "ImageMagick convert PNG8");
    if (magick > onePixel && onePixel > 0)
      kx::bench::PrintFigure("PNG of a 1920x1080 screen (fixed cost off)", ours, magick - onePixel, "ms",
                             "ImageMagick convert PNG8 less its 1x1 run");
    if (gSizes["MagickPng8"] > 0)
      kx::bench::PrintFigure("PNG size of that screen", gSizes["TidewellColour"] / 1024,
                             gSizes["MagickPng8"] / 1024, "KiB", "ImageMagick convert PNG8");
  }
  return 0;
}
