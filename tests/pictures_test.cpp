// The show's drawn pictures: the formats the scenes and the PNG writer rely
// on, repeatable drawing, and that each picture still reads when the scene
// shrinks it onto the 32x16 wall.
#include "opcgd.h"
#include "pictures.h"
#include "scene_math.h"

#include "child_process.h"
#include "gdfont4x8.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <numbers>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

using image_ptr = gd_image_ptr;

struct rgb {
  int r, g, b;
};

rgb colour_at(gdImagePtr im, int x, int y) {
  const int c = gdImageGetPixel(im, x, y);
  return {gdImageRed(im, c), gdImageGreen(im, c), gdImageBlue(im, c)};
}

int luma(rgb c) { return (c.r * 299 + c.g * 587 + c.b * 114) / 1000; }

// What the wall shows of a window of a picture: the area average onto 32x16.
image_ptr wall_frame(gdImagePtr pic, int x, int y, int w, int h) {
  image_ptr frame(gdImageCreateTrueColor(32, 16));
  gdImageCopyResampled(frame.get(), pic, 0, 0, x, y, 32, 16, w, h);
  return frame;
}

int luma_range(gdImagePtr im, int y0, int y1) {
  int lo = 255, hi = 0;
  for (int y = y0; y <= y1; ++y)
    for (int x = 0; x < gdImageSX(im); ++x) {
      lo = std::min(lo, luma(colour_at(im, x, y)));
      hi = std::max(hi, luma(colour_at(im, x, y)));
    }
  return hi - lo;
}

struct picture_case {
  const char *name;
  gdImagePtr (*draw)();
  int width, height;
  int palette_size;  // 0 for true colour
};

const picture_case kPictures[] = {
    {"into_the_blue", draw_into_the_blue, 320, 200, 17},
    {"panorama", draw_panorama, 3392, 232, 13},
    {"drink", draw_drink, 119, 305, 0},
    {"credit_lead", draw_credit_lead, 180, 297, 0},
    {"credit_gfx", draw_credit_gfx, 198, 332, 0},
    {"credit_music", draw_credit_music, 198, 250, 0},
    {"credit_code", draw_credit_code, 198, 235, 0},
    {"caption_lead", draw_caption_lead, 32, 16, 2},
    {"caption_gfx", draw_caption_gfx, 32, 16, 2},
    {"caption_music", draw_caption_music, 32, 16, 2},
    {"caption_code", draw_caption_code, 32, 16, 2},
};

class every_picture : public testing::TestWithParam<picture_case> {};

TEST_P(every_picture, has_the_size_and_kind_the_show_expects) {
  const picture_case &p = GetParam();
  image_ptr im(p.draw());
  ASSERT_NE(im, nullptr);
  EXPECT_EQ(gdImageSX(im.get()), p.width);
  EXPECT_EQ(gdImageSY(im.get()), p.height);
  EXPECT_EQ(gdImageTrueColor(im.get()) != 0, p.palette_size == 0);
  if (p.palette_size != 0) {
    EXPECT_EQ(gdImageColorsTotal(im.get()), p.palette_size);
  }
}

class palette_picture : public testing::TestWithParam<picture_case> {};

TEST_P(palette_picture, palette_entries_are_distinct_and_all_in_use) {
  const picture_case &p = GetParam();
  image_ptr im(p.draw());
  std::set<std::tuple<int, int, int>> entries;
  for (int i = 0; i < gdImageColorsTotal(im.get()); ++i)
    entries.insert({im->red[i], im->green[i], im->blue[i]});
  EXPECT_EQ(int(entries.size()), p.palette_size);
  std::vector<bool> used(size_t(p.palette_size), false);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) used[size_t(gdImageGetPixel(im.get(), x, y))] = true;
  for (int i = 0; i < p.palette_size; ++i) EXPECT_TRUE(used[size_t(i)]) << "colour " << i;
}

TEST_P(every_picture, draws_the_same_pixels_every_time) {
  const picture_case &p = GetParam();
  image_ptr a(p.draw()), b(p.draw());
  int differing = 0;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      if (gdImageGetPixel(a.get(), x, y) != gdImageGetPixel(b.get(), x, y)) ++differing;
  EXPECT_EQ(differing, 0);
  for (int i = 0; i < p.palette_size; ++i)
    EXPECT_EQ(std::tie(a->red[i], a->green[i], a->blue[i]), std::tie(b->red[i], b->green[i], b->blue[i]));
}

std::string case_name(const testing::TestParamInfo<picture_case> &info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(pictures, every_picture, testing::ValuesIn(kPictures), case_name);
INSTANTIATE_TEST_SUITE_P(pictures, palette_picture,
                         testing::Values(kPictures[0], kPictures[1], kPictures[7], kPictures[8],
                                         kPictures[9], kPictures[10]),
                         case_name);

// --- the panorama, 232 rows onto 16 ---

TEST(panorama, every_window_of_the_sweep_shows_blue_sky_above_and_ground_below) {
  image_ptr pic(draw_panorama());
  for (int x = 0; x <= 2928; x += 244) {
    image_ptr frame = wall_frame(pic.get(), x, 0, 464, 232);
    int sky = 0;
    for (int col = 0; col < 32; ++col) {
      const rgb top = colour_at(frame.get(), col, 0);
      sky += top.b > top.r + 60 && top.b > top.g + 30;
      // The bottom row is earth, or the dark of a pit: never sky.
      const rgb ground = colour_at(frame.get(), col, 15);
      EXPECT_TRUE(ground.r >= ground.b || luma(ground) < 40) << "window at " << x << ", column " << col;
    }
    EXPECT_GE(sky, 16) << "window at " << x;
  }
}

TEST(panorama, every_window_of_the_sweep_has_features_that_survive_shrinking) {
  image_ptr pic(draw_panorama());
  for (int x = 0; x <= 2928; x += 122) {
    image_ptr frame = wall_frame(pic.get(), x, 0, 464, 232);
    EXPECT_GE(luma_range(frame.get(), 0, 12), 80) << "window at " << x;
  }
}

// --- into the blue, seen through the zoom ---

TEST(into_the_blue, the_pattern_is_blue_and_violet) {
  image_ptr pic(draw_into_the_blue());
  int cool = 0;
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 320; ++x) {
      const rgb c = colour_at(pic.get(), x, y);
      if (c.b >= c.r && c.b >= c.g) ++cool;
    }
  EXPECT_GT(cool, 320 * 200 * 7 / 10);
}

TEST(into_the_blue, the_close_ups_at_the_end_of_the_drift_show_the_hand_on_the_pattern) {
  image_ptr pic(draw_into_the_blue());
  // The drift ends at (166, 76); the zoom there swings from 1.1 to 7.1.
  for (float zoom : {1.1f, 2.2f, 3.1f, 7.1f}) {
    const int w = int(32.0f * zoom), h = int(16.0f * zoom);
    image_ptr frame = wall_frame(pic.get(), 166 - w / 2, 76 - h / 2, w, h);
    int warm = 0, cool = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 32; ++x) {
        const rgb c = colour_at(frame.get(), x, y);
        if (c.r > c.b + 40 && c.r > 120) ++warm;
        if (c.b > c.r) ++cool;
      }
    EXPECT_GE(warm, 12) << "zoom " << zoom;
    EXPECT_GE(cool, 60) << "zoom " << zoom;
  }
}

// --- the drink can, through the analyser's 119x59 window ---

TEST(drink, the_glide_window_shows_contrast_from_lid_to_base) {
  image_ptr pic(draw_drink());
  for (int y = 0; y <= 246; y += 41) {
    image_ptr frame = wall_frame(pic.get(), 0, y, 119, 59);
    EXPECT_GE(luma_range(frame.get(), 0, 15), 90) << "window at " << y;
  }
}

TEST(drink, the_can_is_lit_from_the_left_on_a_blue_violet_ground) {
  image_ptr pic(draw_drink());
  // Plain body between the brand and the emblem.
  long left = 0, right = 0;
  for (int y = 88; y < 108; ++y)
    for (int x = 0; x < 30; ++x) {
      left += luma(colour_at(pic.get(), 26 + x, y));
      right += luma(colour_at(pic.get(), 62 + x, y));
    }
  EXPECT_GT(left, right * 3 / 2);
  for (int y : {2, 150, 302})
    for (int x : {2, 116}) {
      const rgb c = colour_at(pic.get(), x, y);
      EXPECT_GT(c.b, c.g + 20) << x << "," << y;
      EXPECT_GT(c.r, c.g) << x << "," << y;
    }
}

TEST(drink, the_emblem_is_pink) {
  image_ptr pic(draw_drink());
  int pink = 0;
  for (int y = 110; y < 190; ++y)
    for (int x = 22; x < 97; ++x) {
      const rgb c = colour_at(pic.get(), x, y);
      if (c.r > 150 && c.b > 90 && c.g < c.b - 40) ++pink;
    }
  EXPECT_GT(pink, 600);
}

// --- the credit portraits, panned through a window of half their width ---

TEST(credit_portraits, every_window_of_the_pan_reads_on_the_wall) {
  for (auto draw : {draw_credit_lead, draw_credit_gfx, draw_credit_music, draw_credit_code}) {
    image_ptr pic(draw());
    const int w = gdImageSX(pic.get()), h = gdImageSY(pic.get()), window = w / 2;
    for (int y = 0; y <= h - window; y += 10) {
      image_ptr frame = wall_frame(pic.get(), 0, y, w, window);
      EXPECT_GE(luma_range(frame.get(), 0, 15), 120) << w << "x" << h << " at " << y;
    }
  }
}

TEST(credit_portraits, only_the_graphics_one_has_see_through_pixels_and_they_are_black) {
  image_ptr gfx(draw_credit_gfx());
  EXPECT_NE(gfx->saveAlphaFlag, 0);
  int clear = 0;
  for (int y = 0; y < 332; ++y)
    for (int x = 0; x < 198; ++x) {
      const int c = gdImageGetTrueColorPixel(gfx.get(), x, y);
      if (gdTrueColorGetAlpha(c) == 0) continue;
      EXPECT_EQ(c & 0xffffff, 0) << x << "," << y;
      clear += gdTrueColorGetAlpha(c) == gdAlphaTransparent;
    }
  EXPECT_GT(clear, 1000);
  for (auto draw : {draw_credit_lead, draw_credit_music, draw_credit_code}) {
    image_ptr pic(draw());
    int see_through = 0;
    for (int y = 0; y < gdImageSY(pic.get()); ++y)
      for (int x = 0; x < gdImageSX(pic.get()); ++x)
        see_through += gdTrueColorGetAlpha(gdImageGetTrueColorPixel(pic.get(), x, y)) != 0;
    EXPECT_EQ(see_through, 0);
  }
}

// The credits scene resamples each window over the previous frame, so a
// see-through area would let an earlier window show through. Pan as the scene
// does, from two starting phases, and compare with resampling onto black.
TEST(credit_portraits, panning_the_graphics_portrait_over_old_frames_leaves_no_trail) {
  image_ptr pic(draw_credit_gfx());
  const int window = 99, travel = 332 - window;
  for (float start : {4.71238899f, 1.0f}) {
    image_ptr kept(gdImageCreateTrueColor(32, 16));
    float phase = start;
    int worst = 0;
    for (int frame = 0; frame < 200; ++frame) {
      phase = phase_step(phase, 0.07, 2 * std::numbers::pi);
      const int y = int((std::sin(phase) + 1.0f) * float(travel) * 0.5f);
      gdImageCopyResampled(kept.get(), pic.get(), 0, 0, 0, y, 32, 16, 198, window);
      image_ptr fresh = wall_frame(pic.get(), 0, y, 198, window);
      for (int py = 0; py < 16; ++py)
        for (int px = 0; px < 32; ++px) {
          const rgb a = colour_at(kept.get(), px, py), b = colour_at(fresh.get(), px, py);
          worst = std::max({worst, std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
        }
    }
    EXPECT_LE(worst, 2) << "starting phase " << start;
  }
}

// --- captions: handle and role in black on blue ---

struct caption_case {
  const char *name;
  gdImagePtr (*draw)();
  const char *role;
  bool blue_first;
};

const caption_case kCaptions[] = {
    {"lead", draw_caption_lead, "LEAD", false},
    {"gfx", draw_caption_gfx, "GFX", false},
    {"music", draw_caption_music, "MUSIC", false},
    {"code", draw_caption_code, "CODE", true},
};

// The ink of rows y0..y0+7 as strings, trimmed to the columns that hold ink.
std::vector<std::string> ink_rows(gdImagePtr im, int y0, bool (*is_ink)(gdImagePtr, int, int)) {
  int left = gdImageSX(im), right = -1;
  for (int y = y0; y < y0 + 8; ++y)
    for (int x = 0; x < gdImageSX(im); ++x)
      if (is_ink(im, x, y)) left = std::min(left, x), right = std::max(right, x);
  std::vector<std::string> rows;
  for (int y = y0; y < y0 + 8; ++y) {
    std::string row;
    for (int x = left; x <= right; ++x) row += is_ink(im, x, y) ? '#' : '.';
    rows.push_back(row);
  }
  return rows;
}

bool black_pixel(gdImagePtr im, int x, int y) {
  const rgb c = colour_at(im, x, y);
  return c.r == 0 && c.g == 0 && c.b == 0;
}

bool any_set_pixel(gdImagePtr im, int x, int y) { return gdImageGetPixel(im, x, y) != 0; }

class caption : public testing::TestWithParam<caption_case> {};

TEST_P(caption, lists_black_and_blue_in_its_own_order) {
  image_ptr im(GetParam().draw());
  const int black = GetParam().blue_first ? 1 : 0, blue = 1 - black;
  EXPECT_EQ(std::tie(im->red[black], im->green[black], im->blue[black]), std::make_tuple(0, 0, 0));
  EXPECT_GE(im->blue[blue], 160);
  EXPECT_LT(im->red[blue], im->blue[blue] / 3);
  EXPECT_LT(im->green[blue], im->blue[blue] / 3);
}

TEST_P(caption, letters_two_lines_in_black_on_a_blue_ground) {
  image_ptr im(GetParam().draw());
  int ink_top = 0, ink_bottom = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x)
      if (black_pixel(im.get(), x, y)) ++(y < 8 ? ink_top : ink_bottom);
  EXPECT_GT(ink_top, 10);
  EXPECT_GT(ink_bottom, 10);
  EXPECT_LT(ink_top + ink_bottom, 32 * 16 / 2) << "the ground is blue";
}

TEST_P(caption, second_line_reads_the_role) {
  image_ptr im(GetParam().draw());
  image_ptr expected(gdImageCreate(32, 8));
  gdImageColorAllocate(expected.get(), 0, 0, 0);
  const int ink = gdImageColorAllocate(expected.get(), 255, 255, 255);
  std::string role = GetParam().role;
  gdImageString(expected.get(), gdFontGet4x8(), 0, 0, reinterpret_cast<unsigned char *>(role.data()), ink);
  EXPECT_EQ(ink_rows(im.get(), 8, black_pixel), ink_rows(expected.get(), 0, any_set_pixel));
}

INSTANTIATE_TEST_SUITE_P(pictures, caption, testing::ValuesIn(kCaptions),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(captions, each_credit_names_a_different_handle) {
  std::set<std::vector<std::string>> handles;
  for (const caption_case &c : kCaptions) {
    image_ptr im(c.draw());
    handles.insert(ink_rows(im.get(), 0, black_pixel));
  }
  EXPECT_EQ(handles.size(), 4u);
}

TEST(assetgen_program, help_is_the_usage_on_stdout) {
  child_process help({ASSETGEN_PROGRAM, "--help"}, {}, "", child_streams::apart);
  EXPECT_EQ(help.wait(std::chrono::seconds(10)), 0);
  EXPECT_EQ(help.output().rfind("usage: assetgen OUTPUT_DIR [PREVIEW_PNG]\n", 0), 0u) << help.output();
  EXPECT_EQ(help.errors(), "");
}

TEST(assetgen_program, an_unknown_option_is_refused_before_anything_is_written) {
  char dir[] = "/tmp/assetgen_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  child_process run({ASSETGEN_PROGRAM, dir, "--preview"}, {}, "", child_streams::apart);
  EXPECT_EQ(run.wait(std::chrono::seconds(10)), 1);
  EXPECT_EQ(run.errors().rfind("assetgen: unknown option '--preview'\nusage: assetgen", 0), 0u) << run.errors();
  EXPECT_EQ(rmdir(dir), 0) << "the folder was written to";
}

}  // namespace
