#include "sequence.h"

#include "dsp.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct quality_s {
  const char *name;
  std::vector<int> intervals;
};

const std::vector<quality_s> &qualities() {
  static const std::vector<quality_s> table = {
      {"m", {0, 3, 7}},         {"M", {0, 4, 7}},         {"m7", {0, 3, 7, 10}}, {"M7", {0, 4, 7, 11}},
      {"7", {0, 4, 7, 10}},     {"m9", {0, 3, 7, 10, 14}}, {"M9", {0, 4, 7, 11, 14}}, {"add9", {0, 4, 7, 14}},
      {"madd9", {0, 3, 7, 14}}, {"sus2", {0, 2, 7}},      {"sus4", {0, 5, 7}},
  };
  return table;
}

const std::vector<int> &intervals(const char *quality) {
  for (const quality_s &q : qualities())
    if (std::strcmp(q.name, quality) == 0)
      return q.intervals;
  assert((false) && "unknown chord quality");
  return qualities()[0].intervals;
}

std::vector<std::string> tokens(const char *text) {
  std::vector<std::string> out;
  std::string current;
  for (const char *p = text; *p; ++p) {
    if (std::isspace(static_cast<unsigned char>(*p)) || *p == '|') {
      if (!current.empty())
        out.push_back(current);
      current.clear();
    } else {
      current += *p;
    }
  }
  if (!current.empty())
    out.push_back(current);
  return out;
}

// "c#5" -> 73; the letter, an optional sharp, the octave.
int note_number(const std::string &name) {
  static const int letters[7] = {9, 11, 0, 2, 4, 5, 7}; // a b c d e f g
  assert((name.size() >= 2 && name[0] >= 'a' && name[0] <= 'g') && "note name");
  int pc = letters[name[0] - 'a'];
  size_t i = 1;
  if (name[i] == '#') {
    ++pc;
    ++i;
  }
  const int octave = std::atoi(name.c_str() + i);
  return 12 * (octave + 1) + pc;
}

} // namespace

std::vector<int> chord_notes(const chord_s &c, int low) {
  std::vector<int> out;
  for (int iv : intervals(c.quality)) {
    int n = c.root + iv;
    while (n < low)
      n += 12;
    while (n >= low + 12)
      n -= 12;
    out.push_back(n);
  }
  std::sort(out.begin(), out.end());
  return out;
}

int bass_root(const chord_s &c) { return 33 + ((c.root % 12) - 9 + 12) % 12; }

void seq_note(track_s *t, double beat, double beats, double pitch, double velocity, double param) {
  const std::int64_t start = beat_frame(beat);
  t->notes.push_back({start, beat_frame(beat + beats) - start, pitch, velocity, param});
}

double seq_melody(track_s *t, double beat, const char *notes, int transpose, double velocity, double gate) {
  double at = 0.0;
  for (const std::string &tok : tokens(notes)) {
    const size_t colon = tok.find(':');
    assert((colon != std::string::npos) && "melody token is name:beats");
    const double beats = std::atof(tok.c_str() + colon + 1);
    const std::string name = tok.substr(0, colon);
    if (name != "r")
      seq_note(t, beat + at, beats * gate, note_number(name) + transpose, velocity);
    at += beats;
  }
  return at;
}

void seq_hits(track_s *t, double beat, double step, const char *pattern, int repeats, double pitch, double velocity,
              double param, double swing) {
  const int steps = int(std::strlen(pattern));
  for (int r = 0; r < repeats; ++r)
    for (int i = 0; i < steps; ++i) {
      const char c = pattern[i];
      const double v = c == 'x' ? 1.0 : c == 'o' ? 0.6 : c == '-' ? 0.35 : 0.0;
      if (v == 0.0)
        continue;
      const double at = beat + step * (r * steps + i + (i % 2 ? swing : 0.0));
      seq_note(t, at, step, pitch, velocity * v, param);
    }
}

void seq_steps(track_s *t, double beat, double step, const char *text, int repeats, int base, double velocity,
               double gate) {
  const std::vector<std::string> toks = tokens(text);
  const int steps = int(toks.size());
  for (int r = 0; r < repeats; ++r)
    for (int i = 0; i < steps; ++i) {
      const std::string &tok = toks[size_t(i)];
      if (tok == "." || tok == "_")
        continue;
      int held = 1;
      while (i + held < steps && toks[size_t(i + held)] == "_")
        ++held;
      const bool accent = tok.find('!') != std::string::npos;
      const bool slide = tok.find('~') != std::string::npos;
      const double at = beat + step * (r * steps + i);
      // A slide keeps the gate open into the next step: the voice glides.
      const double length = slide ? step * (held + 0.25) : step * (held - 1 + gate);
      seq_note(t, at, length, base + std::atoi(tok.c_str()), accent ? 1.0 : velocity, accent ? 0.8 : 0.0);
    }
}

void seq_chord(track_s *t, double beat, double beats, const chord_s &c, int low, double velocity) {
  for (int n : chord_notes(c, low))
    seq_note(t, beat, beats, n, velocity);
}

void seq_arp(track_s *t, double beat, double beats, const chord_s &c, int low, double step, const char *order,
             double velocity, double gate) {
  const std::vector<int> notes = chord_notes(c, low);
  const int len = int(std::strlen(order));
  const int count = int(std::lround(beats / step));
  for (int i = 0; i < count; ++i) {
    const int index = order[i % len] - '0';
    const int n = notes[size_t(index) % notes.size()] + 12 * (index / int(notes.size()));
    seq_note(t, beat + i * step, step * gate, n, velocity * (i % 4 == 0 ? 1.0 : 0.8));
  }
}

void seq_automate(automation_s *a, double beat, double value) { automation_add(a, beat_frame(beat), value); }

void seq_automate_to(automation_s *a, double beat, double beats, double value) {
  seq_automate(a, beat, automation_at(*a, beat_frame(beat)));
  seq_automate(a, beat + beats, value);
}

void seq_finish(track_s *t) {
  std::stable_sort(t->notes.begin(), t->notes.end(),
                   [](const note_event &a, const note_event &b) { return a.start < b.start; });
}
