// SPDX-License-Identifier: MIT
// SerprogChannel: what a serprog emulator and the host's paced serial calls
// share beside the port, in a folder of their own: the host's pauses, and
// whether the emulator has taken and answered everything.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace testsupport {

/// The folder holds a named pipe, `idle`, whose 8-byte records are
/// nanoseconds of the host's pauses (a pause the program asks for passes on
/// no wire the emulator sees: the host writes it here before its next bytes,
/// and the emulator lets it pass on the device's clock before it takes
/// them), and a file, `state`, mapped by both, where the emulator publishes
/// the bytes it took and sent and whether it waits: with the bytes it wrote
/// and read, the host can tell that nothing more will come, and end a wait
/// for an answer at once. Either side may be another process.
class SerprogChannel {
 public:
  /// The emulator's side: makes the folder and what it holds, removed with
  /// the object. Null, with the reason in `error`, when they cannot be made.
  static std::unique_ptr<SerprogChannel> Create(std::string* error);
  /// The host's side of the channel in `folder`.
  static std::unique_ptr<SerprogChannel> Join(const std::string& folder, std::string* error);
  ~SerprogChannel();
  SerprogChannel(const SerprogChannel&) = delete;
  SerprogChannel& operator=(const SerprogChannel&) = delete;

  const std::string& Folder() const { return folder_; }

  /// The emulator took `taken` bytes and sent `sent`, and waits for more
  /// (`waiting`) or not.
  void Publish(bool waiting, uint64_t taken, uint64_t sent);
  /// The nanoseconds of the pauses told since the last call.
  uint64_t TakeIdleNs();

  /// Tells a pause; false when the pipe is full (tell it again later).
  bool TellIdle(uint64_t ns);
  /// Whether nothing more can reach a host that wrote `written` bytes and
  /// read `read`: the emulator took them all, sent nothing more, and waits.
  bool Settled(uint64_t written, uint64_t read) const;

 private:
  // Published as a sequence lock: `sequence` is odd while the rest changes.
  struct State {
    std::atomic<uint64_t> sequence;
    std::atomic<uint64_t> taken;
    std::atomic<uint64_t> sent;
    std::atomic<uint32_t> waiting;
  };

  SerprogChannel(std::string folder, bool owner) : folder_(std::move(folder)), owner_(owner) {}
  bool Map(int flags, std::string* error);

  const std::string folder_;
  const bool owner_;
  int idle_ = -1;
  State* state_ = nullptr;
};

}  // namespace testsupport
