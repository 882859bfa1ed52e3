// Byte order. The platform's Endian calls turn a value between big-endian (B) and the
// processor's native order (N); the plug-in uses these, as it would on the original system:
//   UInt32 raw; FSRead(ref, &count, &raw); UInt32 value = EndianU32_BtoN(raw);
// Inside the carbon layer and the programs beside the plug-in, every big-endian integer in a
// file or on the wire is read and written through the one pair of helpers per width below,
// and bytes from outside are read through the bounded reader, ByteReader, at the end.
// Readers never lay a struct over bytes; they call these.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

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

// A bounded reader over bytes that came from outside (a file, a socket, another process).
// Each read first checks that the bytes it needs are there; one that does not fit reads
// nothing, answers false and leaves the reader failed, so that every later read fails too
// and a run of reads may be checked once, at its end. Reads move the reader on.
struct ByteReader {
  std::span<const uint8_t> rest;  // the bytes not yet read
  bool failed = false;
};

inline ByteReader ByteReaderOver(const void *bytes, size_t size) {
  return {std::span<const uint8_t>(static_cast<const uint8_t *>(bytes), size)};
}

// The next count bytes, in *bytes (when not null).
inline bool ReadByteRun(ByteReader *reader, size_t count, std::span<const uint8_t> *bytes) {
  if (reader->failed || count > reader->rest.size()) {
    reader->failed = true;
    return false;
  }
  if (bytes != nullptr) *bytes = reader->rest.first(count);
  reader->rest = reader->rest.subspan(count);
  return true;
}

inline bool ReadByte(ByteReader *reader, uint8_t *value) {
  std::span<const uint8_t> bytes;
  if (!ReadByteRun(reader, 1, &bytes)) return false;
  *value = bytes[0];
  return true;
}

inline bool ReadBigEndian16(ByteReader *reader, uint16_t *value) {
  std::span<const uint8_t> bytes;
  if (!ReadByteRun(reader, 2, &bytes)) return false;
  *value = GetBigEndian16(bytes.data());
  return true;
}

inline bool ReadBigEndian32(ByteReader *reader, uint32_t *value) {
  std::span<const uint8_t> bytes;
  if (!ReadByteRun(reader, 4, &bytes)) return false;
  *value = GetBigEndian32(bytes.data());
  return true;
}

// A reader of its own over the next count bytes, which this one moves past: the parts of a
// nested structure are read within their own bounds.
inline bool ReadInnerReader(ByteReader *reader, size_t count, ByteReader *inner) {
  std::span<const uint8_t> bytes;
  if (!ReadByteRun(reader, count, &bytes)) return false;
  *inner = ByteReader{bytes};
  return true;
}

// Every read fitted and every byte was read.
inline bool ReadToTheEnd(const ByteReader &reader) {
  return !reader.failed && reader.rest.empty();
}
