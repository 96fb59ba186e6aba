// SPDX-License-Identifier: MIT
// The SFDP reader: the header, the parameter headers, the BFPT and the 4BAIT,
// each checked before a field of it is believed (the rules are in sfdp.h).
#include "flash/sfdp.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kSpaceEnd = 1u << 24;  // 5Ah takes three address bytes
constexpr uint32_t kHeaderBytes = 8;
constexpr uint32_t kParameterHeaderBytes = 8;
constexpr uint8_t kSignature[4] = {'S', 'F', 'D', 'P'};  // 50444653h, read least significant byte first
constexpr uint8_t kMajorRevision = 1;
constexpr uint16_t kBasicTableId = 0xFF00;
constexpr uint16_t kFourByteTableId = 0xFF84;
constexpr uint32_t kBasicMinimumDwords = 9;  // JESD216's whole table
constexpr uint32_t kBasicReadDwords = 16;    // DWORD16 holds the last field read
constexpr uint32_t kFourByteDwords = 2;
constexpr uint32_t kDefaultPageSize = 256;  // where DWORD11 is not given, as Linux assumes
constexpr uint32_t kMaxDensityLog2 = 35;    // bits in 2^32 bytes, what 4-byte addresses reach
constexpr uint8_t kEraseTypes = 4;
constexpr uint32_t kEraseUnitsMs[4] = {1, 16, 128, 1000};          // DWORD10, per erase type
constexpr uint32_t kChipEraseUnitsMs[4] = {16, 256, 4000, 64000};  // DWORD11 bits 30:29
constexpr uint32_t kProgramUnitsUs[2] = {8, 64};                   // DWORD11 bit 13

[[gnu::format(printf, 1, 2)]] std::string Format(const char* format, ...) {
  char text[160];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  return text;
}

uint32_t LittleEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool IsPowerOfTwo(uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }

unsigned Log2(uint64_t powerOfTwo) {
  unsigned n = 0;
  while (powerOfTwo >>= 1) ++n;
  return n;
}

struct ParameterHeader {
  uint16_t id = 0;  // byte 7 (the MSB, FFh for JEDEC's tables), then byte 0
  uint8_t minor = 0;
  uint8_t major = 0;
  uint32_t dwords = 0;
  uint32_t pointer = 0;  // bytes 4-6, least significant first
};

ParameterHeader DecodeParameterHeader(const uint8_t* bytes) {
  return {.id = static_cast<uint16_t>(bytes[7] << 8 | bytes[0]),
          .minor = bytes[1],
          .major = bytes[2],
          .dwords = bytes[3],
          .pointer = static_cast<uint32_t>(bytes[4] | bytes[5] << 8 | bytes[6] << 16)};
}

/// The header of table `id` and major revision 1 with the newest minor
/// revision, then the longest, then the first listed; null when there is none.
const ParameterHeader* PickNewest(const std::vector<ParameterHeader>& headers, uint16_t id) {
  const ParameterHeader* best = nullptr;
  for (const ParameterHeader& header : headers) {
    if (header.id != id || header.major != kMajorRevision) continue;
    if (!best || header.minor > best->minor || (header.minor == best->minor && header.dwords > best->dwords)) {
      best = &header;
    }
  }
  return best;
}

/// A table's DWORDs as read, numbered from 1 as JESD216 numbers them.
class Dwords {
 public:
  explicit Dwords(const std::vector<uint8_t>& bytes) : count_(static_cast<uint32_t>(bytes.size() / 4)) {
    for (uint32_t i = 0; i < count_; ++i) values_[i] = LittleEndian32(&bytes[4 * i]);
  }
  bool Has(uint32_t number) const { return number <= count_; }
  uint32_t operator[](uint32_t number) const { return values_[number - 1]; }

 private:
  uint32_t count_;
  std::array<uint32_t, kBasicReadDwords> values_{};
};

/// One pass over the SFDP space; every fault ends it with the reason in `error`.
class SfdpParser {
 public:
  SfdpParser(const SfdpReader& read, SfdpError* error) : read_(read), error_(error) {}

  [[nodiscard]] bool Run(SfdpFacts* facts) {
    SfdpFacts found;
    std::vector<ParameterHeader> headers;
    if (!ReadHeader(found, headers) || !ReadBasicTable(headers, found) || !ReadFourByteTable(headers, found)) {
      return false;
    }
    std::stable_sort(found.eraseTypes.begin(), found.eraseTypes.end(),
                     [](const SfdpEraseType& a, const SfdpEraseType& b) { return a.size < b.size; });
    *facts = std::move(found);
    return true;
  }

 private:
  bool Fail(SfdpFailure kind, std::string reason) {
    error_->kind = kind;
    error_->reason = std::move(reason);
    return false;
  }

  bool Malformed(std::string reason) { return Fail(SfdpFailure::kMalformed, std::move(reason)); }

  bool Read(uint32_t address, uint32_t length, std::vector<uint8_t>& bytes) {
    bytes.assign(length, 0);
    if (read_(address, bytes.data(), length)) return true;
    return Fail(SfdpFailure::kReadFailed, Format("reading %u bytes at 0x%06X failed", length, address));
  }

  /// The SFDP header and the parameter headers it counts.
  bool ReadHeader(SfdpFacts& facts, std::vector<ParameterHeader>& headers) {
    std::vector<uint8_t> header;
    if (!Read(0, kHeaderBytes, header) || !CheckSignature(header.data())) return false;
    facts.revisionMinor = header[4];
    facts.revisionMajor = header[5];
    if (facts.revisionMajor != kMajorRevision) {
      return Malformed(Format("revision %u.%u is not supported", facts.revisionMajor, facts.revisionMinor));
    }
    const uint32_t count = header[6] + 1u;  // NPH counts from zero
    std::vector<uint8_t> bytes;
    if (!Read(kHeaderBytes, count * kParameterHeaderBytes, bytes)) return false;
    for (uint32_t i = 0; i < count; ++i) headers.push_back(DecodeParameterHeader(&bytes[i * kParameterHeaderBytes]));
    if (headers[0].id != kBasicTableId) {
      return Malformed(Format("the first parameter header is %04Xh, not the basic table's FF00h", headers[0].id));
    }
    return true;
  }

  /// Erased or absent SFDP reads as all FF, an unanswered read as all 00.
  bool CheckSignature(const uint8_t* bytes) {
    if (std::memcmp(bytes, kSignature, sizeof kSignature) == 0) return true;
    const auto all = [bytes](uint8_t value) {
      return std::all_of(bytes, bytes + 4, [value](uint8_t b) { return b == value; });
    };
    if (all(0xFF) || all(0x00)) {
      return Fail(SfdpFailure::kNoSignature, Format("not present (the signature reads %02X %02X %02X %02X)", bytes[0],
                                                    bytes[1], bytes[2], bytes[3]));
    }
    return Fail(SfdpFailure::kNoSignature,
                Format("wrong signature %02X %02X %02X %02X", bytes[0], bytes[1], bytes[2], bytes[3]));
  }

  /// Where a table may lie: DWORD-aligned, after the headers, inside the space.
  bool CheckPlace(const ParameterHeader& table, size_t headerCount) {
    const uint32_t headersEnd = kHeaderBytes + static_cast<uint32_t>(headerCount) * kParameterHeaderBytes;
    if (table.pointer % 4 != 0) {
      return Malformed(Format("parameter table at 0x%06X is not DWORD-aligned", table.pointer));
    }
    if (table.pointer < headersEnd) {
      return Malformed(Format("parameter table at 0x%06X overlaps the parameter headers", table.pointer));
    }
    if (table.pointer + table.dwords * 4 > kSpaceEnd) {
      return Malformed(Format("parameter table at 0x%06X runs past the SFDP space", table.pointer));
    }
    return true;
  }

  bool ReadBasicTable(const std::vector<ParameterHeader>& headers, SfdpFacts& facts) {
    const ParameterHeader* basic = PickNewest(headers, kBasicTableId);
    if (!basic) {
      return Malformed(Format("basic table revision %u.%u is not supported", headers[0].major, headers[0].minor));
    }
    if (basic->dwords < kBasicMinimumDwords) {
      return Malformed(Format("basic table length %u is less than %u DWORDs", basic->dwords, kBasicMinimumDwords));
    }
    std::vector<uint8_t> bytes;
    if (!CheckPlace(*basic, headers.size()) ||
        !Read(basic->pointer, std::min(basic->dwords, kBasicReadDwords) * 4, bytes)) {
      return false;
    }
    facts.bfptMajor = basic->major;
    facts.bfptMinor = basic->minor;
    facts.bfptDwords = basic->dwords;
    const Dwords table(bytes);
    if (!TakeAddressBytes(table[1], facts) || !TakeDensity(table[2], facts) || !TakeEraseTypes(table, facts) ||
        !TakeProgramAndChipErase(table, facts)) {
      return false;
    }
    TakeModes(table, facts);
    return true;
  }

  bool TakeAddressBytes(uint32_t dword1, SfdpFacts& facts) {
    static constexpr SfdpAddressBytes kByCode[] = {SfdpAddressBytes::kThreeOnly, SfdpAddressBytes::kThreeOrFour,
                                                   SfdpAddressBytes::kFourOnly};
    const uint32_t code = dword1 >> 17 & 3;
    if (code == 3) return Malformed("address bytes field is 11b, a reserved value");
    facts.addressBytes = kByCode[code];
    return true;
  }

  bool TakeDensity(uint32_t dword2, SfdpFacts& facts) {
    if (dword2 & 0x80000000u) {
      const uint32_t log2Bits = dword2 & 0x7FFFFFFFu;
      if (log2Bits < 3) return Malformed(Format("density 2^%u bits is not a whole number of bytes", log2Bits));
      if (log2Bits > kMaxDensityLog2) {
        return Malformed(Format("density 2^%u bits is more than 4-byte addresses reach", log2Bits));
      }
      facts.sizeBytes = uint64_t{1} << (log2Bits - 3);
      return true;
    }
    const uint64_t bits = uint64_t{dword2} + 1;  // the field holds the bit count minus one
    if (!IsPowerOfTwo(bits)) {
      return Malformed(Format("density 0x%08llX bits is not a power of two", static_cast<unsigned long long>(bits)));
    }
    if (bits < 8) {
      return Malformed(
          Format("density %llu bits is not a whole number of bytes", static_cast<unsigned long long>(bits)));
    }
    facts.sizeBytes = bits / 8;
    return true;
  }

  bool TakeEraseTypes(const Dwords& table, SfdpFacts& facts) {
    const unsigned chipLog2 = Log2(facts.sizeBytes);
    for (uint8_t type = 1; type <= kEraseTypes; ++type) {
      // Types 1 and 2 share DWORD8, 3 and 4 DWORD9: size byte, then opcode.
      const uint32_t half = table[8 + (type - 1) / 2] >> (16 * ((type - 1) % 2));
      const uint8_t log2Size = half & 0xFF;
      const uint8_t opcode = half >> 8 & 0xFF;
      if (log2Size == 0) {
        if (opcode == 0x00 || opcode == 0xFF) continue;
        return Malformed(Format("erase type %u has opcode %02Xh and no size", type, opcode));
      }
      if (log2Size >= 32) {
        return Malformed(Format("erase type %u erases 2^%u bytes, too many to count", type, log2Size));
      }
      if (log2Size > chipLog2) {
        return Malformed(
            Format("erase type %u erases 2^%u bytes, more than the chip's 2^%u", type, log2Size, chipLog2));
      }
      facts.eraseTypes.push_back({.size = 1u << log2Size, .opcode = opcode, .type = type});
    }
    if (facts.eraseTypes.empty()) return Malformed("no erase type is given");
    if (table.Has(10)) TakeEraseTimes(table[10], facts);
    return true;
  }

  /// Each type's 7-bit field from bit 4 on: a 5-bit count, then a 2-bit unit.
  static void TakeEraseTimes(uint32_t dword10, SfdpFacts& facts) {
    const uint32_t multiplier = EraseMultiplier(dword10);
    for (SfdpEraseType& erase : facts.eraseTypes) {
      const uint32_t field = dword10 >> (4 + 7 * (erase.type - 1)) & 0x7F;
      erase.typicalMs = ((field & 0x1F) + 1) * kEraseUnitsMs[field >> 5];
      erase.maxMs = erase.typicalMs * multiplier;
    }
  }

  static uint32_t EraseMultiplier(uint32_t dword10) { return 2 * ((dword10 & 0xF) + 1); }

  /// DWORD11: the page size, page program and chip erase times.
  bool TakeProgramAndChipErase(const Dwords& table, SfdpFacts& facts) {
    if (!table.Has(11)) {
      facts.pageSize = static_cast<uint32_t>(std::min<uint64_t>(kDefaultPageSize, facts.sizeBytes));
      return true;
    }
    const uint32_t dword11 = table[11];
    const unsigned pageLog2 = dword11 >> 4 & 0xF;
    if (pageLog2 > Log2(facts.sizeBytes)) {
      return Malformed(Format("page size 2^%u bytes is more than the chip's 2^%u", pageLog2, Log2(facts.sizeBytes)));
    }
    facts.pageSize = 1u << pageLog2;
    facts.programTypicalUs = ((dword11 >> 8 & 0x1F) + 1) * kProgramUnitsUs[dword11 >> 13 & 1];
    facts.programMaxUs = facts.programTypicalUs * 2 * ((dword11 & 0xF) + 1);
    facts.chipEraseTypicalMs = ((dword11 >> 24 & 0x1F) + 1) * kChipEraseUnitsMs[dword11 >> 29 & 3];
    facts.chipEraseMaxMs = facts.chipEraseTypicalMs * EraseMultiplier(table[10]);
    return true;
  }

  /// DWORD14 to DWORD16: busy polling, quad enable, 4-byte address mode.
  static void TakeModes(const Dwords& table, SfdpFacts& facts) {
    if (table.Has(14)) facts.flagStatusPolling = (table[14] >> 3 & 1) != 0;
    if (table.Has(15)) facts.quadEnable = static_cast<uint8_t>(table[15] >> 20 & 7);
    if (table.Has(16)) {
      facts.enter4ByteMethods = static_cast<uint8_t>(table[16] >> 24);
      facts.exit4ByteMethods = static_cast<uint16_t>(table[16] >> 14 & 0x3FF);
    }
  }

  bool ReadFourByteTable(const std::vector<ParameterHeader>& headers, SfdpFacts& facts) {
    const ParameterHeader* table = PickNewest(headers, kFourByteTableId);
    if (!table) return true;
    if (table->dwords < kFourByteDwords) {
      return Malformed(Format("4-byte address table length %u is less than %u DWORDs", table->dwords, kFourByteDwords));
    }
    std::vector<uint8_t> bytes;
    if (!CheckPlace(*table, headers.size()) || !Read(table->pointer, kFourByteDwords * 4, bytes)) return false;
    const uint32_t supported = LittleEndian32(&bytes[0]);
    const uint32_t opcodes = LittleEndian32(&bytes[4]);
    facts.has4ByteInstructionTable = true;
    facts.read4 = (supported & 1) != 0;
    facts.fastRead4 = (supported >> 1 & 1) != 0;
    facts.program4 = (supported >> 6 & 1) != 0;
    for (SfdpEraseType& erase : facts.eraseTypes) {
      const uint8_t opcode = opcodes >> (8 * (erase.type - 1)) & 0xFF;
      // FFh is no command: the W77Q51NW marks its 32 KiB type supported with it.
      if ((supported >> (8 + erase.type) & 1) && opcode != 0x00 && opcode != 0xFF) erase.opcode4 = opcode;
    }
    return true;
  }

  const SfdpReader& read_;
  SfdpError* error_;
};

}  // namespace

bool ReadSfdp(const SfdpReader& read, SfdpFacts* facts, SfdpError* error) { return SfdpParser(read, error).Run(facts); }

bool ParseSfdp(std::span<const uint8_t> space, SfdpFacts* facts, SfdpError* error) {
  const SfdpReader fromDump = [space](uint32_t address, uint8_t* destination, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) {
      const uint64_t at = uint64_t{address} + i;
      destination[i] = at < space.size() ? space[at] : 0xFF;
    }
    return true;
  };
  return ReadSfdp(fromDump, facts, error);
}
