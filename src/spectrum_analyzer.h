// The analyser scene and the spectrum tap it installs on the audio player.
//
// visualize, called on the audio thread after every decoded block, keeps the
// last 4096 mono samples (the two latest blocks), transforms them and sums the
// spectral power into 32 bands, roughly logarithmic in frequency: `bins`,
// plain power sums, band 0 lowest. The scene creates `fft` and `out_cpx`
// before it installs the tap and destroys them after removing it; it reads
// `bins` on the main thread without a lock, so a frame may see a mixture of
// two blocks. Each band is a relaxed atomic: no ordering, no torn floats.
#pragma once

#include "alsaplay.h"
#include "opc.h"

#include <fftw3.h>

#include <array>
#include <atomic>

inline constexpr int SPECTRUM_POINTS = 4096;
inline constexpr int SPECTRUM_HALF = SPECTRUM_POINTS / 2;
inline constexpr int SPECTRUM_BANDS = 32;

extern fftwf_plan fft;                         // real to complex, fdata to out_cpx
extern float fdata[SPECTRUM_POINTS];           // the transform's input
extern float bdata[SPECTRUM_POINTS];           // history: two halves of 2048 samples
extern int offset;                             // where the next block goes: 0 or 2048
extern fftwf_complex *out_cpx;                 // 2049 values, the transform's output
extern std::array<std::atomic<float>, SPECTRUM_BANDS> bins;
extern const int binidx[SPECTRUM_BANDS];       // band limits as FFT indices

// The tap: `block` holds interleaved signed 16-bit stereo frames.
void visualize(const unsigned char *block, int size);

// The scene: a tall picture glides up and down behind 32 bars of the music's
// bands, which fade in and out over it every 8 s, until position `end_ms`.
// A picture that does not decode ends the process ("FAIL! at ...", status 1).
void image_sinus_analyzer(opc_sink s, alsaplay_t alsa, int end_ms, const unsigned char *png, int png_size);
