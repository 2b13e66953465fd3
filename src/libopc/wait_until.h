// The frame clock: deadlines a fixed period apart on the monotonic clock.
//
//   wait_until_t clock = wait_until_init();
//   wait_until_ms(clock, 40);
//   for (each frame) { draw; wait_until_timeout(clock); send; }
//   wait_until_done(clock);
//
// A function that owns its clock for a scope holds it in a wait_until_ptr:
//
//   const wait_until_ptr clock(wait_until_init());
//   wait_until_ms(clock.get(), 40);
//
// The first wait after wait_until_ms ends two periods after it, every later
// one a period after the previous deadline. A loop that falls behind is told
// on stdout ("N ms too late") and the sequence restarts from the present
// rather than catching up. Each clock belongs to the one thread that uses it.
#pragma once

#include <ctime>
#include <memory>

struct wait_until_s {
  timespec then; // the current deadline
  int ms;        // the period
};
using wait_until_t = wait_until_s *;

// A failed allocation is reported ("malloc: ...") and ends the process.
wait_until_t wait_until_init();
// Frees the clock; accepts null.
void wait_until_done(wait_until_t d);

// A clock owned by its holder, released with wait_until_done.
struct wait_until_deleter {
  void operator()(wait_until_t d) const { wait_until_done(d); }
};
using wait_until_ptr = std::unique_ptr<wait_until_s, wait_until_deleter>;

// Sets the period and starts the deadlines one period from now. 0, or the
// clock's error result.
int wait_until_ms(wait_until_t d, int ms);

// Advances to the next deadline and sleeps until it: the sleep's result (0),
// 1 when the deadline had passed already, or the clock's error result.
int wait_until_timeout(wait_until_t d);
