// The tall drink can of the analyser scene. The wall sees it through a 119x59
// window, about 3.7 picture pixels per LED, gliding from the lid to the base,
// so the print is large: a four-letter brand, a palm in a ring and a tagline,
// printed flat and then lit as a cylinder with the light on the left.
#include "draw_util.h"
#include "pictures.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kWidth = 119;
constexpr int kHeight = 305;
constexpr int kCanX0 = 22, kCanX1 = 96;  // body columns, inclusive
constexpr int kBodyTop = 34, kBodyBottom = 282;
constexpr int kCentre = (kCanX0 + kCanX1) / 2;

const int kPink = gdTrueColor(255, 64, 170);
const int kPinkLight = gdTrueColor(255, 150, 210);
const int kCream = gdTrueColor(255, 236, 246);
const int kCanBase = gdTrueColor(40, 30, 58);
const int kMetal = gdTrueColor(190, 192, 214);

// Diffuse and specular light across a cylinder whose edges are at u = -1, +1.
struct light_s {
  float diffuse, specular, rim;
};

light_s cylinder_light(float u) {
  u = std::clamp(u, -1.0f, 1.0f);
  const float nz = std::sqrt(1.0f - u * u);
  // Light from the left, a little in front.
  const float lambert = std::max(0.0f, -0.62f * u + 0.78f * nz);
  const float specular = std::pow(std::max(0.0f, 1.0f - std::fabs(u + 0.45f) * 3.5f), 2.0f);
  // The blue-violet room lights the far edge faintly.
  const float rim = std::max(0.0f, (u - 0.78f) * 4.0f);
  return {0.25f + 1.05f * lambert, specular, rim};
}

int lit(int colour, const light_s &l) {
  int c = draw_scale(colour, l.diffuse);
  c = draw_mix(c, gdTrueColor(255, 255, 255), 0.35f * l.specular);
  return draw_mix(c, gdTrueColor(110, 90, 230), 0.6f * l.rim);
}

float across(int x, int x0, int x1) {
  return (float(x) + 0.5f - float(x0 + x1 + 1) * 0.5f) / (float(x1 - x0 + 1) * 0.5f);
}

void background(gdImagePtr im) {
  const int top = gdTrueColor(34, 14, 86), bottom = gdTrueColor(12, 8, 40);
  const int glow = gdTrueColor(96, 54, 170);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      int c = draw_mix(top, bottom, float(y) / float(kHeight - 1));
      // The light source sits off to the left.
      c = draw_mix(c, glow, std::max(0.0f, 0.55f - float(x) / 70.0f));
      gdImageSetPixel(im, x, y, c);
    }
  // The can's shadow falls to the right, soft at its edge.
  for (int y = 20; y < kHeight; ++y)
    for (int x = kCanX1 + 1; x < std::min(kWidth, kCanX1 + 18); ++x) {
      const float depth = 0.5f + 0.5f * float(x - kCanX1) / 18.0f;
      gdImageSetPixel(im, x, y, draw_scale(gdImageGetTrueColorPixel(im, x, y), depth));
    }
  // A few rising bubbles.
  draw_rng_s rng = draw_rng_make(0xd41c);
  for (int i = 0; i < 26; ++i) {
    const bool left = i % 2 == 0;
    const int x = left ? draw_rng_between(rng, 3, kCanX0 - 6) : draw_rng_between(rng, kCanX1 + 6, kWidth - 4);
    const int y = draw_rng_between(rng, 6, kHeight - 8);
    const int r = draw_rng_between(rng, 2, 4);
    gdImageEllipse(im, x, y, 2 * r, 2 * r, gdTrueColor(120, 120, 230));
    gdImageSetPixel(im, x - r / 2, y - r / 2, gdTrueColor(200, 200, 255));
  }
}

void palm(gdImagePtr im, int cx, int cy) {
  draw_outlined_ellipse(im, cx, cy, 58, 58, 3, kCanBase, kPink);
  gdImageFilledEllipse(im, cx, cy + 26, 52, 10, kPink);  // the island
  // The trunk leans and curves: thick segments narrowing to the crown.
  const int trunk[6][2] = {{-8, 24}, {-6, 16}, {-3, 8}, {0, 0}, {2, -8}, {3, -14}};
  for (int i = 0; i + 1 < 6; ++i)
    draw_thick_line(im, cx + trunk[i][0], cy + trunk[i][1], cx + trunk[i + 1][0],
                    cy + trunk[i + 1][1], 7 - i, kPink);
  for (int i = 1; i < 5; ++i)
    gdImageLine(im, cx + trunk[i][0] - 2, cy + trunk[i][1], cx + trunk[i][0] + 2, cy + trunk[i][1] - 1,
                kCanBase);
  // Fronds: leaves that rise from the crown and droop at their tips.
  const int fronds[6][2] = {{-27, 8}, {-22, -8}, {-8, -18}, {10, -18}, {24, -8}, {28, 8}};
  const int crown_x = cx + 3, crown_y = cy - 14;
  for (const auto &f : fronds) {
    const gdPoint leaf[4] = {{crown_x, crown_y},
                             {crown_x + f[0] / 2, crown_y + f[1] / 2 - 8},
                             {crown_x + f[0], crown_y + f[1]},
                             {crown_x + f[0] / 2, crown_y + f[1] / 2 - 1}};
    draw_outlined_polygon(im, leaf, 2, kPink, kPink);
  }
  gdImageFilledEllipse(im, crown_x + 4, crown_y + 4, 5, 5, kPinkLight);
  gdImageFilledEllipse(im, crown_x - 3, crown_y + 5, 5, 5, kPinkLight);
}

void print(gdImagePtr im) {
  gdImageFilledRectangle(im, kCanX0, kBodyTop, kCanX1, kBodyBottom, kCanBase);
  for (int y : {kBodyTop + 6, kBodyBottom - 12}) gdImageFilledRectangle(im, kCanX0, y, kCanX1, y + 3, kPink);
  const char *brand = "VELU";
  const int bx = kCentre - draw_text_blocks_width(brand, 4) / 2;
  draw_text_blocks(im, bx + 2, 52, brand, 4, kPink);
  draw_text_blocks(im, bx, 50, brand, 4, kCream);
  palm(im, kCentre, 148);
  const char *tag = "NIGHT";
  draw_text_blocks(im, kCentre - draw_text_blocks_width(tag, 3) / 2, 194, tag, 3, kCream);
  const char *sub = "FIZZ";
  draw_text_blocks(im, kCentre - draw_text_blocks_width(sub, 3) / 2, 224, sub, 3, kPink);
}

void light_body(gdImagePtr im) {
  for (int x = kCanX0; x <= kCanX1; ++x) {
    const light_s l = cylinder_light(across(x, kCanX0, kCanX1));
    for (int y = kBodyTop; y <= kBodyBottom; ++y)
      gdImageSetPixel(im, x, y, lit(gdImageGetTrueColorPixel(im, x, y), l));
  }
}

// A band of bare metal whose width goes from w0 at y0 to w1 at y1.
void metal_band(gdImagePtr im, int y0, int y1, int w0, int w1) {
  for (int y = y0; y <= y1; ++y) {
    const float t = y1 == y0 ? 0.0f : float(y - y0) / float(y1 - y0);
    const int half = int(float(w0) * 0.5f + (float(w1) - float(w0)) * 0.5f * t);
    for (int x = kCentre - half; x <= kCentre + half; ++x)
      gdImageSetPixel(im, x, y, lit(kMetal, cylinder_light(across(x, kCentre - half, kCentre + half))));
  }
}

void lid(gdImagePtr im) {
  metal_band(im, 18, kBodyTop - 1, 62, kCanX1 - kCanX0);
  gdImageFilledEllipse(im, kCentre, 18, 64, 12, gdTrueColor(214, 216, 236));
  gdImageFilledEllipse(im, kCentre, 19, 54, 8, gdTrueColor(120, 118, 150));
  gdImageFilledEllipse(im, kCentre - 4, 18, 20, 6, gdTrueColor(230, 232, 246));  // the tab
  gdImageFilledEllipse(im, kCentre - 4, 18, 8, 3, gdTrueColor(90, 88, 120));
}

void base(gdImagePtr im) {
  metal_band(im, kBodyBottom + 1, kBodyBottom + 10, kCanX1 - kCanX0, 60);
  gdImageFilledEllipse(im, kCentre, kBodyBottom + 10, 60, 8, gdTrueColor(70, 66, 96));
}

}  // namespace

gdImagePtr draw_drink() {
  gdImagePtr im = gdImageCreateTrueColor(kWidth, kHeight);
  background(im);
  print(im);
  light_body(im);
  lid(im);
  base(im);
  return im;
}
