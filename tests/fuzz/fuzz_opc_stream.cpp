// Fuzzes the simulator's OPC stream parser. The same bytes, fed in pieces the
// input chooses, whole, and one at a time, must give exactly the messages a
// direct reading of the stream finds, and the parser must stand idle exactly
// where a message ends.
//
// Input: byte 0 gives the number of piece sizes that follow (1 to 8, low three
// bits) and where a reset cuts the stream (high five bits); then come the
// piece sizes, one byte each (0 feeds an empty piece), used in turn; the rest
// is the stream.
#include "opc_stream.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct seen {
  u8 channel;
  u8 command;
  u16 length;
  std::vector<u8> kept;
  bool operator==(const seen &) const = default;
};

void check(bool promise_kept) {
  if (!promise_kept)
    __builtin_trap();
}

void collect(void *user, const opc_message &m) {
  check(m.kept == std::min<std::size_t>(m.length, OPC_STREAM_KEEP));
  check(m.data != nullptr);
  // Copying reads all `kept` bytes, so the address sanitizer sees any overread.
  static_cast<std::vector<seen> *>(user)->push_back({m.channel, m.command, m.length, {m.data, m.data + m.kept}});
}

// What the stream holds, read straight off the bytes: its complete messages,
// and after how many bytes the stream stands between messages.
struct reading {
  std::vector<seen> messages;
  std::vector<bool> between;
};

reading read_directly(const u8 *bytes, std::size_t size) {
  reading r{{}, std::vector<bool>(size + 1, false)};
  r.between[0] = true;
  std::size_t at = 0;
  while (size - at >= 4) {
    const std::size_t length = std::size_t(bytes[at + 2]) << 8 | bytes[at + 3];
    if (size - at - 4 < length)
      break;
    const u8 *body = bytes + at + 4;
    r.messages.push_back({bytes[at], bytes[at + 1], u16(length),
                          {body, body + std::min(length, OPC_STREAM_KEEP)}});
    at += 4 + length;
    r.between[at] = true;
  }
  return r;
}

// A stream object on the heap, sized exactly, so that a read past its end hits
// the sanitizer's red zone; filled with junk first, as reset must be enough.
std::unique_ptr<opc_stream_s> fresh_stream() {
  auto stream = std::make_unique<opc_stream_s>();
  std::memset(stream.get(), 0xa5, sizeof *stream);
  opc_stream_reset(stream.get());
  check(opc_stream_idle(stream.get()));
  return stream;
}

// Feeds `bytes` in pieces of the given sizes, taken in turn, checking the idle
// state after every piece. An empty piece is fed as a null pointer.
std::vector<seen> feed_in_pieces(const u8 *bytes, std::size_t size, const std::vector<std::size_t> &pieces,
                                 const reading &expected) {
  const auto stream = fresh_stream();
  std::vector<seen> out;
  std::size_t at = 0;
  std::size_t empty_in_a_row = 0;
  for (std::size_t turn = 0; at < size; ++turn) {
    std::size_t n = std::min(pieces[turn % pieces.size()], size - at);
    // Sizes that are all zero would never finish: the rest goes in whole.
    empty_in_a_row = n == 0 ? empty_in_a_row + 1 : 0;
    if (empty_in_a_row > pieces.size())
      n = size - at;
    opc_stream_feed(stream.get(), n == 0 ? nullptr : bytes + at, n, collect, &out);
    at += n;
    check(opc_stream_idle(stream.get()) == expected.between[at]);
  }
  return out;
}

// A reset part-way forgets the partial message: what follows is a new stream.
void check_reset_at(const u8 *bytes, std::size_t size, std::size_t cut) {
  const auto stream = fresh_stream();
  std::vector<seen> out;
  opc_stream_feed(stream.get(), bytes, cut, collect, &out);
  opc_stream_reset(stream.get());
  check(opc_stream_idle(stream.get()));
  opc_stream_feed(stream.get(), bytes + cut, size - cut, collect, &out);

  std::vector<seen> expected = read_directly(bytes, cut).messages;
  const reading after = read_directly(bytes + cut, size - cut);
  expected.insert(expected.end(), after.messages.begin(), after.messages.end());
  check(out == expected);
  check(opc_stream_idle(stream.get()) == after.between[size - cut]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8 *data, std::size_t size) {
  if (size == 0)
    return 0;
  const std::size_t size_count = std::size_t(data[0] & 7) + 1;
  if (size < 1 + size_count)
    return 0;
  const std::vector<std::size_t> chosen(data + 1, data + 1 + size_count);
  const u8 *bytes = data + 1 + size_count;
  const std::size_t length = size - 1 - size_count;

  const reading expected = read_directly(bytes, length);
  check(feed_in_pieces(bytes, length, {length}, expected) == expected.messages);
  check(feed_in_pieces(bytes, length, {1}, expected) == expected.messages);
  check(feed_in_pieces(bytes, length, chosen, expected) == expected.messages);
  check_reset_at(bytes, length, length * (data[0] >> 3) / 31);
  return 0;
}
