// The show driver: the whole show from start-up to shut-down, as the demo
// plays it. The frames go to the LED server named by $OPC (else
// localhost:7890), the soundtrack to the audio player the program links.
#pragma once

#include <cstddef>

// Told each scene's place in the timeline (SHOW_SCENES, show_timeline.h)
// just before the driver starts it, for a program that marks where scenes
// begin.
using show_scene_observer = void (*)(std::size_t scene, void *context);

// Plays the show once; returns the exit status, 0 (fatal errors end the
// process where they happen).
int show_run(show_scene_observer observer = nullptr, void *context = nullptr);
