// The greetings flight's route: the table `move_list` of 76 moves over the
// 2048x1024 greetings canvas.
//
// The greetings scene flies it; the asset generator lays the canvas's labels
// along its pans, and the route test flies every pan over the generated
// canvas, so all three read this one copy. It depends on nothing but <array>
// and <cstdint>.
//
// A record's end view is the next record's start view. Kind 0 is `linear`
// (a pan at constant zoom: from_zoom == to_zoom), 1 is `jump`, 3 is
// `jump_out` (only the last record); other kinds are skipped by the show.
// Zooms are the floats nearest to the decimals shown.
#pragma once

#include <array>
#include <cstdint>

enum move_kind : std::int32_t {
  move_linear = 0,
  move_jump = 1,
  move_jump_out = 3,
};

// Seven 32-bit fields, in this order.
struct move_s {
  std::int32_t kind;
  std::int32_t from_x;
  std::int32_t from_y;
  float from_zoom;
  std::int32_t to_x;
  std::int32_t to_y;
  float to_zoom;
};

inline constexpr std::array<move_s, 76> move_list = {{
    {1, 1324, 712, 1.0f, 15, 20, 2.5f}, // 0
    {0, 15, 20, 2.5f, 570, 20, 2.5f}, // 1
    {1, 570, 20, 2.5f, 945, 560, 1.8f}, // 2
    {0, 945, 560, 1.8f, 1110, 1000, 1.8f}, // 3
    {1, 1110, 1000, 1.8f, 1325, 255, 2.5f}, // 4
    {0, 1325, 255, 2.5f, 1455, 20, 2.5f}, // 5
    {0, 1455, 20, 2.5f, 1750, 20, 2.5f}, // 6
    {1, 1750, 20, 2.5f, 659, 40, 1.3f}, // 7
    {0, 659, 40, 1.3f, 659, 1006, 1.3f}, // 8
    {1, 659, 1006, 1.3f, 740, 80, 2.5f}, // 9
    {0, 740, 80, 2.5f, 917, 80, 2.5f}, // 10
    {1, 917, 80, 2.5f, 78, 80, 2.5f}, // 11
    {0, 78, 80, 2.5f, 493, 80, 2.5f}, // 12
    {1, 493, 80, 2.5f, 248, 140, 1.3f}, // 13
    {0, 248, 140, 1.3f, 248, 495, 1.3f}, // 14
    {1, 248, 495, 1.3f, 719, 990, 1.3f}, // 15
    {0, 719, 990, 1.3f, 719, 600, 1.3f}, // 16
    {1, 719, 600, 1.3f, 2010, 1010, 1.3f}, // 17
    {0, 2010, 1010, 1.3f, 2010, 807, 1.3f}, // 18
    {1, 2010, 807, 1.3f, 760, 470, 2.5f}, // 19
    {0, 760, 470, 2.5f, 970, 470, 2.5f}, // 20
    {1, 970, 470, 2.5f, 719, 420, 1.3f}, // 21
    {0, 719, 420, 1.3f, 719, 125, 1.3f}, // 22
    {1, 719, 125, 1.3f, 920, 720, 1.8f}, // 23
    {0, 920, 720, 1.8f, 1026, 1000, 1.8f}, // 24
    {1, 1026, 1000, 1.8f, 318, 800, 1.3f}, // 25
    {0, 318, 800, 1.3f, 318, 140, 1.3f}, // 26
    {1, 318, 140, 1.3f, 2010, 195, 1.3f}, // 27
    {0, 2010, 195, 1.3f, 2010, 765, 1.3f}, // 28
    {1, 2010, 765, 1.3f, 1940, 505, 1.3f}, // 29
    {0, 1940, 505, 1.3f, 1940, 195, 1.3f}, // 30
    {1, 1940, 195, 1.3f, 1320, 920, 2.5f}, // 31
    {0, 1320, 920, 2.5f, 1605, 920, 2.5f}, // 32
    {1, 1605, 920, 2.5f, 1015, 35, 1.8f}, // 33
    {0, 1015, 35, 1.8f, 1125, 230, 1.8f}, // 34
    {1, 1125, 230, 1.8f, 1305, 994, 3.2f}, // 35
    {0, 1305, 994, 3.2f, 1705, 994, 3.2f}, // 36
    {1, 1705, 994, 3.2f, 1650, 590, 1.3f}, // 37
    {0, 1650, 590, 1.3f, 1650, 860, 1.3f}, // 38
    {1, 1650, 860, 1.3f, 1673, 490, 2.0f}, // 39
    {0, 1673, 490, 2.0f, 1765, 670, 2.0f}, // 40
    {1, 1765, 670, 2.0f, 1480, 470, 2.5f}, // 41
    {0, 1480, 470, 2.5f, 1630, 470, 2.5f}, // 42
    {1, 1630, 470, 2.5f, 720, 530, 2.5f}, // 43
    {0, 720, 530, 2.5f, 895, 530, 2.5f}, // 44
    {1, 895, 530, 2.5f, 210, 569, 2.5f}, // 45
    {0, 210, 569, 2.5f, 260, 569, 2.5f}, // 46
    {0, 260, 569, 2.5f, 237, 569, 2.5f}, // 47
    {1, 237, 569, 2.5f, 1915, 70, 2.5f}, // 48
    {0, 1915, 70, 2.5f, 2025, 70, 2.5f}, // 49
    {1, 2025, 70, 2.5f, 1399, 220, 1.8f}, // 50
    {0, 1399, 220, 1.8f, 1510, 405, 1.8f}, // 51
    {1, 1510, 405, 1.8f, 1000, 355, 1.8f}, // 52
    {0, 1000, 355, 1.8f, 1062, 245, 1.8f}, // 53
    {0, 1062, 245, 1.8f, 1000, 135, 1.8f}, // 54
    {1, 1000, 135, 1.8f, 1015, 440, 1.8f}, // 55
    {0, 1015, 440, 1.8f, 1115, 275, 1.8f}, // 56
    {1, 1115, 275, 1.8f, 1490, 80, 2.5f}, // 57
    {0, 1490, 80, 2.5f, 1755, 80, 2.5f}, // 58
    {1, 1755, 80, 2.5f, 1355, 290, 1.8f}, // 59
    {0, 1355, 290, 1.8f, 1434, 444, 1.8f}, // 60
    {1, 1434, 444, 1.8f, 250, 1000, 1.3f}, // 61
    {0, 250, 1000, 1.3f, 250, 640, 1.3f}, // 62
    {1, 250, 640, 1.3f, 700, 20, 2.5f}, // 63
    {0, 700, 20, 2.5f, 965, 20, 2.5f}, // 64
    {1, 965, 20, 2.5f, 1690, 930, 1.8f}, // 65
    {0, 1690, 930, 1.8f, 1750, 745, 1.8f}, // 66
    {1, 1750, 745, 1.8f, 1495, 528, 2.5f}, // 67
    {0, 1495, 528, 2.5f, 1620, 528, 2.5f}, // 68
    {1, 1620, 528, 2.5f, 316, 880, 1.3f}, // 69
    {0, 316, 880, 1.3f, 316, 1000, 1.3f}, // 70
    {1, 316, 1000, 1.3f, 1915, 20, 2.5f}, // 71
    {0, 1915, 20, 2.5f, 2015, 20, 2.5f}, // 72
    {1, 2015, 20, 2.5f, 1938, 600, 1.3f}, // 73
    {0, 1938, 600, 1.3f, 1938, 1010, 1.3f}, // 74
    {3, 1938, 1010, 1.3f, 1024, 512, 64.0f}, // 75
}};

namespace move_list_checks {
constexpr bool continuous() {
  for (std::size_t i = 1; i < move_list.size(); ++i)
    if (move_list[i].from_x != move_list[i - 1].to_x || move_list[i].from_y != move_list[i - 1].to_y ||
        move_list[i].from_zoom != move_list[i - 1].to_zoom)
      return false;
  return true;
}
constexpr bool pans_keep_their_zoom() {
  for (const move_s &m : move_list)
    if (m.kind == move_linear && m.from_zoom != m.to_zoom)
      return false;
  return true;
}
static_assert(sizeof(move_s) == 28, "seven 32-bit fields");
static_assert(continuous(), "each move starts where the previous one ended");
static_assert(pans_keep_their_zoom(), "a linear move keeps its zoom");
static_assert(move_list.back().kind == move_jump_out, "the flight ends on the one jump_out");
} // namespace move_list_checks
