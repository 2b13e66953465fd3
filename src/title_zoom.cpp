#include "title_zoom.h"

#include "assets.h"
#include "fades.h"
#include "opcgd.h"
#include "show_timeline.h"
#include "wait_until.h"

namespace {

// The shared frame of every greetings-canvas view.
gdImagePtr zim = nullptr;

constexpr int WHOLE_CANVAS_X = 1024, WHOLE_CANVAS_Y = 512;
constexpr float WHOLE_CANVAS_ZOOM = 64.0f;

} // namespace

// The linked-in canvas is taken as valid, as every linked-in picture is.
image_zoom_t vorn_zoom_init() {
  const gdImagePtr canvas = gdImageCreateFromPngPtr(int(PNG_VORN_GREETINGS_SIZE),
                                                    const_cast<unsigned char *>(PNG_VORN_GREETINGS));
  zim = gdImageCreateTrueColor(32, 16);
  const image_zoom_t zoom = image_zoom_init(zim, canvas);
  gdImageDestroy(canvas);
  return zoom;
}

void vorn_title(opc_sink s, image_zoom_t zoom, alsaplay_t alsa, int end_ms) {
  const wait_until_t clock = wait_until_init();
  image_zoom_calc(zoom, WHOLE_CANVAS_X, WHOLE_CANVAS_Y, WHOLE_CANVAS_ZOOM);
  image_normalize(zim);
  // Still silent: the music starts on the picture. A fade of N steps sends
  // N - 1 frames.
  fade_in(s, zim, PLAYBACK_STARTS_AFTER_FRAMES + 1, 40);

  alsaplay_start(alsa); // every cue of the show counts from here
  wait_until_ms(clock, 40);
  while (alsaplay_pos_time(alsa) < end_ms) {
    wait_until_timeout(clock);
    opc_put_gd_image_32x16z(s, zim);
  }
  wait_until_done(clock);
}

void vorn_zoom_done(image_zoom_t zoom) {
  image_zoom_done(zoom);
  gdImageDestroy(zim);
  zim = nullptr;
}

gdImagePtr vorn_zoom_frame() { return zim; }
