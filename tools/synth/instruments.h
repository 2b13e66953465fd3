// The synthesizer patches the score plays: the sound design, apart from the
// notes. Each returns a complete patch; drums are synthesized in drums.cpp.
#pragma once

#include "song.h"

patch_s instrument_bass();       // plucked saw with a sine sub, the groove bass
patch_s instrument_acid();       // resonant saw, mono with slides and accents
patch_s instrument_chip_bass();  // 4-bit staircase triangle
patch_s instrument_sub();        // sine and a little triangle, long notes
patch_s instrument_pad();        // seven-voice detuned saws, slow filter
patch_s instrument_warm_pad();   // darker, softer, for the slow parts
patch_s instrument_stab();       // short unison chords
patch_s instrument_keys();       // phase-modulated sine, an electric piano
patch_s instrument_pluck();      // the arpeggio: pulse and saw through a closing filter
patch_s instrument_chip_arp();   // 12.5 % pulse, dry and short
patch_s instrument_bell();       // inharmonic phase modulation, long decay
patch_s instrument_lead();       // unison saw lead with vibrato and glide
patch_s instrument_chip_lead();  // 25 % pulse with pulse-width modulation
patch_s instrument_counter();    // hollow square and triangle for the counter-melody
