#include "wait_until.h"

#include "fatal.h"
#include "time_source.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr long NS_PER_MS = 1000000;
constexpr long NS_PER_S = 1000000000;

} // namespace

static int wait_until_set_now(wait_until_t d) { return time_source_now(&d->then); }

// Deadlines accumulate exactly: whole seconds are carried out of the
// nanoseconds so that `then` always moves by exactly the period.
static void wait_until_add_ms(wait_until_t d) {
  d->then.tv_sec += d->ms / 1000;
  d->then.tv_nsec += long(d->ms % 1000) * NS_PER_MS;
  if (d->then.tv_nsec >= NS_PER_S) {
    d->then.tv_nsec -= NS_PER_S;
    d->then.tv_sec += 1;
  }
}

// A failed allocation leaves the scene nothing to pace; say so and stop.
wait_until_t wait_until_init() {
  return allocated_or_exit(static_cast<wait_until_t>(std::calloc(1, sizeof(wait_until_s))));
}

void wait_until_done(wait_until_t d) { std::free(d); }

int wait_until_ms(wait_until_t d, int ms) {
  d->ms = ms;
  if (const int result = wait_until_set_now(d); result != 0)
    return result;
  wait_until_add_ms(d);
  return 0;
}

int wait_until_timeout(wait_until_t d) {
  timespec now{};
  if (const int result = time_source_now(&now); result != 0)
    return result;
  wait_until_add_ms(d);

  const long delay = (d->then.tv_sec - now.tv_sec) * 1000 + (d->then.tv_nsec - now.tv_nsec) / NS_PER_MS;
  if (delay > 0)
    return time_source_sleep_us(useconds_t(delay) * 1000);

  std::printf("%d ms too late\n", int(-delay));
  std::fflush(stdout); // a late frame should be seen when it happens, also in a log
  wait_until_set_now(d);
  wait_until_add_ms(d);
  return 1;
}
