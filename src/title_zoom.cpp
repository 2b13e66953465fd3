#include "title_zoom.h"

#include "assets.h"
#include "fades.h"
#include "matrix_wiring.h"
#include "opcgd.h"
#include "show_timeline.h"
#include "wait_until.h"

namespace {

// The shared frame of every greetings-canvas view, made by vorn_zoom_init and
// destroyed by vorn_zoom_done. A plain pointer, not an owner: an owner here
// would be destroyed by exit(), which a fatal error on the audio thread (a
// broken soundtrack) calls while the show's thread may still draw into it.
gdImagePtr zim = nullptr;

constexpr int WHOLE_CANVAS_X = 1024, WHOLE_CANVAS_Y = 512;
constexpr float WHOLE_CANVAS_ZOOM = 64.0f;

} // namespace

// The linked-in canvas is taken as valid, as every linked-in picture is.
image_zoom_t vorn_zoom_init() {
  const gd_image_ptr canvas(
      gdImageCreateFromPngPtr(int(PNG_VORN_GREETINGS_SIZE), const_cast<unsigned char *>(PNG_VORN_GREETINGS)));
  zim = gdImageCreateTrueColor(MATRIX_WIDTH, MATRIX_HEIGHT);
  return image_zoom_init(zim, canvas.get());
}

void vorn_title(opc_sink s, image_zoom_t zoom, alsaplay_t alsa, int end_ms) {
  const wait_until_ptr clock(wait_until_init());
  image_zoom_calc(zoom, WHOLE_CANVAS_X, WHOLE_CANVAS_Y, WHOLE_CANVAS_ZOOM);
  image_normalize(zim);
  // Still silent: the music starts on the picture. A fade of N steps sends
  // N - 1 frames.
  fade_in(s, zim, PLAYBACK_STARTS_AFTER_FRAMES + 1, 40);

  alsaplay_start(alsa); // every cue of the show counts from here
  wait_until_ms(clock.get(), 40);
  while (alsaplay_pos_time(alsa) < end_ms) {
    wait_until_timeout(clock.get());
    opc_put_gd_image_32x16z(s, zim);
  }
}

// The zoom's record points at the frame, so it goes first.
void vorn_zoom_done(image_zoom_t zoom) {
  image_zoom_done(zoom);
  if (zim)
    gdImageDestroy(zim);
  zim = nullptr;
}

gdImagePtr vorn_zoom_frame() { return zim; }
