// Byte order. The platform's Endian calls turn a value between big-endian (B) and the
// processor's native order (N); the plug-in uses these, as it would on the original system:
//   UInt32 raw; FSRead(ref, &count, &raw); UInt32 value = EndianU32_BtoN(raw);
// Inside the carbon layer and the programs beside the plug-in, every big-endian integer in a
// file or on the wire is read and written through the one pair of helpers per width below.
// Readers never lay a struct over bytes; they call these.
#pragma once

#include <bit>
#include <cstdint>

constexpr uint16_t EndianU16_BtoN(uint16_t value) {
  return std::endian::native == std::endian::big ? value : __builtin_bswap16(value);
}
constexpr uint32_t EndianU32_BtoN(uint32_t value) {
  return std::endian::native == std::endian::big ? value : __builtin_bswap32(value);
}
constexpr uint64_t EndianU64_BtoN(uint64_t value) {
  return std::endian::native == std::endian::big ? value : __builtin_bswap64(value);
}
constexpr int16_t EndianS16_BtoN(int16_t value) {
  return int16_t(EndianU16_BtoN(uint16_t(value)));
}
constexpr int32_t EndianS32_BtoN(int32_t value) {
  return int32_t(EndianU32_BtoN(uint32_t(value)));
}
// The way back is the same swap, or none.
constexpr uint16_t EndianU16_NtoB(uint16_t value) {
  return EndianU16_BtoN(value);
}
constexpr uint32_t EndianU32_NtoB(uint32_t value) {
  return EndianU32_BtoN(value);
}
constexpr uint64_t EndianU64_NtoB(uint64_t value) {
  return EndianU64_BtoN(value);
}
constexpr int16_t EndianS16_NtoB(int16_t value) {
  return EndianS16_BtoN(value);
}
constexpr int32_t EndianS32_NtoB(int32_t value) {
  return EndianS32_BtoN(value);
}

inline uint16_t GetBigEndian16(const void *at) {
  const auto *p = static_cast<const uint8_t *>(at);
  return uint16_t((p[0] << 8) | p[1]);
}

inline uint32_t GetBigEndian32(const void *at) {
  const auto *p = static_cast<const uint8_t *>(at);
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline uint64_t GetBigEndian64(const void *at) {
  const auto *p = static_cast<const uint8_t *>(at);
  return (uint64_t(GetBigEndian32(p)) << 32) | GetBigEndian32(p + 4);
}

inline void PutBigEndian16(void *at, uint16_t value) {
  auto *p = static_cast<uint8_t *>(at);
  p[0] = uint8_t(value >> 8);
  p[1] = uint8_t(value);
}

inline void PutBigEndian32(void *at, uint32_t value) {
  auto *p = static_cast<uint8_t *>(at);
  p[0] = uint8_t(value >> 24);
  p[1] = uint8_t(value >> 16);
  p[2] = uint8_t(value >> 8);
  p[3] = uint8_t(value);
}

inline void PutBigEndian64(void *at, uint64_t value) {
  auto *p = static_cast<uint8_t *>(at);
  PutBigEndian32(p, uint32_t(value >> 32));
  PutBigEndian32(p + 4, uint32_t(value));
}
