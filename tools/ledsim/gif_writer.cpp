#include "gif_writer.h"

#include "led_board.h"
#include "matrix_wiring.h"
#include "ledsim_output.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

struct gif_writer_s {
  std::FILE *file;
  std::string path;
  int scale;
  bool has_pending;
  wall_frame pending;        // the frame on show, not yet written
  std::int64_t first_ns;     // receive time of the first frame: time 0 of the animation
  std::int64_t last_ns;      // receive time of the latest frame, merged or not
  std::int64_t written_cs;   // length of the animation written so far, in 1/100 s
  int error;                 // errno of the first failed write; -1 for an encoder failure
};

namespace {

constexpr int GIF_MIN_SCALE = 4;
constexpr int MIN_DELAY_CS = 2;
constexpr int MAX_DELAY_CS = 65535; // the delay field has 16 bits
constexpr int LAST_DELAY_CS = 4;

// Receive time as a point of the animation, rounded to the nearest 1/100 s.
std::int64_t time_cs(const gif_writer_s &gif, std::int64_t received_ns) {
  const std::int64_t since = received_ns - gif.first_ns;
  return since < 0 ? 0 : (since + 5'000'000) / 10'000'000;
}

// Takes the encoder's buffer, null when it failed, and frees it.
void write_bytes(gif_writer_s &gif, void *data, int size) {
  if (!data) {
    if (gif.error == 0)
      gif.error = -1;
    return;
  }
  errno = 0;
  if (gif.error == 0 && std::fwrite(data, 1, std::size_t(size), gif.file) != std::size_t(size))
    gif.error = errno ? errno : EIO;
  gdFree(data);
}

int distinct_led_colours(const wall_frame &frame) {
  std::array<int, MATRIX_LEDS> colours;
  for (int i = 0; i < MATRIX_LEDS; ++i)
    colours[std::size_t(i)] = gdTrueColor(frame.rgb[std::size_t(3 * i)], frame.rgb[std::size_t(3 * i + 1)],
                                          frame.rgb[std::size_t(3 * i + 2)]);
  std::sort(colours.begin(), colours.end());
  const auto end = std::unique(colours.begin(), colours.end());
  return int(end - colours.begin()) - int(std::binary_search(colours.begin(), end, LED_BOARD_COLOUR));
}

// A palette image of the board's size with the board colour at index 0, the
// colour a GIF decoder takes for the background.
led_board_image board_palette_image(int scale) {
  led_board_image im(gdImageCreate(led_board_width(scale), led_board_height(scale)));
  if (im)
    gdImageColorAllocate(im.get(), LED_BOARD_COLOUR >> 16, (LED_BOARD_COLOUR >> 8) & 255, LED_BOARD_COLOUR & 255);
  return im;
}

// The palette image for a frame. When the frame has more colours than fit,
// the palette is filled with the quantiser's choice for its LEDs, refined to
// the mean of the LEDs each entry stands for; the drawing then resolves every
// LED to its closest entry.
led_board_image palette_image(const gif_writer_s &gif, const wall_frame &frame) {
  led_board_image im = board_palette_image(gif.scale);
  if (!im || distinct_led_colours(frame) <= gdMaxColors - 1)
    return im;
  led_board_image leds(gdImageCreateTrueColor(MATRIX_WIDTH, MATRIX_HEIGHT));
  if (!leds)
    return nullptr;
  for (int y = 0; y < MATRIX_HEIGHT; ++y)
    for (int x = 0; x < MATRIX_WIDTH; ++x) {
      const u8 *rgb = &frame.rgb[std::size_t(3 * (MATRIX_WIDTH * y + x))];
      gdImageSetPixel(leds.get(), x, y, gdTrueColor(rgb[0], rgb[1], rgb[2]));
    }
  led_board_image chosen(gdImageCreatePaletteFromTrueColor(leds.get(), 0, gdMaxColors - 1));
  if (!chosen || gdImageColorMatch(leds.get(), chosen.get()) != 0)
    return nullptr;
  for (int i = 0; i < gdImageColorsTotal(chosen.get()); ++i)
    gdImageColorAllocate(im.get(), gdImageRed(chosen.get(), i), gdImageGreen(chosen.get(), i),
                         gdImageBlue(chosen.get(), i));
  return im;
}

void write_frame(gif_writer_s &gif, const wall_frame &frame, std::int64_t delay_cs) {
  if (gif.error != 0)
    return;
  const led_board_image im = palette_image(gif, frame);
  if (!im) {
    gif.error = -1;
    return;
  }
  led_board_draw(im.get(), 0, 0, gif.scale, frame);
  do {
    const int delay = int(std::min<std::int64_t>(delay_cs, MAX_DELAY_CS));
    int size = 0;
    void *data = gdImageGifAnimAddPtr(im.get(), &size, 1, 0, 0, delay, gdDisposalNone, nullptr);
    write_bytes(gif, data, size);
    delay_cs -= delay;
  } while (delay_cs > 0 && gif.error == 0);
}

} // namespace

gif_writer_t gif_writer_init(const char *path, int scale) {
  if (scale < GIF_MIN_SCALE || scale > LED_BOARD_MAX_SCALE) {
    std::fprintf(stderr, "ledsim: GIF scale %d is not between %d and %d\n", scale, GIF_MIN_SCALE, LED_BOARD_MAX_SCALE);
    return nullptr;
  }
  std::FILE *file = ledsim_open_output(path);
  if (!file)
    return nullptr;
  auto *gif = new gif_writer_s{file, path, scale, false, {}, 0, 0, 0, 0};
  // The screen: board-sized, the board colour as background, looping forever.
  if (const led_board_image screen = board_palette_image(scale)) {
    int size = 0;
    void *data = gdImageGifAnimBeginPtr(screen.get(), &size, 1, 0);
    write_bytes(*gif, data, size);
  } else {
    gif->error = -1;
  }
  return gif;
}

void gif_writer_add(gif_writer_t gif, const wall_frame &frame) {
  if (!gif->has_pending) {
    gif->pending = frame;
    gif->first_ns = gif->last_ns = frame.received_ns;
    gif->has_pending = true;
    return;
  }
  gif->last_ns = frame.received_ns;
  if (frame.rgb == gif->pending.rgb)
    return;
  const std::int64_t end_cs = time_cs(*gif, frame.received_ns);
  if (end_cs - gif->written_cs >= MIN_DELAY_CS) {
    write_frame(*gif, gif->pending, end_cs - gif->written_cs);
    gif->written_cs = end_cs;
  }
  gif->pending = frame;
}

int gif_writer_done(gif_writer_t gif) {
  if (!gif)
    return 1;
  if (gif->has_pending) {
    // The last frame stays until the latest frame merged into it, so the total
    // is the frames' span plus its own 4/100 s.
    write_frame(*gif, gif->pending,
                std::max<std::int64_t>(0, time_cs(*gif, gif->last_ns) - gif->written_cs) + LAST_DELAY_CS);
  } else {
    std::fprintf(stderr, "ledsim: no frames received; %s shows a dark wall\n", gif->path.c_str());
    wall_frame dark{};
    write_frame(*gif, dark, LAST_DELAY_CS);
  }
  int size = 0;
  void *data = gdImageGifAnimEndPtr(&size);
  write_bytes(*gif, data, size);
  errno = 0;
  if (std::fclose(gif->file) != 0 && gif->error == 0)
    gif->error = errno ? errno : EIO;
  const int error = gif->error;
  if (error != 0)
    std::fprintf(stderr, "ledsim: cannot write %s: %s\n", gif->path.c_str(),
                 error < 0 ? "the GIF encoder failed" : std::strerror(error));
  delete gif;
  return error == 0 ? 1 : 0;
}
