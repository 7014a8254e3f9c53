// CRC-32 of ISO 3309 / ITU-T V.42 (the checksum of zip, PNG and the yEnc
// 1.3 "crc32" and "pcrc32" keys): reflected polynomial 0xEDB88320, initial
// value and final xor 0xFFFFFFFF.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillnet::engine {

// Running checksum: crc32(b, crc32(a)) == crc32(a followed by b); start with 0.
uint32_t crc32(const void* bytes, size_t count, uint32_t crc = 0) noexcept;

// The table-driven form alone, whatever the processor offers; the fast path
// is checked against it.
uint32_t crc32_portable(const void* bytes, size_t count, uint32_t crc = 0) noexcept;

}  // namespace quillnet::engine
