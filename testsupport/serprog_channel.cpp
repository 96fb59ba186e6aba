// SPDX-License-Identifier: MIT
// The side channel of a serprog emulator and its host.
#include "testsupport/serprog_channel.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace testsupport {

namespace {

static_assert(std::atomic<uint64_t>::is_always_lock_free, "the state is shared between processes");

std::string IdlePipe(const std::string& folder) { return folder + "/idle"; }
std::string StateFile(const std::string& folder) { return folder + "/state"; }

}  // namespace

std::unique_ptr<SerprogChannel> SerprogChannel::Create(std::string* error) {
  char folder[] = "/tmp/serprog-channel.XXXXXX";
  if (!::mkdtemp(folder)) {
    *error = std::string("serprog channel: ") + std::strerror(errno);
    return nullptr;
  }
  std::unique_ptr<SerprogChannel> channel(new SerprogChannel(folder, true));
  // The pipe held open for reading, so that the host's end opens at once.
  if (::mkfifo(IdlePipe(channel->folder_).c_str(), 0600) != 0 ||
      (channel->idle_ = ::open(IdlePipe(channel->folder_).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
    *error = "serprog channel: " + IdlePipe(channel->folder_) + ": " + std::strerror(errno);
    return nullptr;
  }
  if (!channel->Map(O_RDWR | O_CREAT | O_EXCL, error)) return nullptr;
  new (channel->state_) State{};
  return channel;
}

std::unique_ptr<SerprogChannel> SerprogChannel::Join(const std::string& folder, std::string* error) {
  std::unique_ptr<SerprogChannel> channel(new SerprogChannel(folder, false));
  channel->idle_ = ::open(IdlePipe(folder).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (channel->idle_ < 0) {
    *error = "serprog channel: " + IdlePipe(folder) + ": " + std::strerror(errno);
    return nullptr;
  }
  if (!channel->Map(O_RDWR, error)) return nullptr;
  return channel;
}

bool SerprogChannel::Map(int flags, std::string* error) {
  const std::string path = StateFile(folder_);
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0600);
  void* memory = MAP_FAILED;
  if (fd >= 0 && ((flags & O_CREAT) == 0 || ::ftruncate(fd, sizeof(State)) == 0)) {
    memory = ::mmap(nullptr, sizeof(State), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  }
  const int err = errno;
  if (fd >= 0) ::close(fd);
  if (memory == MAP_FAILED) {
    *error = "serprog channel: " + path + ": " + std::strerror(err);
    return false;
  }
  state_ = static_cast<State*>(memory);
  return true;
}

SerprogChannel::~SerprogChannel() {
  if (state_) ::munmap(state_, sizeof(State));
  if (idle_ >= 0) ::close(idle_);
  if (!owner_) return;
  ::unlink(IdlePipe(folder_).c_str());
  ::unlink(StateFile(folder_).c_str());
  ::rmdir(folder_.c_str());
}

void SerprogChannel::Publish(bool waiting, uint64_t taken, uint64_t sent) {
  const uint64_t sequence = state_->sequence.load();
  state_->sequence.store(sequence + 1);
  state_->taken.store(taken);
  state_->sent.store(sent);
  state_->waiting.store(waiting ? 1 : 0);
  state_->sequence.store(sequence + 2);
}

bool SerprogChannel::Settled(uint64_t written, uint64_t read) const {
  for (;;) {
    const uint64_t before = state_->sequence.load();
    if (before % 2) continue;
    const bool settled = state_->waiting.load() != 0 && state_->taken.load() == written && state_->sent.load() == read;
    if (state_->sequence.load() == before) return settled;
  }
}

uint64_t SerprogChannel::TakeIdleNs() {
  uint64_t sum = 0;
  uint64_t records[512];
  ssize_t n;
  while ((n = ::read(idle_, records, sizeof records)) > 0) {
    for (ssize_t i = 0; i < n / static_cast<ssize_t>(sizeof records[0]); ++i) sum += records[i];
  }
  return sum;
}

bool SerprogChannel::TellIdle(uint64_t ns) {
  // Eight bytes go into a pipe whole, or not at all.
  return ::write(idle_, &ns, sizeof ns) == sizeof ns;
}

}  // namespace testsupport
