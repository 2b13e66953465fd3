#include "frame_recorder.h"

#include "contact_sheet.h"
#include "frame_log.h"
#include "gif_writer.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

struct frame_recorder_s {
  std::FILE *log = nullptr;
  gif_writer_t gif = nullptr;
  contact_sheet_t sheet = nullptr;

  std::mutex lock;
  std::condition_variable queued, taken;
  std::vector<wall_frame> queue = std::vector<wall_frame>(FRAME_RECORDER_QUEUE); // a ring
  std::size_t first = 0, count = 0;
  bool stopping = false;
  std::thread recording;
};

namespace {

void record(frame_recorder_t r, const wall_frame &frame) {
  if (r->log)
    frame_log_write(r->log, frame);
  if (r->gif)
    gif_writer_add(r->gif, frame);
  if (r->sheet)
    contact_sheet_add(r->sheet, frame);
}

// Takes the queue's frames one by one, in order, until it is stopped and empty.
void recording_thread(frame_recorder_t r) {
  wall_frame frame;
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(r->lock);
      r->queued.wait(hold, [r] { return r->count > 0 || r->stopping; });
      if (r->count == 0)
        return;
      frame = r->queue[r->first];
      r->first = (r->first + 1) % r->queue.size();
      --r->count;
    }
    r->taken.notify_one();
    record(r, frame);
  }
}

// Closes every recording; 1 when each reached its file.
int close_all(frame_recorder_t r) {
  bool written = true;
  if (r->log)
    written = frame_log_close(r->log) && written;
  if (r->gif)
    written = gif_writer_done(r->gif) && written;
  if (r->sheet)
    written = contact_sheet_done(r->sheet) && written;
  r->log = nullptr, r->gif = nullptr, r->sheet = nullptr;
  return written ? 1 : 0;
}

} // namespace

frame_recorder_t frame_recorder_init(const frame_recorder_paths &paths) {
  auto *r = new frame_recorder_s;
  if ((paths.log && !(r->log = frame_log_open(paths.log))) ||
      (paths.gif && !(r->gif = gif_writer_init(paths.gif, paths.gif_scale))) ||
      (paths.sheet && !(r->sheet = contact_sheet_init(paths.sheet, paths.sheet_scale, paths.sheet_columns)))) {
    close_all(r); // nothing was received yet: the files are left as they were opened
    delete r;
    return nullptr;
  }
  if (r->log || r->gif || r->sheet)
    r->recording = std::thread(recording_thread, r);
  return r;
}

void frame_recorder_add(frame_recorder_t r, const wall_frame &frame) {
  if (!r || !r->recording.joinable())
    return;
  {
    std::unique_lock<std::mutex> hold(r->lock);
    r->taken.wait(hold, [r] { return r->count < r->queue.size(); });
    r->queue[(r->first + r->count) % r->queue.size()] = frame;
    ++r->count;
  }
  r->queued.notify_one();
}

int frame_recorder_done(frame_recorder_t r) {
  if (!r)
    return 1;
  if (r->recording.joinable()) {
    {
      std::lock_guard<std::mutex> hold(r->lock);
      r->stopping = true;
    }
    r->queued.notify_one();
    r->recording.join(); // the queue is empty now: every frame is in the recordings
  }
  const int written = close_all(r);
  delete r;
  return written;
}
