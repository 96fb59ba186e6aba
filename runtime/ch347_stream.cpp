// SPDX-License-Identifier: MIT
// The commands of a USB write to the CH347.
#include "runtime/ch347_stream.h"

#include <algorithm>
#include <cstdio>

namespace {

// The settings' fields, at their offsets in the payload.
constexpr size_t kModeField = 2;       // 0x0104: master
constexpr size_t kPolarityField = 6;   // 2: the clock idles high
constexpr size_t kPhaseField = 8;      // 1: data sampled on the second edge
constexpr size_t kSelectField = 11;    // 0x02 high byte: software chip select
constexpr size_t kDividerField = 12;   // the divider times 8
constexpr size_t kBitOrderField = 14;  // 0x80: least significant bit first
constexpr size_t kCrcField = 16;       // 7, as every public driver sets it
constexpr size_t kDefaultField = 20;   // the byte C3 clocks out

std::string Hex(const uint8_t* bytes, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    char text[4];
    std::snprintf(text, sizeof text, i ? " %02X" : "%02X", bytes[i]);
    s += text;
  }
  return s;
}

}  // namespace

std::array<uint8_t, 26> ch347::SettingsBytes(const SpiSettings& settings) {
  std::array<uint8_t, 26> bytes{};
  bytes[kModeField] = 0x04;
  bytes[kModeField + 1] = 0x01;
  bytes[kPolarityField] = (settings.mode & 2) ? 2 : 0;
  bytes[kPhaseField] = settings.mode & 1;
  bytes[kSelectField] = 0x02;
  bytes[kDividerField] = static_cast<uint8_t>(settings.divider << 3);
  bytes[kBitOrderField] = settings.lsbFirst ? 0x80 : 0x00;
  bytes[kCrcField] = 7;
  bytes[kDefaultField] = settings.outDefault;
  return bytes;
}

Ch347Stream::Command Ch347Stream::Make(uint8_t code, std::vector<uint8_t> payload) {
  Command command;
  command.bytes.resize(ch347::kHeader + payload.size());
  command.bytes[0] = code;
  command.bytes[1] = static_cast<uint8_t>(payload.size());
  command.bytes[2] = static_cast<uint8_t>(payload.size() >> 8);
  std::copy(payload.begin(), payload.end(), command.bytes.begin() + ch347::kHeader);
  return command;
}

void Ch347Stream::Add(Command command) {
  outBytes_ += command.bytes.size();
  commands_.push_back(std::move(command));
}

Ch347Stream::Command Ch347Stream::Settings(const ch347::SpiSettings& settings) {
  const std::array<uint8_t, 26> bytes = ch347::SettingsBytes(settings);
  Command command = Make(ch347::kSetConfig, {bytes.begin(), bytes.end()});
  command.replies.push_back({ch347::kSetConfig, 1, nullptr});
  return command;
}

// Settings that follow settings replace them: only the last take effect.
void Ch347Stream::Configure(const ch347::SpiSettings& settings) {
  if (!commands_.empty() && commands_.back().bytes[0] == ch347::kSetConfig) {
    outBytes_ -= commands_.back().bytes.size();
    commands_.pop_back();
  }
  Add(Settings(settings));
}

void Ch347Stream::ConfigureBefore(size_t position, const ch347::SpiSettings& settings) {
  Command command = Settings(settings);
  outBytes_ += command.bytes.size();
  commands_.insert(commands_.begin() + static_cast<std::ptrdiff_t>(std::min(position, commands_.size())),
                   std::move(command));
}

void Ch347Stream::Select(int chipSelect, bool asserted) {
  std::vector<uint8_t> entries(ch347::kChipSelects * ch347::kSelectEntry, 0);
  entries[static_cast<size_t>(chipSelect) * ch347::kSelectEntry] =
      asserted ? ch347::kSelectChange : ch347::kSelectChange | ch347::kSelectRelease;
  Add(Make(ch347::kSelect, std::move(entries)));
}

void Ch347Stream::Write(const uint8_t* tx, uint8_t fill, size_t count) {
  spiBytes_ += count;
  for (size_t done = 0; done < count;) {
    const size_t n = std::min(count - done, ch347::kMostData);
    Command command = Make(ch347::kWrite, tx ? std::vector<uint8_t>(tx + done, tx + done + n)
                                             : std::vector<uint8_t>(n, fill));
    command.replies.push_back({ch347::kWrite, 1, nullptr});
    Add(std::move(command));
    done += n;
  }
}

void Ch347Stream::Exchange(const uint8_t* tx, uint8_t fill, uint8_t* rx, size_t count) {
  spiBytes_ += count;
  for (size_t done = 0; done < count;) {
    const size_t n = std::min(count - done, ch347::kMostData);
    Command command = Make(ch347::kExchange, tx ? std::vector<uint8_t>(tx + done, tx + done + n)
                                                : std::vector<uint8_t>(n, fill));
    command.replies.push_back({ch347::kExchange, static_cast<uint16_t>(n), rx + done});
    Add(std::move(command));
    done += n;
  }
}

void Ch347Stream::Read(uint8_t* rx, size_t count) {
  if (count == 0) return;
  spiBytes_ += count;
  const auto n = static_cast<uint32_t>(count);
  Command command = Make(ch347::kRead, {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                                        static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 24)});
  for (size_t done = 0; done < count; done += ch347::kMostData) {
    command.replies.push_back(
        {ch347::kRead, static_cast<uint16_t>(std::min(count - done, ch347::kMostData)), rx + done});
  }
  Add(std::move(command));
}

void Ch347Stream::SetGpio(int pin, bool output, bool high) {
  std::vector<uint8_t> pins(ch347::kGpioPins, 0);
  pins[static_cast<size_t>(pin)] = static_cast<uint8_t>(
      ch347::kGpioChange | (output ? ch347::kGpioOutput : 0) | (output && high ? ch347::kGpioHigh : 0));
  Command command = Make(ch347::kGpio, std::move(pins));
  // The pins' states come back; only their count is checked.
  command.replies.push_back({ch347::kGpio, ch347::kGpioPins, nullptr});
  Add(std::move(command));
}

std::vector<std::vector<uint8_t>> Ch347Stream::Transfers() const {
  std::vector<std::vector<uint8_t>> transfers;
  transfers.reserve(commands_.size());
  for (const Command& command : commands_) transfers.push_back(command.bytes);
  return transfers;
}

std::vector<uint16_t> Ch347Stream::ReplyLengths() const {
  std::vector<uint16_t> lengths;
  for (const Command& command : commands_) {
    for (const Reply& reply : command.replies) lengths.push_back(static_cast<uint16_t>(ch347::kHeader + reply.length));
  }
  return lengths;
}

bool Ch347Stream::TakeReply(const uint8_t* bytes, size_t n, std::string* error) {
  while (command_ < commands_.size() && reply_ == commands_[command_].replies.size()) {
    ++command_;
    reply_ = 0;
  }
  if (command_ == commands_.size()) {
    *error = "a reply nothing asked for: " + Hex(bytes, std::min<size_t>(n, ch347::kHeader));
    return false;
  }
  const Reply& due = commands_[command_].replies[reply_++];
  const size_t length = n < ch347::kHeader ? 0 : bytes[1] | size_t{bytes[2]} << 8;
  if (n != ch347::kHeader + due.length || bytes[0] != due.command || length != due.length) {
    *error = "malformed reply from the CH347: " + Hex(bytes, std::min<size_t>(n, ch347::kHeader)) +
             " where the reply to " + Hex(&due.command, 1) + " was due";
    return false;
  }
  if (due.rx) {
    std::copy_n(bytes + ch347::kHeader, due.length, due.rx);
  } else if (due.command != ch347::kGpio && bytes[ch347::kHeader] != 0) {
    *error = "the CH347 refused command " + Hex(&due.command, 1) + " (status " + Hex(bytes + ch347::kHeader, 1) + ")";
    return false;
  }
  return true;
}

void Ch347Stream::Clear() {
  commands_.clear();
  command_ = 0;
  reply_ = 0;
  outBytes_ = 0;
  spiBytes_ = 0;
}
