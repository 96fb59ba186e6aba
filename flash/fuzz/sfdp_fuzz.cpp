// SPDX-License-Identifier: MIT
// libFuzzer target for the SFDP parser: the input is the SFDP space from
// address 0 (FF past its end, as an erased chip reads). Every read must stay
// inside the 24-bit space, a refusal must leave the facts as they were and
// name its reason, and every accepted result must keep the invariants
// flash/sfdp.h promises. ParseSfdp must agree with ReadSfdp.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "flash/sfdp.h"

namespace {

constexpr uint64_t kSpaceEnd = uint64_t{1} << 24;

/// A broken invariant is a crash for the fuzzer to report.
void Check(bool condition) {
  if (!condition) std::abort();
}

bool IsPowerOfTwo(uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }

void CheckTime(uint32_t typical, uint32_t max) { Check((typical == 0) == (max == 0) && max >= typical); }

void CheckEraseTypes(const SfdpFacts& facts) {
  Check(!facts.eraseTypes.empty());
  uint32_t previous = 0;
  unsigned seen = 0;
  for (const SfdpEraseType& erase : facts.eraseTypes) {
    Check(IsPowerOfTwo(erase.size) && erase.size <= facts.sizeBytes && erase.size >= previous);
    Check(erase.type >= 1 && erase.type <= 4 && (seen & 1u << erase.type) == 0);
    Check(facts.has4ByteInstructionTable || erase.opcode4 == 0);
    Check(erase.opcode4 != 0xFF);
    CheckTime(erase.typicalMs, erase.maxMs);
    previous = erase.size;
    seen |= 1u << erase.type;
  }
}

void CheckInvariants(const SfdpFacts& facts) {
  Check(facts.revisionMajor == 1 && facts.bfptMajor == 1 && facts.bfptDwords >= 9);
  Check(IsPowerOfTwo(facts.sizeBytes) && facts.sizeBytes <= uint64_t{1} << 32);
  Check(IsPowerOfTwo(facts.pageSize) && facts.pageSize <= 32768 && facts.pageSize <= facts.sizeBytes);
  Check(facts.addressBytes == SfdpAddressBytes::kThreeOnly || facts.addressBytes == SfdpAddressBytes::kThreeOrFour ||
        facts.addressBytes == SfdpAddressBytes::kFourOnly);
  CheckEraseTypes(facts);
  Check(facts.quadEnable <= kSfdpQuadEnableReserved || facts.quadEnable == kSfdpQuadEnableNotGiven);
  Check(facts.exit4ByteMethods < 0x400);
  Check(facts.has4ByteInstructionTable || (!facts.read4 && !facts.fastRead4 && !facts.program4));
  CheckTime(facts.programTypicalUs, facts.programMaxUs);
  CheckTime(facts.chipEraseTypicalMs, facts.chipEraseMaxMs);
}

/// What a refusal must leave as it was.
SfdpFacts Untouched() {
  SfdpFacts facts;
  facts.sizeBytes = 3;
  facts.eraseTypes = {{.size = 7, .type = 9}};
  return facts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const SfdpReader read = [data, size](uint32_t address, uint8_t* destination, uint32_t length) {
    Check(length > 0 && address < kSpaceEnd && length <= kSpaceEnd - address);
    for (uint32_t i = 0; i < length; ++i) destination[i] = address + i < size ? data[address + i] : 0xFF;
    return true;
  };
  SfdpFacts facts = Untouched();
  SfdpError error;
  const bool accepted = ReadSfdp(read, &facts, &error);

  SfdpFacts parsed = Untouched();
  SfdpError parseError;
  Check(ParseSfdp(std::span<const uint8_t>(data, size), &parsed, &parseError) == accepted);
  Check(parsed == facts && parseError.kind == error.kind && parseError.reason == error.reason);

  if (!accepted) {
    Check(facts == Untouched());
    Check(error.kind == SfdpFailure::kNoSignature || error.kind == SfdpFailure::kMalformed);
    Check(!error.reason.empty() && !std::isupper(static_cast<unsigned char>(error.reason[0])));
    return 0;
  }
  Check(error.kind == SfdpFailure::kNone && error.reason.empty());
  CheckInvariants(facts);
  return 0;
}
