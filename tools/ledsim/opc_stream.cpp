#include "opc_stream.h"

#include <algorithm>
#include <cstring>

void opc_stream_reset(opc_stream_s *stream) {
  stream->header_have = 0;
  stream->body_have = 0;
}

bool opc_stream_idle(const opc_stream_s *stream) { return stream->header_have == 0; }

void opc_stream_feed(opc_stream_s *stream, const u8 *bytes, std::size_t size, opc_stream_callback on_message,
                     void *user) {
  for (;;) {
    if (stream->header_have < stream->header.size()) {
      if (size == 0)
        return;
      const std::size_t take = std::min(size, stream->header.size() - stream->header_have);
      std::memcpy(stream->header.data() + stream->header_have, bytes, take);
      stream->header_have += take;
      bytes += take;
      size -= take;
      if (stream->header_have < stream->header.size())
        return;
      stream->body_have = 0;
    }

    const std::size_t length = std::size_t(stream->header[2]) << 8 | stream->header[3];
    const std::size_t take = std::min(size, length - stream->body_have);
    if (take > 0 && stream->body_have < OPC_STREAM_KEEP) {
      const std::size_t keep = std::min(take, OPC_STREAM_KEEP - stream->body_have);
      std::memcpy(stream->body.data() + stream->body_have, bytes, keep);
    }
    stream->body_have += take;
    bytes += take;
    size -= take;

    if (stream->body_have == length) {
      const opc_message message{stream->header[0], stream->header[1], u16(length),
                                std::min(length, OPC_STREAM_KEEP), stream->body.data()};
      stream->header_have = 0;
      stream->body_have = 0;
      on_message(user, message);
    } else {
      return; // all input used, the body goes on in the next piece
    }
  }
}
