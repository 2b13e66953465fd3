// The packets of the LED controllers' protocols, written into caller's
// buffers. No sockets here: the bridge's outputs send what these write.
//
//   DDP      10-byte header (flags with version 1 and, on a frame's last
//            packet, push; sequence 1-15; data type RGB 8 bits; destination
//            1, the display; data offset in bytes; data length), then at most
//            DDP_MAX_DATA bytes of RGB.
//   E1.31    a data packet per universe of up to 512 slots: root layer with
//            the source's CID, framing layer with its name, priority, the
//            synchronization universe, a sequence number per universe and the
//            options (bit 6: stream terminated), DMP layer with start code 0.
//            A synchronization packet names the universe that carries it.
//   Art-Net  ArtDmx (protocol 14, sequence, port-address, an even length of
//            data) and ArtSync.
#pragma once

#include "types.h"

#include <array>
#include <cstddef>
#include <string>

inline constexpr std::size_t DDP_HEADER_BYTES = 10;
inline constexpr std::size_t DDP_MAX_DATA = 1440; // 480 RGB pixels
inline constexpr u8 DDP_FLAGS_VERSION_1 = 0x40;
inline constexpr u8 DDP_FLAG_PUSH = 0x01;
inline constexpr u8 DDP_TYPE_RGB_8 = 0x0b; // type RGB (001), 8 bits per element (011)
inline constexpr u8 DDP_DESTINATION_DISPLAY = 1;

inline constexpr std::size_t E131_DATA_HEADER_BYTES = 126; // up to and with the start code
inline constexpr std::size_t E131_MAX_SLOTS = 512;
inline constexpr std::size_t E131_SYNC_BYTES = 49;
inline constexpr u8 E131_OPTION_TERMINATED = 0x40;
inline constexpr int E131_PRIORITY = 100;
inline constexpr std::size_t E131_SOURCE_NAME_BYTES = 64;

inline constexpr std::size_t ARTNET_HEADER_BYTES = 18;
inline constexpr std::size_t ARTNET_SYNC_BYTES = 14;
inline constexpr u16 ARTNET_OP_DMX = 0x5000;
inline constexpr u16 ARTNET_OP_SYNC = 0x5200;

using e131_cid = std::array<u8, 16>;

// The largest packet any of them writes.
inline constexpr std::size_t LED_PACKET_MAX = DDP_HEADER_BYTES + DDP_MAX_DATA;
static_assert(LED_PACKET_MAX >= E131_DATA_HEADER_BYTES + E131_MAX_SLOTS &&
              LED_PACKET_MAX >= ARTNET_HEADER_BYTES + E131_MAX_SLOTS);

// The DDP packet holding `size` bytes (at most DDP_MAX_DATA) at byte `offset`
// of a frame; `push` on the frame's last. Returns the packet's length.
std::size_t ddp_packet(u8 *out, u8 sequence, bool push, std::size_t offset, const u8 *data, std::size_t size);

// An E1.31 data packet for `universe` with `count` slots (at most
// E131_MAX_SLOTS) after start code 0. `sync_universe` 0: not synchronized.
std::size_t e131_data_packet(u8 *out, const e131_cid &cid, const std::string &source_name, u16 universe,
                             u8 sequence, u8 options, u16 sync_universe, const u8 *slots, std::size_t count);

// An E1.31 synchronization packet sent on `sync_universe`.
std::size_t e131_sync_packet(u8 *out, const e131_cid &cid, u8 sequence, u16 sync_universe);

// The multicast group of an E1.31 universe, 239.255.hi.lo, as a host-order IPv4 address.
std::uint32_t e131_multicast_group(u16 universe);

// An ArtDmx packet for a port-address with `count` channels (at most 512; an
// odd count is padded with a zero to the even length the protocol asks for).
std::size_t artnet_dmx_packet(u8 *out, u16 port_address, u8 sequence, const u8 *data, std::size_t count);

// An ArtSync packet.
std::size_t artnet_sync_packet(u8 *out);
