#include "greetings.h"

#include "fades.h"
#include "greetings_route.h"
#include "opcgd.h"
#include "wait_until.h"

#include <cassert>
#include <cmath>
#include <numbers>

#ifdef NDEBUG
#error "the greetings flight checks its zoom with assert(): build it without NDEBUG"
#endif

namespace {

constexpr int HOP_FRAMES = 50; // steps of a jump's travel (51 frames)

// A centre coordinate on the way: float(from) + float(i * d) / divisor,
// truncated toward zero.
int along(int from, int i, int d, float divisor) { return int(float(from) + float(i * d) / divisor); }

void render(image_zoom_t zoom, int x, int y, float z) { image_zoom_calc(zoom, x, y, z); }

void send_normalised(opc_sink s, image_zoom_t zoom, wait_until_t clock, int ticks) {
  image_normalize(zoom->im);
  for (int i = 0; i < ticks; ++i) {
    wait_until_timeout(clock);
    opc_put_gd_image_32x16z(s, zoom->im);
  }
}

// Hops and the ease out share their shape: the start view held, 51 frames of
// travel with the zoom given by `zoom_at`, the end view held.
template <typename ZoomAt> void hop(opc_sink s, int move, image_zoom_t zoom, int hold_ticks, ZoomAt zoom_at) {
  const move_s &m = move_list[size_t(move)];
  const int dx = m.to_x - m.from_x, dy = m.to_y - m.from_y;
  const wait_until_ptr clock(wait_until_init());
  wait_until_ms(clock.get(), 40);
  render(zoom, m.from_x, m.from_y, m.from_zoom);
  send_normalised(s, zoom, clock.get(), hold_ticks);
  for (int i = 0; i <= HOP_FRAMES; ++i) {
    const float h = zoom_at(m, i);
    assert(h > 0.0);
    render(zoom, along(m.from_x, i, dx, float(HOP_FRAMES)), along(m.from_y, i, dy, float(HOP_FRAMES)), h);
    send_normalised(s, zoom, clock.get(), 1);
  }
  render(zoom, m.to_x, m.to_y, m.to_zoom);
  send_normalised(s, zoom, clock.get(), hold_ticks);
}

} // namespace

void linear(opc_sink s, int move, image_zoom_t zoom) {
  const move_s &m = move_list[size_t(move)];
  const int dx = m.to_x - m.from_x, dy = m.to_y - m.from_y;
  const u32 dist = isqrt(u32(dx * dx + dy * dy));
  float steps = float(dist) / (m.to_zoom + m.from_zoom); // two wall pixels per frame
  if (steps > 120.0f)
    steps = float(90 + 7 * std::sqrt(double(steps) - 100)); // long pans are compressed

  const wait_until_ptr clock(wait_until_init());
  wait_until_ms(clock.get(), 40);
  render(zoom, m.from_x, m.from_y, m.from_zoom);
  for (int i = 0; float(i) <= steps; ++i) {
    render(zoom, along(m.from_x, i, dx, steps), along(m.from_y, i, dy, steps), m.from_zoom);
    wait_until_timeout(clock.get());
    opc_put_gd_image_32x16z(s, zoom->im); // pans go out as rendered, not normalised
  }
  render(zoom, m.to_x, m.to_y, m.to_zoom);
}

void jump(opc_sink s, int move, image_zoom_t zoom) {
  hop(s, move, zoom, 5, [](const move_s &m, int i) {
    const float swell = i == 0 ? 0.0f : std::sin(float(i * std::numbers::pi / HOP_FRAMES));
    const float base = i < 25 ? m.from_zoom : m.to_zoom;
    return base + (16.0f - base) * swell;
  });
}

void jump_out(opc_sink s, int move, image_zoom_t zoom) {
  hop(s, move, zoom, 12, [](const move_s &m, int i) {
    const float ease = i == 0 ? 0.0f : std::sin(float(i * (std::numbers::pi / 2) / HOP_FRAMES));
    return m.from_zoom + (m.to_zoom - m.from_zoom) * ease;
  });
}

void greetings(opc_sink s, image_zoom_t zoom, alsaplay_t alsa, int hold_end_ms) {
  const wait_until_ptr clock(wait_until_init());
  for (int move = 0; move < int(move_list.size()); ++move) {
    switch (move_list[size_t(move)].kind) {
    case move_linear: linear(s, move, zoom); break;
    case move_jump: jump(s, move, zoom); break;
    case move_jump_out: jump_out(s, move, zoom); break;
    default: break; // unknown moves are skipped
    }
  }

  render(zoom, 1024, 512, 64.0f);
  image_normalize(zoom->im);
  wait_until_ms(clock.get(), 40);
  // A flight that ends early holds the whole canvas for five seconds from
  // now, not until the hold end time.
  const alsaplay_time_t now = alsaplay_pos_time(alsa);
  if (now < hold_end_ms)
    hold_end_ms = now + 5000;
  do {
    wait_until_timeout(clock.get());
    opc_put_gd_image_32x16z(s, zoom->im);
  } while (alsaplay_pos_time(alsa) < hold_end_ms);

  fade_out(s, zoom->im, 100, 40);

  wait_until_ms(clock.get(), 40);
  gdImageFilledRectangle(zoom->im, 0, 0, gdImageSX(zoom->im) - 1, gdImageSY(zoom->im) - 1, 0);
  while (alsaplay_pos_time(alsa) < alsaplay_total_time(alsa)) {
    wait_until_timeout(clock.get());
    opc_put_gd_image_32x16z(s, zoom->im);
  }
}
