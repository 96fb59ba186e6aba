// SPDX-License-Identifier: MIT
// A USB write and its replies, transfers kept in flight.
#include "runtime/usb_exchange.h"

#include <cstdio>

namespace {

std::string Hex(uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

}  // namespace

UsbExchange::UsbExchange(UsbLibrary& usb, std::string device, uint8_t outEndpoint, uint8_t inEndpoint)
    : usb_(usb), device_(std::move(device)), outEndpoint_(outEndpoint), inEndpoint_(inEndpoint) {}

bool UsbExchange::AnyActive() const {
  for (const Slot& s : outs_) {
    if (s.transfer.active) return true;
  }
  for (const Slot& s : ins_) {
    if (s.transfer.active) return true;
  }
  return false;
}

bool UsbExchange::Submitted(int result, UsbTransfer& transfer, std::string* error) {
  if (result == 0) return true;
  transfer.active = false;
  if (result == kUsbErrorNoDevice) {
    gone_ = true;
    *error = "the " + device_ + " is gone: unplugged, or it lost its power or its USB connection";
  } else {
    *error = "cannot send a USB transfer to the " + device_ + " (endpoint " + Hex(transfer.endpoint) +
             "): " + usb_.ErrorName(result);
  }
  return false;
}

bool UsbExchange::SubmitOut(const std::vector<uint8_t>& bytes, std::string* error) {
  Slot& slot = outs_[outSubmitted_++ % kOutInFlight];
  slot.buffer = bytes;
  slot.transfer = {.endpoint = outEndpoint_,
                   .buffer = slot.buffer.data(),
                   .length = static_cast<int>(slot.buffer.size()),
                   .timeoutMs = kTimeoutMs};
  return Submitted(usb_.Submit(&slot.transfer), slot.transfer, error);
}

bool UsbExchange::SubmitIn(uint16_t length, std::string* error) {
  Slot& slot = ins_[inSubmitted_++ % kInInFlight];
  // Exactly the reply due: libusb reports a longer packet as an overflow.
  slot.buffer.assign(length, 0);
  slot.transfer = {.endpoint = inEndpoint_, .buffer = slot.buffer.data(), .length = length, .timeoutMs = kTimeoutMs};
  return Submitted(usb_.Submit(&slot.transfer), slot.transfer, error);
}

bool UsbExchange::Ended(const UsbTransfer& t, int expected, std::string* error) {
  const bool in = (t.endpoint & 0x80) != 0;
  switch (t.status) {
    case UsbTransferStatus::kCompleted:
      if (t.actualLength == expected) return true;
      *error = in ? "short reply from the " + device_ + ": " + std::to_string(t.actualLength) + " of " +
                        std::to_string(expected) + " bytes"
                  : "the " + device_ + " took " + std::to_string(t.actualLength) + " of " + std::to_string(expected) +
                        " bytes";
      return false;
    case UsbTransferStatus::kOverflow:
      *error = "malformed reply from the " + device_ + ": a packet longer than the " + std::to_string(expected) +
               " bytes due";
      return false;
    case UsbTransferStatus::kNoDevice:
      gone_ = true;
      *error = "the " + device_ + " is gone: unplugged, or it lost its power or its USB connection";
      return false;
    case UsbTransferStatus::kTimedOut:
      *error = "the " + device_ + (in ? " sent no reply" : " took no data") + " within " +
               std::to_string(kTimeoutMs) + " ms (endpoint " + Hex(t.endpoint) + ")";
      return false;
    case UsbTransferStatus::kStall:
      *error = "the " + device_ + " stalled endpoint " + Hex(t.endpoint);
      return false;
    case UsbTransferStatus::kCancelled:
    case UsbTransferStatus::kError:
      break;
  }
  *error = "USB transfer on endpoint " + Hex(t.endpoint) + " of the " + device_ + " failed";
  return false;
}

bool UsbExchange::Run(const std::vector<std::vector<uint8_t>>& transfers, const std::vector<uint16_t>& replyLengths,
                      const std::function<void(const uint8_t*, size_t)>& take, std::string* error) {
  if (AnyActive()) {
    *error = "the " + device_ + " still holds transfers of an earlier failure";
    return false;
  }
  outSubmitted_ = 0;
  inSubmitted_ = 0;
  size_t outDone = 0;
  size_t inDone = 0;
  bool ok = true;
  uint64_t deadline = usb_.NowMs() + kTimeoutMs + kEventWaitMs;
  while (ok && (outDone < transfers.size() || inDone < replyLengths.size())) {
    while (ok && outSubmitted_ < transfers.size() && outSubmitted_ - outDone < kOutInFlight) {
      ok = SubmitOut(transfers[outSubmitted_], error);
    }
    while (ok && inSubmitted_ < replyLengths.size() && inSubmitted_ - inDone < kInInFlight) {
      ok = SubmitIn(replyLengths[inSubmitted_], error);
    }
    if (!ok) break;
    usb_.HandleEvents(kEventWaitMs);
    bool progress = false;
    // Transfers of one endpoint end in the order they were submitted.
    while (ok && outDone < outSubmitted_ && !outs_[outDone % kOutInFlight].transfer.active) {
      const Slot& slot = outs_[outDone % kOutInFlight];
      ok = Ended(slot.transfer, slot.transfer.length, error);
      ++outDone;
      progress = true;
    }
    while (ok && inDone < inSubmitted_ && !ins_[inDone % kInInFlight].transfer.active) {
      const Slot& slot = ins_[inDone % kInInFlight];
      ok = Ended(slot.transfer, replyLengths[inDone], error);
      if (ok) take(slot.buffer.data(), static_cast<size_t>(slot.transfer.actualLength));
      ++inDone;
      progress = true;
    }
    const uint64_t now = usb_.NowMs();
    if (progress) deadline = now + kTimeoutMs + kEventWaitMs;
    if (ok && now > deadline) {
      *error = "the " + device_ + " did not answer within " + std::to_string(kTimeoutMs) + " ms";
      ok = false;
    }
  }
  if (!ok) CancelAndDrain();
  return ok;
}

void UsbExchange::CancelAndDrain() {
  for (Slot& s : outs_) {
    if (s.transfer.active) usb_.Cancel(&s.transfer);
  }
  for (Slot& s : ins_) {
    if (s.transfer.active) usb_.Cancel(&s.transfer);
  }
  // Cancelled transfers end at the next events; one that does not even then
  // keeps its slot (and buffer) until the library is closed.
  const uint64_t deadline = usb_.NowMs() + kTimeoutMs;
  while (AnyActive() && usb_.NowMs() <= deadline) usb_.HandleEvents(kEventWaitMs);
}
