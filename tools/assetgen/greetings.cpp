#include "greetings.h"

#include "hsv.h"

#include "gdfont4x8.h"
#include "pictures.h"
#include "greetings_route.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kCanvasW = 2048;
constexpr int kCanvasH = 1024;

// Letter spacing a label may use, as its advance per letter in font pixels:
// 4 is the font's own cell; up to 5.75 still reads as one word. A space
// advances half a letter.
constexpr double kMinAdvance = 4.0;
constexpr double kMaxAdvance = 5.75;

// Each label's text and, where its neighbours are close, how far (canvas
// pixels) it reaches before its pan's start and past its end (negative: it
// stops short); kAuto means half of the view's half-extent along the pan.
struct label_def_s {
  int first_move, last_move;
  const char *text;
  double before, after;
};

constexpr double kAuto = -1e9;

constexpr label_def_s kLabels[] = {
    {1, 1, "HELLO FIRST TO PIXEL FOUNDRY", 12, kAuto},
    {3, 3, "SALUTE TO THE HALCYON BEAT MACHINE", kAuto, kAuto},
    {5, 5, "UPHILL RACERS", kAuto, -20},
    {6, 6, "KOBALT KOLLEKTIV", -8, kAuto},
    {8, 8, "A LONG WAY DOWN WE WAVE TO THE DEEP DIVERS OF SUBMARINE SOUND - KEEP THE BASS LOW AND LIGHTS HIGH", kAuto, kAuto},
    {10, 10, "MOTH ORBIT", kAuto, kAuto},
    {12, 12, "THE BINARY BAKERY CREW", kAuto, kAuto},
    {14, 14, "DOWN THE SHAFT TO LAMPLIGHT LABS", kAuto, kAuto},
    {16, 16, "RISING HIGH WITH THE HELIUM HEROES", kAuto, kAuto},
    {18, 18, "HIGH FIVE TO SKYLARK", kAuto, kAuto},
    {20, 20, "VELVET VOLT", kAuto, kAuto},
    {22, 22, "CLIMBING WITH ROPE AND CODE", kAuto, kAuto},
    {24, 24, "THE GRAVITY WELL GANG", kAuto, kAuto},
    {26, 26, "ALL THE WAY UP TO THE TINY TOWER OF SIGNAL AND NOISE - HI UP THERE", kAuto, kAuto},
    {28, 28, "FALLING SLOWLY WITH THE FEATHERWEIGHT DIVISION", kAuto, kAuto},
    {30, 30, "THE ELEVATOR MUSIC ENSEMBLE", kAuto, kAuto},
    {32, 32, "QUANTUM QUOKKA", kAuto, kAuto},
    {34, 34, "THE SLIDE RULERS", kAuto, kAuto},
    {36, 36, "MEGAHERTZ MONKS", kAuto, kAuto},
    {38, 38, "DEEP DOWN AT DUSTBIN DEMOS", kAuto, kAuto},
    {40, 40, "RAINDROP RIOT", kAuto, kAuto},
    {42, 42, "FJORD FM", kAuto, kAuto},
    {44, 44, "ORANGE ODE", kAuto, kAuto},
    {46, 47, "ZAPP", kAuto, kAuto},
    {49, 49, "HEXAGON", kAuto, kAuto},
    {51, 51, "DOWNHILL DOTS", kAuto, kAuto},
    {53, 54, "ZIG ZAG ZEPPELIN", kAuto, kAuto},
    {56, 56, "SKY KITE CLUB", kAuto, kAuto},
    {58, 58, "LUMEN LEGIONS", kAuto, kAuto},
    {60, 60, "TIDAL TAPE CO", kAuto, kAuto},
    {62, 62, "UPWARD GREETS TO COPPER CANARY", kAuto, kAuto},
    {64, 64, "PAPER PLANETS", kAuto, kAuto},
    {66, 66, "ROCKET ROBIN", kAuto, kAuto},
    {68, 68, "GLITCHY", kAuto, kAuto},
    {70, 70, "MOLE PEOPLE", kAuto, kAuto},
    {72, 72, "ZENITH", kAuto, kAuto},
    {74, 74, "AND FINALLY DOWN TO YOU WHO WATCHED", kAuto, kAuto},
};
constexpr int kLabelCount = int(sizeof kLabels / sizeof kLabels[0]);

struct vec_s {
  double x, y;
};
vec_s operator+(vec_s a, vec_s b) { return {a.x + b.x, a.y + b.y}; }
vec_s operator-(vec_s a, vec_s b) { return {a.x - b.x, a.y - b.y}; }
vec_s operator*(double k, vec_s a) { return {k * a.x, k * a.y}; }
double dot(vec_s a, vec_s b) { return a.x * b.x + a.y * b.y; }
double length(vec_s a) { return std::sqrt(dot(a, a)); }

struct rgb_s {
  int r, g, b;
};

// A line of text set along a polyline: glyph i's cell starts at arc length
// `start` + its offset and is turned to the direction of the path there.
struct run_s {
  std::vector<vec_s> path;  // at least two points
  std::string text;
  double block;             // canvas pixels per font pixel
  double start;             // arc length where the first cell starts
  double advance;           // arc length from one letter's cell to the next
  rgb_s top, bottom;        // colour of font rows 0 and 6, blended between
};

struct piece_s {
  greetings_piece_s info;
  std::vector<run_s> runs;
  std::string problem; // empty when the piece fits
};

double path_length(const std::vector<vec_s> &p) {
  double l = 0;
  for (std::size_t i = 1; i < p.size(); ++i)
    l += length(p[i] - p[i - 1]);
  return l;
}

// The point at arc length s and the direction there; before the start and
// past the end the first and last segments go on straight.
void path_at(const std::vector<vec_s> &p, double s, vec_s *point, vec_s *dir) {
  double base = 0;
  for (std::size_t i = 1; i < p.size(); ++i) {
    const double l = length(p[i] - p[i - 1]);
    if (s < base + l || i + 1 == p.size()) {
      *dir = (1.0 / l) * (p[i] - p[i - 1]);
      *point = p[i - 1] + (s - base) * *dir;
      return;
    }
    base += l;
  }
}

// How far the 32x16 view reaches from its centre along direction u, at zoom z.
double half_view(vec_s u, double z) {
  const double ax = std::fabs(u.x), ay = std::fabs(u.y);
  const double hx = ax > 1e-9 ? 16.0 * z / ax : 1e9, hy = ay > 1e-9 ? 8.0 * z / ay : 1e9;
  return std::min(hx, hy);
}

// Advance units before the last letter: a letter counts 1, a space 1/2.
double units_before_last(const std::string &text) {
  double u = 0;
  std::size_t last = text.find_last_not_of(' ');
  for (std::size_t i = 0; i < last; ++i)
    u += text[i] == ' ' ? 0.5 : 1.0;
  return u;
}

// A colour of the wheel through the show's own conversion.
rgb_s hsv(double h, double s, double v) {
  const hsv_t colour{float(h - std::floor(h)), float(s), float(v)};
  const u32 c = hsv_to_rgb(&colour);
  return {int(c >> 16 & 0xff), int(c >> 8 & 0xff), int(c & 0xff)};
}

// Bright, saturated and far apart from one label to the next: hues step by
// the golden ratio; blues and violets get some white so they stay bright.
rgb_s label_colour(int k) {
  const double h = std::fmod(0.07 + 0.618034 * k, 1.0);
  const double s = (h > 0.55 && h < 0.78) ? 0.6 : 0.95;
  return hsv(h, s, 1.0);
}

piece_s make_label(int k) {
  const label_def_s &d = kLabels[k];
  piece_s piece{{d.text, d.first_move, d.last_move}, {}, {}};
  run_s run;
  run.text = d.text;
  const move_s &first = move_list[std::size_t(d.first_move)];
  run.path.push_back({double(first.from_x), double(first.from_y)});
  for (int m = d.first_move; m <= d.last_move; ++m) {
    const move_s &mv = move_list[std::size_t(m)];
    const vec_s to{double(mv.to_x), double(mv.to_y)};
    // A swing back over ground already covered (record 47) adds no path.
    if (run.path.size() >= 2) {
      const vec_s a = run.path.back() - run.path[run.path.size() - 2], b = to - run.path.back();
      if (dot(a, b) < 0)
        continue;
    }
    run.path.push_back(to);
  }
  const double zoom = double(first.from_zoom);
  run.block = 2.0 * zoom;
  const double l = path_length(run.path);
  const vec_s u0 = (1.0 / length(run.path[1] - run.path[0])) * (run.path[1] - run.path[0]);
  const std::size_t n = run.path.size();
  const vec_s u1 = (1.0 / length(run.path[n - 1] - run.path[n - 2])) * (run.path[n - 1] - run.path[n - 2]);
  const double before = d.before != kAuto ? d.before : 0.5 * half_view(u0, zoom);
  const double after = d.after != kAuto ? d.after : 0.5 * half_view(u1, zoom);
  run.start = -before;
  // The last letter's ink (3 font pixels) ends exactly `after` past the end.
  const double span = l + before + after - 3.0 * run.block;
  run.advance = span / units_before_last(run.text);
  const double a = run.advance / run.block;
  if (a < kMinAdvance || a > kMaxAdvance) {
    char msg[200];
    std::snprintf(msg, sizeof msg, "label \"%s\" (move %d): letter advance %.2f font pixels, outside %.2f..%.2f",
                  d.text, d.first_move, a, kMinAdvance, kMaxAdvance);
    piece.problem = msg;
  }
  run.top = run.bottom = label_colour(k);
  piece.runs.push_back(run);
  return piece;
}

run_s straight_run(const char *text, double x, double y, double block, rgb_s top, rgb_s bottom) {
  run_s run;
  run.text = text;
  run.path = {{x, y}, {x + 1.0, y}};
  run.block = block;
  run.start = 0;
  run.advance = 4.0 * block;
  run.top = top;
  run.bottom = bottom;
  return run;
}

// The heading, at the top left below the first two labels and left of the
// first vertical one: NEON DRIFT in big letters, GREETINGS under it. Each
// line's colour runs from its top row to its bottom row like a neon tube's
// glow. `path` y is the middle of the 7 font rows.
piece_s make_heading() {
  piece_s piece{{"heading", -1, -1}, {}, {}};
  piece.runs.push_back(straight_run("NEON", 24, 156, 11, {255, 60, 200}, {255, 150, 40}));
  piece.runs.push_back(straight_run("DRIFT", 22, 248, 9, {40, 230, 255}, {90, 90, 255}));
  piece.runs.push_back(straight_run("GREETINGS", 22, 312, 5, {255, 255, 120}, {255, 200, 60}));
  return piece;
}

// The flight starts on (1324, 712) at zoom 1, a 32x16-pixel view.
piece_s make_hello() {
  piece_s piece{{"hello", -1, -1}, {}, {}};
  piece.runs.push_back(straight_run("HI!", 1313, 712, 2, {255, 255, 255}, {255, 180, 220}));
  return piece;
}

const std::vector<piece_s> &pieces() {
  static const std::vector<piece_s> all = [] {
    std::vector<piece_s> v;
    for (int k = 0; k < kLabelCount; ++k)
      v.push_back(make_label(k));
    v.push_back(make_heading());
    v.push_back(make_hello());
    return v;
  }();
  return all;
}

bool glyph_ink(char c, int col, int row) {
  const int code = static_cast<unsigned char>(c);
  if (code < 32 || code > 127 || col < 0 || col > 3 || row < 0 || row > 7)
    return false;
  return gdFont4x8Data[std::size_t((code - 32) * 32 + row * 4 + col)] != 0;
}

// Coverage of one piece: for every pixel of its bounding box, which of the
// 4x4 sample points are ink, and the sum of those samples' colours.
struct coverage_s {
  int x0 = 0, y0 = 0, w = 0, h = 0;
  std::vector<std::uint16_t> samples;
  std::vector<int> sum_r, sum_g, sum_b;
};

struct glyph_place_s {
  char c;
  vec_s origin, u, v; // cell's top-left corner, reading direction, downward
  double block;
  rgb_s top, bottom;
};

std::vector<glyph_place_s> place_glyphs(const piece_s &piece) {
  std::vector<glyph_place_s> out;
  for (const run_s &run : piece.runs) {
    double pos = run.start;
    for (char c : run.text) {
      if (c == ' ') {
        pos += 0.5 * run.advance;
        continue;
      }
      vec_s centre{}, u{};
      path_at(run.path, pos + 1.5 * run.block, &centre, &u);
      const vec_s v{-u.y, u.x};
      const vec_s origin = centre - (1.5 * run.block) * u - (3.5 * run.block) * v;
      out.push_back({c, origin, u, v, run.block, run.top, run.bottom});
      pos += run.advance;
    }
  }
  return out;
}

bool cover(const piece_s &piece, coverage_s *cov, std::string *problem) {
  const std::vector<glyph_place_s> glyphs = place_glyphs(piece);
  double minx = 1e9, miny = 1e9, maxx = -1e9, maxy = -1e9;
  for (const glyph_place_s &g : glyphs)
    for (double a : {0.0, 4.0})
      for (double b : {0.0, 8.0}) {
        const vec_s p = g.origin + (a * g.block) * g.u + (b * g.block) * g.v;
        minx = std::min(minx, p.x), maxx = std::max(maxx, p.x);
        miny = std::min(miny, p.y), maxy = std::max(maxy, p.y);
      }
  cov->x0 = int(std::floor(minx)) - 1;
  cov->y0 = int(std::floor(miny)) - 1;
  cov->w = int(std::ceil(maxx)) + 2 - cov->x0;
  cov->h = int(std::ceil(maxy)) + 2 - cov->y0;
  const std::size_t n = std::size_t(cov->w) * std::size_t(cov->h);
  cov->samples.assign(n, 0);
  cov->sum_r.assign(n, 0);
  cov->sum_g.assign(n, 0);
  cov->sum_b.assign(n, 0);
  for (const glyph_place_s &g : glyphs) {
    double gx0 = 1e9, gy0 = 1e9, gx1 = -1e9, gy1 = -1e9;
    for (double a : {0.0, 4.0})
      for (double b : {0.0, 8.0}) {
        const vec_s p = g.origin + (a * g.block) * g.u + (b * g.block) * g.v;
        gx0 = std::min(gx0, p.x), gx1 = std::max(gx1, p.x);
        gy0 = std::min(gy0, p.y), gy1 = std::max(gy1, p.y);
      }
    for (int py = int(std::floor(gy0)); py <= int(std::ceil(gy1)); ++py)
      for (int px = int(std::floor(gx0)); px <= int(std::ceil(gx1)); ++px)
        for (int s = 0; s < 16; ++s) {
          const vec_s p{px + (s % 4 + 0.5) / 4.0, py + (s / 4 + 0.5) / 4.0};
          const vec_s d = p - g.origin;
          const double a = dot(d, g.u) / g.block, b = dot(d, g.v) / g.block;
          if (a < 0 || b < 0 || !glyph_ink(g.c, int(a), int(b)))
            continue;
          if (px < 0 || py < 0 || px >= kCanvasW || py >= kCanvasH) {
            *problem = std::string(piece.info.name) + ": ink leaves the canvas";
            return false;
          }
          const std::size_t i = std::size_t(py - cov->y0) * std::size_t(cov->w) + std::size_t(px - cov->x0);
          if (cov->samples[i] & (1u << s))
            continue;
          cov->samples[i] = std::uint16_t(cov->samples[i] | (1u << s));
          const double t = std::clamp((b - 0.5) / 6.0, 0.0, 1.0);
          cov->sum_r[i] += int(std::lround(g.top.r + t * (g.bottom.r - g.top.r)));
          cov->sum_g[i] += int(std::lround(g.top.g + t * (g.bottom.g - g.top.g)));
          cov->sum_b[i] += int(std::lround(g.top.b + t * (g.bottom.b - g.top.b)));
        }
  }
  return true;
}

} // namespace

int greetings_piece_count() { return int(pieces().size()); }

const greetings_piece_s &greetings_piece(int k) { return pieces()[std::size_t(k)].info; }

bool greetings_draw_piece(gdImagePtr canvas, int k) {
  const piece_s &piece = pieces()[std::size_t(k)];
  if (!piece.problem.empty()) {
    std::fprintf(stderr, "greetings: %s\n", piece.problem.c_str());
    return false;
  }
  coverage_s cov;
  std::string problem;
  if (!cover(piece, &cov, &problem)) {
    std::fprintf(stderr, "greetings: %s\n", problem.c_str());
    return false;
  }
  for (int y = 0; y < cov.h; ++y)
    for (int x = 0; x < cov.w; ++x) {
      const std::size_t i = std::size_t(y) * std::size_t(cov.w) + std::size_t(x);
      if (cov.samples[i] == 0)
        continue;
      // Edge pixels are the colour scaled by their coverage: the sum of the
      // covered samples over all 16, rounded.
      gdImageSetPixel(canvas, cov.x0 + x, cov.y0 + y,
                      gdTrueColor((cov.sum_r[i] + 8) / 16, (cov.sum_g[i] + 8) / 16, (cov.sum_b[i] + 8) / 16));
    }
  return true;
}

gdImagePtr draw_greetings() {
  gdImagePtr canvas = gdImageCreateTrueColor(kCanvasW, kCanvasH);
  if (!canvas)
    return nullptr;
  for (int k = 0; k < greetings_piece_count(); ++k)
    if (!greetings_draw_piece(canvas, k)) {
      gdImageDestroy(canvas);
      return nullptr;
    }
  return canvas;
}
