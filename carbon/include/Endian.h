// The one pair of helpers per width through which every big-endian integer in a file or on
// the wire is read and written. Readers never lay a struct over bytes; they call these.
#pragma once

#include <cstdint>

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
