#include "bridge_feed.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <algorithm>
#include <mutex>
#include <vector>

struct bridge_feed_s {
  std::mutex lock;
  std::condition_variable changed;
  std::condition_variable room;            // a joined reader took a frame
  std::vector<bridge_feed_reader *> joined;
  bool writer_waiting = false;
  std::array<wall_frame, BRIDGE_FEED_FRAMES> ring{};
  long frames = 0;       // frames put so far; frame n is at ring[(n - 1) % size]
  long changes = 0;      // connection changes so far
  bool connected = false;
  std::int64_t changed_ns = 0;
  bool stopping = false;
};

bridge_feed_t bridge_feed_init() { return new bridge_feed_s; }

void bridge_feed_done(bridge_feed_t feed) { delete feed; }

void bridge_feed_put(bridge_feed_t feed, const wall_frame &frame) {
  {
    std::unique_lock<std::mutex> hold(feed->lock);
    const auto full = [feed] {
      return !feed->stopping && std::any_of(feed->joined.begin(), feed->joined.end(), [feed](const bridge_feed_reader *r) {
               return feed->frames - r->taken >= BRIDGE_FEED_FRAMES;
             });
    };
    if (full()) {
      feed->writer_waiting = true;
      feed->room.wait_for(hold, std::chrono::milliseconds(BRIDGE_FEED_WAIT_MS), [&] { return !full(); });
      feed->writer_waiting = false;
    }
    feed->ring[std::size_t(feed->frames % BRIDGE_FEED_FRAMES)] = frame;
    ++feed->frames;
  }
  feed->changed.notify_all();
}

void bridge_feed_client(bridge_feed_t feed, bool connected, std::int64_t now_ns) {
  {
    std::lock_guard<std::mutex> hold(feed->lock);
    if (connected == feed->connected)
      return;
    feed->connected = connected;
    feed->changed_ns = now_ns;
    ++feed->changes;
  }
  feed->changed.notify_all();
}

void bridge_feed_stop(bridge_feed_t feed) {
  {
    std::lock_guard<std::mutex> hold(feed->lock);
    feed->stopping = true;
  }
  feed->changed.notify_all();
  feed->room.notify_all();
}

void bridge_feed_join(bridge_feed_t feed, bridge_feed_reader *reader) {
  std::lock_guard<std::mutex> hold(feed->lock);
  reader->taken = std::max(reader->taken, feed->frames); // it starts from now
  feed->joined.push_back(reader);
}

void bridge_feed_leave(bridge_feed_t feed, bridge_feed_reader *reader) {
  {
    std::lock_guard<std::mutex> hold(feed->lock);
    feed->joined.erase(std::remove(feed->joined.begin(), feed->joined.end(), reader), feed->joined.end());
  }
  feed->room.notify_all();
}

bridge_feed_event bridge_feed_wait(bridge_feed_t feed, bridge_feed_reader *reader, std::int64_t deadline_ns,
                                   wall_frame *frame) {
  // The steady clock is the monotonic clock the frames' times are taken on.
  const auto deadline = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(deadline_ns));
  std::unique_lock<std::mutex> hold(feed->lock);
  for (;;) {
    if (feed->stopping)
      return bridge_feed_event::stop;
    if (feed->frames > reader->taken) {
      long next = reader->taken + 1;
      if (feed->frames - next >= BRIDGE_FEED_FRAMES) {
        reader->skipped += feed->frames - next;
        next = feed->frames;
      }
      *frame = feed->ring[std::size_t((next - 1) % BRIDGE_FEED_FRAMES)];
      reader->taken = next;
      if (feed->writer_waiting)
        feed->room.notify_one();
      return bridge_feed_event::frame;
    }
    if (feed->changes != reader->changes_seen) {
      reader->changes_seen = feed->changes;
      reader->connected = feed->connected;
      reader->changed_ns = feed->changed_ns;
      return bridge_feed_event::client;
    }
    if (deadline_ns == INT64_MAX)
      feed->changed.wait(hold);
    else if (feed->changed.wait_until(hold, deadline) == std::cv_status::timeout)
      return bridge_feed_event::timeout;
  }
}
