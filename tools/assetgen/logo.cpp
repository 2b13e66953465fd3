#include "logo.h"

#include "assetgen_output.h"

#include <cstdio>
#include <span>

namespace {

// The lettering on the 32x16 matrix (drawn from the points below):
//
//   .#....#..#####...####...#....#..
//   .##...#..#......#....#..##...#..
//   .#.#..#..#......#....#..#.#..#..
//   .#..#.#..###....#....#..#..#.#..
//   .#...##..#......#....#..#...##..
//   .#....#..#......#....#..#....#..
//   .#....#..#####...####...#....#..
//   ................................
//   ..........###########...........
//   ................................
//   ...###...###...#..###..#####....
//   ...#..#..#..#.....#......#......
//   ...#..#..#..#..#..##.....#......
//   ...#..#..###...#..#......#......
//   ...#..#..#.#...#..#......#......
//   ...###...#..#..#..#......#......
//
//   rows 0-6 NEON (letters 6, 5, 6 and 6 wide); row 8 a rule under it;
//   rows 10-15 DRiFT, 6 rows, the i a stem of four with its dot on row 10.
//
// The rhythm the logo scene expects of the script (pixel groups of 29, 4, 2, 18, 29, 19,
// 22, 10 and 1, with rests of 12 frames after the second and third group and
// before the last pixel) is set to the writing like this:
//   29  N, then the E's top bar and stem in one stroke
//    4  the E's bottom bar                          ... rest: a "[" stands there
//    2  the E's middle bar, which turns it into an E ... rest
//   18  O, one stroke from its top right, anticlockwise
//   29  the second N, then the rule swung back under the word
//   19  D in one stroke, then the R's stem
//   22  the R's bowl and leg, the i's stem, F (top bar and stem, middle bar)
//   10  T                                           ... rest
//    1  the dot on the i, last, as a writer dots it.

struct point_s {
  int x, y;
};

struct stroke_s {
  std::span<const point_s> points; // in drawing order
  int pauses_after;                // pause entries (-1) that follow the stroke
};

// NEON, rows 0-6.
constexpr point_s n1_left[] = {{1, 6}, {1, 5}, {1, 4}, {1, 3}, {1, 2}, {1, 1}, {1, 0}};
constexpr point_s n1_diagonal[] = {{2, 1}, {3, 2}, {4, 3}, {5, 4}};
constexpr point_s n1_right[] = {{6, 6}, {6, 5}, {6, 4}, {6, 3}, {6, 2}, {6, 1}, {6, 0}};
constexpr point_s e_top_and_stem[] = {{13, 0}, {12, 0}, {11, 0}, {10, 0}, {9, 0}, {9, 1},
                                      {9, 2},  {9, 3},  {9, 4},  {9, 5},  {9, 6}};
constexpr point_s e_bottom[] = {{10, 6}, {11, 6}, {12, 6}, {13, 6}};
constexpr point_s e_middle[] = {{10, 3}, {11, 3}};
constexpr point_s o_ring[] = {{20, 0}, {19, 0}, {18, 0}, {17, 0}, {16, 1}, {16, 2}, {16, 3}, {16, 4}, {16, 5},
                              {17, 6}, {18, 6}, {19, 6}, {20, 6}, {21, 5}, {21, 4}, {21, 3}, {21, 2}, {21, 1}};
constexpr point_s n2_left[] = {{24, 6}, {24, 5}, {24, 4}, {24, 3}, {24, 2}, {24, 1}, {24, 0}};
constexpr point_s n2_diagonal[] = {{25, 1}, {26, 2}, {27, 3}, {28, 4}};
constexpr point_s n2_right[] = {{29, 6}, {29, 5}, {29, 4}, {29, 3}, {29, 2}, {29, 1}, {29, 0}};
constexpr point_s rule[] = {{20, 8}, {19, 8}, {18, 8}, {17, 8}, {16, 8}, {15, 8},
                            {14, 8}, {13, 8}, {12, 8}, {11, 8}, {10, 8}};

// DRiFT, rows 10-15.
constexpr point_s d_whole[] = {{3, 10}, {3, 11}, {3, 12}, {3, 13}, {3, 14}, {3, 15}, {4, 15},
                               {5, 15}, {6, 14}, {6, 13}, {6, 12}, {6, 11}, {5, 10}, {4, 10}};
constexpr point_s r_stem[] = {{9, 11}, {9, 12}, {9, 13}, {9, 14}, {9, 15}};
constexpr point_s r_bowl_and_leg[] = {{9, 10},  {10, 10}, {11, 10}, {12, 11}, {12, 12},
                                      {11, 13}, {10, 13}, {11, 14}, {12, 15}};
constexpr point_s i_stem[] = {{15, 12}, {15, 13}, {15, 14}, {15, 15}};
constexpr point_s f_top_and_stem[] = {{20, 10}, {19, 10}, {18, 10}, {18, 11}, {18, 12}, {18, 13}, {18, 14}, {18, 15}};
constexpr point_s f_middle[] = {{19, 12}};
constexpr point_s t_bar[] = {{23, 10}, {24, 10}, {25, 10}, {26, 10}, {27, 10}};
constexpr point_s t_stem[] = {{25, 11}, {25, 12}, {25, 13}, {25, 14}, {25, 15}};
constexpr point_s i_dot[] = {{15, 10}};

constexpr stroke_s kStrokes[] = {
    {n1_left, 0},        {n1_diagonal, 0}, {n1_right, 0},    {e_top_and_stem, 1}, // 29
    {e_bottom, 12},                                                                // 4, rest
    {e_middle, 12},                                                                // 2, rest
    {o_ring, 1},                                                                   // 18
    {n2_left, 0},        {n2_diagonal, 0}, {n2_right, 0},    {rule, 1},           // 29
    {d_whole, 0},        {r_stem, 1},                                              // 19
    {r_bowl_and_leg, 0}, {i_stem, 0},      {f_top_and_stem, 0}, {f_middle, 1},    // 22
    {t_bar, 0},          {t_stem, 12},                                             // 10, rest
    {i_dot, 0},                                                                    // 1
};

constexpr int entry_count() {
  int n = 0;
  for (const stroke_s &s : kStrokes)
    n += int(s.points.size()) + s.pauses_after;
  return n;
}
static_assert(entry_count() == logo_draw_entries, "the script has 175 entries");

constexpr std::array<std::int16_t, logo_draw_entries> build_script() {
  std::array<std::int16_t, logo_draw_entries> script{};
  std::size_t i = 0;
  for (const stroke_s &s : kStrokes) {
    for (const point_s &p : s.points)
      script[i++] = std::int16_t(32 * p.y + p.x);
    for (int k = 0; k < s.pauses_after; ++k)
      script[i++] = -1;
  }
  return script;
}

constexpr std::array<std::int16_t, logo_draw_entries> kScript = build_script();

// The entries the rhythm above leaves empty: a one-frame pause between two
// groups, or one of the three rests of 12 frames.
constexpr bool is_pause_entry(int i) {
  return i == 29 || i == 78 || i == 108 || i == 128 || i == 151 || (i >= 34 && i <= 45) ||
         (i >= 48 && i <= 59) || (i >= 162 && i <= 173);
}

constexpr bool pauses_where_the_scene_rests() {
  for (int i = 0; i < logo_draw_entries; ++i)
    if ((kScript[std::size_t(i)] == -1) != is_pause_entry(i))
      return false;
  return true;
}

constexpr bool points_in_bounds() {
  for (const stroke_s &s : kStrokes)
    for (const point_s &p : s.points)
      if (p.x < 0 || p.x >= 32 || p.y < 0 || p.y >= 16)
        return false;
  return true;
}

constexpr bool no_pixel_twice() {
  std::array<bool, 512> seen{};
  for (std::int16_t p : kScript) {
    if (p < 0)
      continue;
    if (seen[std::size_t(p)])
      return false;
    seen[std::size_t(p)] = true;
  }
  return true;
}

constexpr int pixel_count() {
  int n = 0;
  for (std::int16_t p : kScript)
    n += p >= 0;
  return n;
}

// Strokes are one pixel wide and unbroken: each point touches the one before
// it (including diagonally), except where a stroke starts.
constexpr bool strokes_are_connected() {
  for (const stroke_s &s : kStrokes)
    for (std::size_t i = 1; i < s.points.size(); ++i) {
      const int dx = s.points[i].x - s.points[i - 1].x, dy = s.points[i].y - s.points[i - 1].y;
      if (dx < -1 || dx > 1 || dy < -1 || dy > 1)
        return false;
    }
  return true;
}

static_assert(points_in_bounds(), "every point lies on the 32x16 matrix");
static_assert(pixel_count() == logo_draw_pixels, "134 pixel entries");
static_assert(pauses_where_the_scene_rests(), "pauses at 29, 78, 108, 128, 151, 34-45, 48-59, 162-173");
static_assert(kScript[logo_draw_entries - 1] >= 0, "the last entry is a pixel");
static_assert(no_pixel_twice(), "no pixel is drawn twice");
static_assert(strokes_are_connected(), "each stroke is a chain of touching pixels");

} // namespace

const std::array<std::int16_t, logo_draw_entries> logo_draw = kScript;

bool logo_draw_write(const char *path) {
  const output_file file = open_output(path);
  if (!file)
    return false;
  std::array<unsigned char, 2 * logo_draw_entries> bytes{};
  for (std::size_t i = 0; i < logo_draw.size(); ++i) {
    const auto v = std::uint16_t(logo_draw[i]);
    bytes[2 * i] = static_cast<unsigned char>(v & 0xff);
    bytes[2 * i + 1] = static_cast<unsigned char>(v >> 8);
  }
  if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() || std::fflush(file.get()) != 0) {
    std::perror(path);
    return false;
  }
  return true;
}
