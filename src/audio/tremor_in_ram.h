// An Ogg stream served to the Vorbis decoder from memory.
//
// ov_load_data decodes bytes the caller keeps (the linked-in soundtrack) in
// place, without a copy; ov_load_file reads a whole file into memory once and
// serves it the same way. Both hand back ov_open_callbacks' result. After a
// successful open the decoder state owns the stream record: ov_clear releases
// it (and the bytes of a loaded file, never the caller's). A stream the decoder
// rejects is released at once.
//
// Allocation and file errors are fatal: a perror report and exit status 1.
#pragma once

#include <cstddef>

struct OggVorbis_File;

// 0 on success, else the decoder's negative error code.
int ov_load_data(const unsigned char *data, std::size_t size, OggVorbis_File *vf);
int ov_load_file(const char *filename, OggVorbis_File *vf);
