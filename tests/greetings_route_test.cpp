// The greetings canvas against the flight's route: every pan, flown through
// the real image zoom exactly as the show's `linear` computes its frames,
// keeps its own label in view on every frame; labels do not run into each
// other; and the committed canvas is what the generator draws.
#include "greetings.h"
#include "file_contents.h"
#include "image_zoom.h"
#include "opcgd.h"
#include "pictures.h"
#include "greetings_route.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

using image_ptr = gd_image_ptr;

struct zoom_deleter {
  void operator()(image_zoom_t d) const { image_zoom_done(d); }
};
using zoom_ptr = std::unique_ptr<image_zoom_s, zoom_deleter>;

constexpr int kW = 2048, kH = 1024;
// A matrix pixel is lit when its brightest channel reaches this.
constexpr int kLit = 96;
// Every pan frame must show at least this many lit pixels of its own label.
constexpr int kMinLabelPixels = 8;
// Ink of two different pieces keeps at least this many canvas pixels apart
// (Chebyshev distance), so that no view shows two labels run together.
constexpr int kClearance = 4;

image_ptr load_committed_canvas() {
  std::vector<unsigned char> bytes = file_bytes(ASSET_DIR "/greetings.png");
  if (bytes.empty())
    return nullptr;
  return image_ptr(gdImageCreateFromPngPtr(int(bytes.size()), bytes.data()));
}

const image_ptr &canvas() {
  static const image_ptr im = load_committed_canvas();
  return im;
}

struct centre_s {
  int x, y;
};

// The centres of a pan's frames, as the greetings scene's `linear` computes them
// (an independent copy of its arithmetic, in its roundings).
std::vector<centre_s> pan_centres(const move_s &m) {
  const int dx = m.to_x - m.from_x, dy = m.to_y - m.from_y;
  const u32 dist = isqrt(u32(dx * dx + dy * dy));
  float steps = float(dist) / (m.to_zoom + m.from_zoom);
  if (steps > 120.0)
    steps = float(90 + 7 * std::sqrt(double(steps) - 100));
  std::vector<centre_s> out;
  for (int i = 0; float(i) <= steps; ++i)
    out.push_back({int(float(m.from_x) + float(i * dx) / steps), int(float(m.from_y) + float(i * dy) / steps)});
  return out;
}

int lit_pixels(gdImagePtr frame) {
  int n = 0;
  for (int y = 0; y < gdImageSY(frame); ++y)
    for (int x = 0; x < gdImageSX(frame); ++x) {
      const int c = gdImageGetTrueColorPixel(frame, x, y);
      n += std::max({gdTrueColorGetRed(c), gdTrueColorGetGreen(c), gdTrueColorGetBlue(c)}) >= kLit;
    }
  return n;
}

// Piece k drawn alone: its ink mask, as the generator lays it out.
std::vector<bool> piece_mask(int k) {
  image_ptr alone(gdImageCreateTrueColor(kW, kH));
  EXPECT_TRUE(greetings_draw_piece(alone.get(), k)) << greetings_piece(k).name;
  std::vector<bool> mask(std::size_t(kW) * kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      mask[std::size_t(y) * kW + std::size_t(x)] = (gdImageGetTrueColorPixel(alone.get(), x, y) & 0xffffff) != 0;
  return mask;
}

const std::vector<std::vector<bool>> &masks() {
  static const std::vector<std::vector<bool>> all = [] {
    std::vector<std::vector<bool>> v;
    for (int k = 0; k < greetings_piece_count(); ++k)
      v.push_back(piece_mask(k));
    return v;
  }();
  return all;
}

TEST(GreetingsRoute, PanFramesOfTwoRecordsAreAsWorkedOutByHand) {
  // Record 1: 555 pixels at zoom 2.5 give steps 111 and 112 frames; record 8:
  // 966 pixels at 1.3 give 371.5, compressed to 205.3, so 206 frames.
  EXPECT_EQ(pan_centres(move_list[1]).size(), 112u);
  EXPECT_EQ(pan_centres(move_list[8]).size(), 206u);
  EXPECT_EQ(pan_centres(move_list[1]).front().x, 15);
  EXPECT_EQ(pan_centres(move_list[1]).back().x, 570);
  const move_s still{0, 100, 100, 2.0f, 100, 100, 2.0f};
  EXPECT_EQ(pan_centres(still).size(), 1u);
}

TEST(GreetingsRoute, EveryPanReadsExactlyOneLabel) {
  std::vector<int> readers(move_list.size(), 0);
  for (int k = 0; k < greetings_piece_count(); ++k) {
    const greetings_piece_s &p = greetings_piece(k);
    for (int m = p.first_move; m >= 0 && m <= p.last_move; ++m) {
      ASSERT_EQ(move_list[std::size_t(m)].kind, move_linear) << p.name << " lies along move " << m;
      ++readers[std::size_t(m)];
    }
  }
  for (std::size_t m = 0; m < move_list.size(); ++m)
    EXPECT_EQ(readers[m], move_list[m].kind == move_linear ? 1 : 0) << "move " << m;
}

TEST(GreetingsRoute, CommittedCanvasIsWhatTheGeneratorDraws) {
  ASSERT_TRUE(canvas()) << "cannot decode " ASSET_DIR "/greetings.png";
  ASSERT_EQ(gdImageSX(canvas().get()), kW);
  ASSERT_EQ(gdImageSY(canvas().get()), kH);
  image_ptr drawn(draw_greetings());
  ASSERT_TRUE(drawn);
  long differing = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      differing += (gdImageGetTrueColorPixel(canvas().get(), x, y) & 0xffffff) !=
                   (gdImageGetTrueColorPixel(drawn.get(), x, y) & 0xffffff);
  EXPECT_EQ(differing, 0) << "src/assets/greetings.png is stale: run the asset generator";
}

TEST(GreetingsRoute, InkIsOnlyThePiecesAndNeverBlack) {
  ASSERT_TRUE(canvas());
  long stray = 0, black_ink = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      bool ink = false;
      for (const std::vector<bool> &m : masks())
        ink = ink || m[std::size_t(y) * kW + std::size_t(x)];
      const int c = gdImageGetTrueColorPixel(canvas().get(), x, y) & 0xffffff;
      stray += !ink && c != 0;
      black_ink += ink && c == 0;
    }
  EXPECT_EQ(stray, 0) << "pixels outside every piece must be pure black (transparent)";
  EXPECT_EQ(black_ink, 0) << "ink must never be pure black";
}

TEST(GreetingsRoute, LabelsAreBrightAndSaturated) {
  ASSERT_TRUE(canvas());
  for (int k = 0; k < greetings_piece_count(); ++k) {
    int brightest = 0, most_saturated = 0;
    const std::vector<bool> &m = masks()[std::size_t(k)];
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        if (!m[std::size_t(y) * kW + std::size_t(x)])
          continue;
        const int c = gdImageGetTrueColorPixel(canvas().get(), x, y);
        const int hi = std::max({gdTrueColorGetRed(c), gdTrueColorGetGreen(c), gdTrueColorGetBlue(c)});
        const int lo = std::min({gdTrueColorGetRed(c), gdTrueColorGetGreen(c), gdTrueColorGetBlue(c)});
        brightest = std::max(brightest, hi);
        most_saturated = std::max(most_saturated, hi - lo);
      }
    EXPECT_GE(brightest, 240) << greetings_piece(k).name;
    if (greetings_piece(k).first_move >= 0) {
      EXPECT_GE(most_saturated, 90) << greetings_piece(k).name;
    }
  }
}

TEST(GreetingsRoute, PiecesKeepClearOfEachOther) {
  std::vector<short> owner(std::size_t(kW) * kH, -1);
  for (int k = 0; k < greetings_piece_count(); ++k)
    for (std::size_t i = 0; i < owner.size(); ++i)
      if (masks()[std::size_t(k)][i]) {
        ASSERT_EQ(owner[i], -1) << greetings_piece(k).name << " overlaps " << greetings_piece(owner[i]).name;
        owner[i] = short(k);
      }
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const int a = owner[std::size_t(y) * kW + std::size_t(x)];
      if (a < 0)
        continue;
      for (int dy = -kClearance; dy <= kClearance; ++dy)
        for (int dx = -kClearance; dx <= kClearance; ++dx) {
          const int xx = x + dx, yy = y + dy;
          if (xx < 0 || yy < 0 || xx >= kW || yy >= kH)
            continue;
          const int b = owner[std::size_t(yy) * kW + std::size_t(xx)];
          ASSERT_TRUE(b < 0 || b == a) << greetings_piece(a).name << " at (" << x << ", " << y << ") comes within "
                                       << kClearance << " pixels of " << greetings_piece(b).name;
        }
    }
}

TEST(GreetingsRoute, EveryPanFrameShowsItsOwnLabel) {
  ASSERT_TRUE(canvas());
  image_ptr frame(gdImageCreateTrueColor(32, 16));
  int min_label = 1 << 30, min_all = 1 << 30, frames = 0;
  std::string weakest;
  for (int k = 0; k < greetings_piece_count(); ++k) {
    const greetings_piece_s &p = greetings_piece(k);
    if (p.first_move < 0)
      continue;
    // The committed canvas with everything but this label blacked out.
    image_ptr label_only(gdImageCreateTrueColor(kW, kH));
    const std::vector<bool> &m = masks()[std::size_t(k)];
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        if (m[std::size_t(y) * kW + std::size_t(x)])
          gdImageSetPixel(label_only.get(), x, y, gdImageGetTrueColorPixel(canvas().get(), x, y));
    zoom_ptr label_zoom(image_zoom_init(frame.get(), label_only.get()));
    zoom_ptr full_zoom(image_zoom_init(frame.get(), canvas().get()));
    for (int mv = p.first_move; mv <= p.last_move; ++mv) {
      const move_s &move = move_list[std::size_t(mv)];
      for (const centre_s &c : pan_centres(move)) {
        image_zoom_calc(label_zoom.get(), c.x, c.y, move.from_zoom);
        const int own = lit_pixels(frame.get());
        image_zoom_calc(full_zoom.get(), c.x, c.y, move.from_zoom);
        const int all = lit_pixels(frame.get());
        ++frames;
        if (own < min_label) {
          min_label = own;
          weakest = std::string(p.name) + ", move " + std::to_string(mv) + " at (" + std::to_string(c.x) + ", " +
                    std::to_string(c.y) + ")";
        }
        min_all = std::min(min_all, all);
        EXPECT_GE(own, kMinLabelPixels) << p.name << ": move " << mv << " frame at (" << c.x << ", " << c.y << ")";
      }
    }
  }
  RecordProperty("pan_frames", frames);
  RecordProperty("min_own_label_pixels", min_label);
  RecordProperty("min_lit_pixels", min_all);
  std::printf("%d pan frames; fewest lit pixels of the frame's own label: %d (%s); of the whole canvas: %d\n", frames,
              min_label, weakest.c_str(), min_all);
}

} // namespace
