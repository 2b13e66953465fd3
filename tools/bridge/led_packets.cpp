#include "led_packets.h"

#include <algorithm>
#include <cstring>

namespace {

void put16(u8 *at, unsigned value) {
  at[0] = u8(value >> 8);
  at[1] = u8(value);
}

void put32(u8 *at, std::uint32_t value) {
  put16(at, value >> 16);
  put16(at + 2, value & 0xffff);
}

// Flags (0x7) and length of an ACN layer that runs from `at` to `end`.
void put_layer_length(u8 *at, std::size_t length) { put16(at, 0x7000u | unsigned(length)); }

// The root layer, the same for every E1.31 packet but for its vector.
void e131_root(u8 *out, std::size_t total, std::uint32_t vector, const e131_cid &cid) {
  static constexpr u8 PREAMBLE[16] = {0x00, 0x10, 0x00, 0x00, 'A', 'S', 'C', '-', 'E', '1', '.', '1', '7', 0, 0, 0};
  std::memcpy(out, PREAMBLE, sizeof PREAMBLE);
  put_layer_length(out + 16, total - 16);
  put32(out + 18, vector);
  std::memcpy(out + 22, cid.data(), cid.size());
}

} // namespace

std::size_t ddp_packet(u8 *out, u8 sequence, bool push, std::size_t offset, const u8 *data, std::size_t size) {
  out[0] = u8(DDP_FLAGS_VERSION_1 | (push ? DDP_FLAG_PUSH : 0));
  out[1] = u8(sequence & 0x0f);
  out[2] = DDP_TYPE_RGB_8;
  out[3] = DDP_DESTINATION_DISPLAY;
  put32(out + 4, std::uint32_t(offset));
  put16(out + 8, unsigned(size));
  std::memcpy(out + DDP_HEADER_BYTES, data, size);
  return DDP_HEADER_BYTES + size;
}

std::size_t e131_data_packet(u8 *out, const e131_cid &cid, const std::string &source_name, u16 universe,
                             u8 sequence, u8 options, u16 sync_universe, const u8 *slots, std::size_t count) {
  const std::size_t total = E131_DATA_HEADER_BYTES + count;
  e131_root(out, total, 0x00000004, cid);
  // Framing layer.
  put_layer_length(out + 38, total - 38);
  put32(out + 40, 0x00000002);
  std::memset(out + 44, 0, E131_SOURCE_NAME_BYTES);
  std::memcpy(out + 44, source_name.data(), std::min(source_name.size(), E131_SOURCE_NAME_BYTES - 1));
  out[108] = E131_PRIORITY;
  put16(out + 109, sync_universe);
  out[111] = sequence;
  out[112] = options;
  put16(out + 113, universe);
  // DMP layer: set property, one address and data type, from address 0 in
  // steps of 1, the start code and the slots.
  put_layer_length(out + 115, total - 115);
  out[117] = 0x02;
  out[118] = 0xa1;
  put16(out + 119, 0);
  put16(out + 121, 1);
  put16(out + 123, unsigned(count + 1));
  out[125] = 0; // start code
  std::memcpy(out + E131_DATA_HEADER_BYTES, slots, count);
  return total;
}

std::size_t e131_sync_packet(u8 *out, const e131_cid &cid, u8 sequence, u16 sync_universe) {
  e131_root(out, E131_SYNC_BYTES, 0x00000008, cid);
  put_layer_length(out + 38, E131_SYNC_BYTES - 38);
  put32(out + 40, 0x00000001);
  out[44] = sequence;
  put16(out + 45, sync_universe);
  put16(out + 47, 0); // reserved
  return E131_SYNC_BYTES;
}

std::uint32_t e131_multicast_group(u16 universe) { return (239u << 24) | (255u << 16) | universe; }

namespace {

void artnet_head(u8 *out, u16 opcode) {
  static constexpr u8 ID[8] = {'A', 'r', 't', '-', 'N', 'e', 't', 0};
  std::memcpy(out, ID, sizeof ID);
  out[8] = u8(opcode); // the opcode is little-endian, everything else big-endian
  out[9] = u8(opcode >> 8);
  out[10] = 0; // protocol version 14
  out[11] = 14;
}

} // namespace

std::size_t artnet_dmx_packet(u8 *out, u16 port_address, u8 sequence, const u8 *data, std::size_t count) {
  const std::size_t length = count + (count % 2);
  artnet_head(out, ARTNET_OP_DMX);
  out[12] = sequence;
  out[13] = 0; // physical port: information only
  out[14] = u8(port_address);        // sub-net and universe
  out[15] = u8(port_address >> 8);   // net
  put16(out + 16, unsigned(length));
  std::memcpy(out + ARTNET_HEADER_BYTES, data, count);
  if (length != count)
    out[ARTNET_HEADER_BYTES + count] = 0;
  return ARTNET_HEADER_BYTES + length;
}

std::size_t artnet_sync_packet(u8 *out) {
  artnet_head(out, ARTNET_OP_SYNC);
  out[12] = 0; // aux
  out[13] = 0;
  return ARTNET_SYNC_BYTES;
}
