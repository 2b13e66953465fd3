#include "mixer.h"

#include "dsp.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int POLYPHONY = 24;
constexpr int DRUM_VOICES = 12;
constexpr double REVERB_DUCK = 0.35;
constexpr double DELAY_DUCK = 0.25;

enum buffer_id { TRACK_L, TRACK_R, BUS_L, BUS_R, REVERB_L, REVERB_R, DELAY_L, DELAY_R, DUCK, BUFFER_COUNT };
static_assert(BUFFER_COUNT == MIXER_BUFFERS);

std::uint64_t voice_seed(size_t track, size_t note) { return (std::uint64_t(track) << 32) ^ std::uint64_t(note); }

// A free voice, else the oldest one is taken over (and counted).
template <typename Voice> size_t free_voice(const std::vector<Voice> &voices, int *steals) {
  size_t oldest = 0;
  for (size_t i = 0; i < voices.size(); ++i) {
    if (!voices[i].active)
      return i;
    if (voices[i].age > voices[oldest].age)
      oldest = i;
  }
  ++*steals;
  return oldest;
}

// New hits start at their frame in the block; every sounding hit then
// renders from its offset to the end of the block.
void render_drums(mixer_track *t, size_t index, std::int64_t f0, int n, double *mono) {
  const track_s &track = *t->track;
  while (t->next_note < track.notes.size() && track.notes[t->next_note].start < f0 + n) {
    const note_event &note = track.notes[t->next_note];
    const size_t v = free_voice(t->drums, &t->steals);
    drum_start(&t->drums[v], track.drum, note, voice_seed(index, t->next_note));
    t->offsets[v] = int(std::max<std::int64_t>(0, note.start - f0));
    ++t->next_note;
  }
  for (size_t v = 0; v < t->drums.size(); ++v) {
    if (t->drums[v].active)
      drum_render(&t->drums[v], mono + t->offsets[v], n - t->offsets[v]);
    t->offsets[v] = 0;
  }
}

void render_synth(mixer_track *t, size_t index, std::int64_t f0, int n, double *l, double *r) {
  const track_s &track = *t->track;
  const double cutoff = automation_at(track.cutoff, f0);
  int done = 0;
  while (t->next_note < track.notes.size() && track.notes[t->next_note].start < f0 + n) {
    const note_event &note = track.notes[t->next_note];
    const int offset = int(std::max<std::int64_t>(0, note.start - f0));
    if (track.mono) {
      // The one voice renders up to the new note, which then takes it over
      // at its exact frame.
      voice_s *v = &t->voices[0];
      if (v->active)
        voice_render(v, cutoff, l + done, r + done, offset - done);
      done = offset;
      if (v->active)
        voice_legato(v, note, voice_gate_open(v));
      else
        voice_start(v, &track.patch, note, voice_seed(index, t->next_note));
      t->offsets[0] = done;
    } else {
      const size_t v = free_voice(t->voices, &t->steals);
      voice_start(&t->voices[v], &track.patch, note, voice_seed(index, t->next_note));
      t->offsets[v] = offset;
    }
    ++t->next_note;
  }
  for (size_t v = 0; v < t->voices.size(); ++v) {
    const int from = t->offsets[v];
    if (t->voices[v].active)
      voice_render(&t->voices[v], cutoff, l + from, r + from, n - from);
    t->offsets[v] = 0;
  }
}

void render_track(mixer_s *m, size_t index, std::int64_t f0, int n) {
  mixer_track *t = &m->tracks[index];
  const track_s &track = *t->track;
  double *l = m->buf[TRACK_L].data(), *r = m->buf[TRACK_R].data();
  std::fill(l, l + n, 0.0);
  std::fill(r, r + n, 0.0);
  if (track.is_drum) {
    render_drums(t, index, f0, n, l);
    std::copy(l, l + n, r);
  } else {
    render_synth(t, index, f0, n, l, r);
  }
  if (track.chorus)
    chorus_process(&t->chorus, l, r, n);

  const double angle = (1.0 + track.pan) * SYNTH_PI / 4.0;
  const double pan_l = std::cos(angle) * std::sqrt(2.0), pan_r = std::sin(angle) * std::sqrt(2.0);
  const double level0 = automation_at(track.level, f0) * track.gain;
  const double level1 = automation_at(track.level, f0 + n) * track.gain;
  const double *duck = m->buf[DUCK].data();
  double energy = 0.0;
  for (int i = 0; i < n; ++i) {
    const double g = (level0 + (level1 - level0) * i / n) * (1.0 - track.duck_depth * duck[i]);
    const double sl = l[i] * g * pan_l, sr = r[i] * g * pan_r;
    m->buf[BUS_L][size_t(i)] += sl;
    m->buf[BUS_R][size_t(i)] += sr;
    m->buf[REVERB_L][size_t(i)] += sl * track.reverb_send;
    m->buf[REVERB_R][size_t(i)] += sr * track.reverb_send;
    m->buf[DELAY_L][size_t(i)] += sl * track.delay_send;
    m->buf[DELAY_R][size_t(i)] += sr * track.delay_send;
    energy += sl * sl + sr * sr;
  }
  m->track_energy[index] += energy;
}

void master_chain(mixer_s *m, double *l, double *r, int n) {
  const double level0 = m->master_gain * db_gain(automation_at(m->song->mix_level, m->frame));
  const double level1 = m->master_gain * db_gain(automation_at(m->song->mix_level, m->frame + n));
  for (int i = 0; i < n; ++i) {
    const double level = level0 + (level1 - level0) * i / n;
    const double hl = biquad_process(&m->highpass[0], l[i]);
    const double hr = biquad_process(&m->highpass[1], r[i]);
    const double mid = 0.5 * (hl + hr);
    const double side = biquad_process(&m->side_highpass, 0.5 * (hl - hr));
    l[i] = (mid + side) * level;
    r[i] = (mid - side) * level;
  }
  compressor_process(&m->compressor, l, r, n);
  limiter_process(&m->limiter, l, r, n);
}

// Renders one block of the song into the master chain; returns the chain's
// output in BUS_L/BUS_R.
void render_block(mixer_s *m, int n) {
  const std::int64_t f0 = m->frame;
  for (auto &b : m->buf)
    std::fill(b.begin(), b.begin() + n, 0.0);
  double *duck = m->buf[DUCK].data();
  for (int i = 0; i < n; ++i) {
    while (m->next_trigger < m->duck_triggers.size() && m->duck_triggers[m->next_trigger] <= f0 + i) {
      duck_trigger(&m->duck);
      ++m->next_trigger;
    }
    duck[i] = duck_next(&m->duck);
  }
  for (size_t t = 0; t < m->tracks.size(); ++t)
    render_track(m, t, f0, n);

  double *rl = m->buf[REVERB_L].data(), *rr = m->buf[REVERB_R].data();
  double *dl = m->buf[DELAY_L].data(), *dr = m->buf[DELAY_R].data();
  // Delay repeats go into the reverb too, so the echoes sit in the same room.
  pingpong_process(&m->delay, dl, dr, n);
  for (int i = 0; i < n; ++i) {
    rl[i] += 0.3 * dl[i];
    rr[i] += 0.3 * dr[i];
  }
  reverb_process(&m->reverb, rl, rr, n);
  double *bl = m->buf[BUS_L].data(), *br = m->buf[BUS_R].data();
  for (int i = 0; i < n; ++i) {
    const double rev = 1.0 - REVERB_DUCK * duck[i], del = 1.0 - DELAY_DUCK * duck[i];
    bl[i] += rl[i] * rev + dl[i] * del;
    br[i] += rr[i] * rev + dr[i] * del;
  }
  master_chain(m, bl, br, n);
  m->frame += n;
}

} // namespace

void mixer_init(mixer_s *m, const song_s *song, double master_gain) {
  m->song = song;
  m->tracks.clear();
  m->duck_triggers.clear();
  for (const track_s &track : song->tracks) {
    mixer_track t{};
    t.track = &track;
    t.next_note = 0;
    if (track.is_drum)
      t.drums.assign(DRUM_VOICES, drum_s{});
    else
      t.voices.assign(track.mono ? 1 : POLYPHONY, voice_s{});
    t.offsets.assign(std::max(t.drums.size(), t.voices.size()), 0);
    if (track.chorus)
      chorus_init(&t.chorus, 0.23, 9.0, 3.5, 0.55);
    m->tracks.push_back(std::move(t));
    if (track.sidechain_source)
      for (const note_event &note : track.notes)
        m->duck_triggers.push_back(note.start);
  }
  std::sort(m->duck_triggers.begin(), m->duck_triggers.end());
  m->track_energy.assign(song->tracks.size(), 0.0);
  m->next_trigger = 0;
  duck_init(&m->duck, 0.09);
  reverb_init(&m->reverb, 0.82, 0.45, 0.9, 18.0);
  // Dotted eighth: three quarters of a beat.
  pingpong_init(&m->delay, int(std::llround(0.75 * SYNTH_FRAMES_PER_BEAT)), 0.42);
  biquad_highpass(&m->highpass[0], 20.0, 0.7071, SYNTH_RATE);
  biquad_highpass(&m->highpass[1], 20.0, 0.7071, SYNTH_RATE);
  biquad_highpass(&m->side_highpass, 120.0, 0.7071, SYNTH_RATE);
  compressor_init(&m->compressor, -12.0, 1.8, 8.0, 0.015, 0.2, 1.0);
  limiter_init(&m->limiter, db_gain(MIXER_CEILING_DB), 0.005, 0.12);
  m->master_gain = master_gain;
  m->frame = 0;
  m->out_frame = 0;
  for (auto &b : m->buf)
    b.assign(MIXER_BLOCK, 0.0);
  m->out_l.assign(MIXER_BLOCK, 0.0f);
  m->out_r.assign(MIXER_BLOCK, 0.0f);
  m->ready = m->available = 0;
  // Fill the limiter's look-ahead; the frames it returns are silence.
  for (int left = m->limiter.lookahead; left > 0;) {
    const int n = std::min(left, MIXER_BLOCK);
    render_block(m, n);
    left -= n;
  }
}

void mixer_render(mixer_s *m, float *left, float *right, int n) {
  // Blocks always run on the same grid of MIXER_BLOCK frames, so block-rate
  // automation, and with it every sample, does not depend on how callers
  // slice the output.
  for (int done = 0; done < n;) {
    if (m->ready == m->available) {
      render_block(m, MIXER_BLOCK);
      for (int i = 0; i < MIXER_BLOCK; ++i) {
        const double fade = automation_at(m->song->master_fade, m->out_frame + i);
        m->out_l[size_t(i)] = float(m->buf[BUS_L][size_t(i)] * fade);
        m->out_r[size_t(i)] = float(m->buf[BUS_R][size_t(i)] * fade);
      }
      m->out_frame += MIXER_BLOCK;
      m->ready = 0;
      m->available = MIXER_BLOCK;
    }
    const int take = std::min(n - done, m->available - m->ready);
    std::copy_n(m->out_l.begin() + m->ready, take, left + done);
    std::copy_n(m->out_r.begin() + m->ready, take, right + done);
    m->ready += take;
    done += take;
  }
}
