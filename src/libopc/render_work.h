// What the effect renderers share: their record and their oversampled work
// image, made the same way. Running out of memory while the show sets up is
// fatal, like any other resource failure: a report and exit status 1.
#pragma once

#include <gd.h>

#include <cstddef>

// A zeroed record of `size` bytes.
void *render_record(std::size_t size);

// A true-colour image `oversampling` times the target's size, black marked
// as its transparent colour. `renderer` names the caller in the report.
gdImagePtr render_work_image(gdImagePtr target, int oversampling, const char *renderer);
