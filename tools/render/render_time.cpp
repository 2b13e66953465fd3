#include "render_time.h"

#include "show_timeline.h"

#include <cstdio>

namespace {

// Digits only, at least one, at most `most`; false otherwise.
bool digits(const std::string &text, std::size_t from, std::size_t to, std::size_t most, long *value) {
  if (to <= from || to - from > most)
    return false;
  *value = 0;
  for (std::size_t i = from; i < to; ++i) {
    if (text[i] < '0' || text[i] > '9')
      return false;
    *value = *value * 10 + (text[i] - '0');
  }
  return true;
}

} // namespace

bool render_time_parse(const std::string &text, render_time *time, std::string *error) {
  for (std::size_t i = 0; i < SHOW_SCENES.size(); ++i)
    if (text == SHOW_SCENES[i].name) {
      *time = {true, i, 0};
      return true;
    }
  const std::size_t colon = text.find(':'), dot = text.find('.');
  const std::size_t seconds_end = dot == std::string::npos ? text.size() : dot;
  long minutes = 0, seconds = 0, fraction = 0;
  const bool ok = colon != std::string::npos && digits(text, 0, colon, 3, &minutes) &&
                  seconds_end == colon + 3 && digits(text, colon + 1, seconds_end, 2, &seconds) && seconds < 60 &&
                  (dot == std::string::npos || digits(text, dot + 1, text.size(), 3, &fraction));
  if (!ok) {
    std::string scenes;
    for (const show_scene &scene : SHOW_SCENES)
      scenes += std::string(scenes.empty() ? "" : ", ") + "\"" + scene.name + "\"";
    *error = "'" + text + "' is neither a time (m:ss or m:ss.fff) nor a scene of the show (" + scenes + ")";
    return false;
  }
  for (std::size_t digit = text.size() - (dot == std::string::npos ? text.size() : dot + 1); digit < 3; ++digit)
    fraction *= 10;
  *time = {false, 0, (minutes * 60 + seconds) * 1000 + fraction};
  return true;
}

std::string render_time_text(std::int64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld.%03lld", (long long)(ms / 60000), (long long)(ms / 1000 % 60),
                (long long)(ms % 1000));
  return text;
}
