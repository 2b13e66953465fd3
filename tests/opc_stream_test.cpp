// The server-side OPC stream parser: messages come out whole whatever the
// split of the bytes, and memory stays bounded whatever the input.
#include "opc_stream.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct seen {
  u8 channel;
  u8 command;
  u16 length;
  std::vector<u8> data;
};

std::vector<seen> parse(opc_stream_s &stream, const std::vector<u8> &bytes, size_t piece) {
  std::vector<seen> out;
  for (size_t at = 0; at < bytes.size(); at += piece) {
    const size_t n = std::min(piece, bytes.size() - at);
    opc_stream_feed(
        &stream, bytes.data() + at, n,
        [](void *user, const opc_message &m) {
          static_cast<std::vector<seen> *>(user)->push_back(
              {m.channel, m.command, m.length, std::vector<u8>(m.data, m.data + m.kept)});
        },
        &out);
  }
  return out;
}

std::vector<u8> message(u8 channel, u8 command, const std::vector<u8> &body) {
  std::vector<u8> bytes{channel, command, u8(body.size() >> 8), u8(body.size() & 0xff)};
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

TEST(OpcStream, MessagesComeOutWholeWhateverTheSplit) {
  std::vector<u8> frame(1536);
  for (size_t i = 0; i < frame.size(); ++i)
    frame[i] = u8(i * 7);
  std::vector<u8> bytes = message(0, 0, frame);
  const auto second = message(3, 255, {1, 2, 3});
  bytes.insert(bytes.end(), second.begin(), second.end());
  const auto empty = message(0, 0, {});
  bytes.insert(bytes.end(), empty.begin(), empty.end());

  for (size_t piece : {size_t(1), size_t(3), size_t(5), size_t(1000), bytes.size()}) {
    opc_stream_s stream{};
    const auto out = parse(stream, bytes, piece);
    ASSERT_EQ(out.size(), 3u) << "pieces of " << piece;
    EXPECT_EQ(out[0].length, 1536);
    EXPECT_EQ(out[0].data, frame);
    EXPECT_EQ(out[1].channel, 3);
    EXPECT_EQ(out[1].command, 255);
    EXPECT_EQ(out[1].data, (std::vector<u8>{1, 2, 3}));
    EXPECT_EQ(out[2].length, 0);
    EXPECT_TRUE(opc_stream_idle(&stream));
  }
}

TEST(OpcStream, LongBodyIsCountedThroughKeepingOnlyOneFrame) {
  std::vector<u8> body(65535);
  for (size_t i = 0; i < body.size(); ++i)
    body[i] = u8(i);
  std::vector<u8> bytes = message(0, 0, body);
  const auto next = message(0, 0, {9, 9, 9});
  bytes.insert(bytes.end(), next.begin(), next.end());

  opc_stream_s stream{};
  const auto out = parse(stream, bytes, 4096);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].length, 65535);
  EXPECT_EQ(out[0].data, std::vector<u8>(body.begin(), body.begin() + OPC_STREAM_KEEP));
  EXPECT_EQ(out[1].data, (std::vector<u8>{9, 9, 9}));
}

TEST(OpcStream, PartialMessageWaitsAndResetForgetsIt) {
  opc_stream_s stream{};
  EXPECT_TRUE(parse(stream, {0, 0, 0, 6, 1, 2}, 64).empty());
  EXPECT_FALSE(opc_stream_idle(&stream));
  opc_stream_reset(&stream);
  EXPECT_TRUE(opc_stream_idle(&stream));
  const auto out = parse(stream, message(1, 0, {5, 6, 7}), 64);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].channel, 1);
  EXPECT_EQ(out[0].data, (std::vector<u8>{5, 6, 7}));
}

} // namespace
