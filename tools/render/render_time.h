// The renderer's TIME arguments: a moment of the show as m:ss or m:ss.fff,
// or the start of a scene of the timeline by its name ("credits: lead").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct render_time {
  bool is_scene;     // the start of SHOW_SCENES[scene], known once the show gets there
  std::size_t scene;
  std::int64_t ms;   // otherwise: milliseconds of show time
};

// False, with what was wrong in `*error`, for anything else.
bool render_time_parse(const std::string &text, render_time *time, std::string *error);

// Milliseconds of show time as m:ss.fff.
std::string render_time_text(std::int64_t ms);
