// SPDX-License-Identifier: MIT
// The serprog device emulator.
#include "testsupport/serprog_emulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "runtime/device_name.h"
#include "testsupport/fake_description.h"

namespace testsupport {

namespace {

// The device's own facts, kept apart from the backend's so that a mistake in
// one shows against the other (flashrom's serprog-protocol.rst).
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;
constexpr uint8_t kNop = 0x00;
constexpr uint8_t kQIface = 0x01;
constexpr uint8_t kQCmdMap = 0x02;
constexpr uint8_t kQPgmName = 0x03;
constexpr uint8_t kQSerBuf = 0x04;
constexpr uint8_t kQBusType = 0x05;
constexpr uint8_t kQWrNMaxLen = 0x08;
constexpr uint8_t kSyncNop = 0x10;
constexpr uint8_t kQRdNMaxLen = 0x11;
constexpr uint8_t kSBusType = 0x12;
constexpr uint8_t kOSpiOp = 0x13;
constexpr uint8_t kSSpiFreq = 0x14;
constexpr uint8_t kSPinState = 0x15;
constexpr uint8_t kSSpiCs = 0x16;
constexpr size_t kSpiOpHeader = 7;

// pico-serprog's clock (main.c, serprog_spi_init): the PIO program takes 4
// system clock cycles a bit (pio/spi.pio), divided by a fraction from 1 to
// 65536 of the RP2040's 125 MHz; the clock it reports is worked out in
// single precision as the firmware does.
constexpr uint32_t kSystemHz = 125'000'000;
constexpr uint32_t kCyclesPerBit = 4;

// Time. pico-serprog's pull request #8 (2023) reads 16 MiB in 26 s through
// flashrom: 1,550 ns a byte. Its firmware clocks 128 bytes, then sends
// them over USB, one after the other; at the top clock of 31.25 MHz the
// bus takes 256 ns a byte, which leaves 1,294 ns for the USB CDC path (each
// way, in this model). pico-serprog's issue #10 (2023) reads 16 MB with a
// firmware that answers 8 bytes a command in 10 to 12 minutes: 2,097,152
// commands of some 20 bytes, 286 to 343 µs each, less their bytes' 26 µs:
// about 0.3 ms a turn of the host waiting for an answer.

uint32_t PicoClock(uint32_t hz) {
  float div = static_cast<float>(kSystemHz * 1.0 / (static_cast<double>(hz) * kCyclesPerBit));
  div = std::clamp(div, 1.0f, 65536.0f);
  return static_cast<uint32_t>(static_cast<float>(kSystemHz) / (div * kCyclesPerBit));
}

uint32_t Little(const uint8_t* bytes, size_t n) {
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= uint32_t{bytes[i]} << (8 * i);
  return v;
}

std::vector<uint8_t> LittleBytes(uint32_t v, size_t n) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return bytes;
}

std::string Hex(const uint8_t* bytes, size_t n, size_t shown) {
  std::string s;
  for (size_t i = 0; i < std::min(n, shown); ++i) {
    char text[4];
    std::snprintf(text, sizeof text, i ? " %02X" : "%02X", bytes[i]);
    s += text;
  }
  if (n > shown) s += " +" + std::to_string(n - shown);
  return s;
}

bool ParseHex(const std::string& text, std::vector<uint8_t>* bytes) {
  if (text.empty() || text.size() % 2) return false;
  bytes->clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    char* end = nullptr;
    const std::string pair = text.substr(i, 2);
    const unsigned long v = std::strtoul(pair.c_str(), &end, 16);
    if (*end) return false;
    bytes->push_back(static_cast<uint8_t>(v));
  }
  return true;
}

// The rate a UART emulation compares the port's with.
bool SpeedOf(uint32_t baud, speed_t* speed) {
  static constexpr struct {
    uint32_t baud;
    speed_t speed;
  } kSpeeds[] = {{9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
                 {230400, B230400}, {460800, B460800}, {921600, B921600}};
  for (const auto& s : kSpeeds) {
    if (s.baud == baud) {
      *speed = s.speed;
      return true;
    }
  }
  return false;
}

bool ApplyKey(const KeyItem& item, SerprogEmulatorConfig* config) {
  uint32_t n = 0;
  bool flag = false;
  if (item.key == "chip") return item.Path(&config->sim.chip);
  if (item.key == "image") return item.Path(&config->sim.image);
  if (item.key == "report") return item.Path(&config->report);
  if (item.key == "name") return item.Path(&config->name);
  if (item.key == "tcp") return item.Flag(&config->tcp);
  if (item.key == "latency") return item.Unsigned(&config->roundTripUs);
  if (item.key == "bytens") return item.Unsigned(&config->byteNs);
  if (item.key == "cs") return item.Unsigned(&config->chipSelects);
  if (item.key == "wbuf") return item.Unsigned(&config->writeBuffer);
  if (item.key == "stale") return item.Unsigned(&config->stale);
  if (item.key == "baud") {
    speed_t speed = 0;
    return item.Unsigned(&config->baud) && SpeedOf(config->baud, &speed);
  }
  if (item.key == "answer") return ParseHex(item.value, &config->answer);
  if (item.key == "partial") return ParseHex(item.value, &config->partial);
  if (item.key == "iface" || item.key == "buses" || item.key == "serbuf") {
    if (!item.Unsigned(&n) || n > 0xFFFF) return false;
    if (item.key == "iface") config->iface = static_cast<uint16_t>(n);
    if (item.key == "buses") config->buses = static_cast<uint8_t>(n);
    if (item.key == "serbuf") config->serialBuffer = static_cast<uint16_t>(n);
    return item.key != "buses" || n <= 0xFF;
  }
  if (item.key == "maxlen") {
    const std::vector<std::string> parts = SplitAt(item.value, ':');
    uint32_t out = 0, in = 0;
    if (parts.size() != 2 || !ParseUnsigned(parts[0], &out) || !ParseUnsigned(parts[1], &in)) return false;
    config->maxOut = out;
    config->maxIn = in;
    return true;
  }
  bool* off = item.key == "nofreq"      ? &config->setFreq
              : item.key == "nopins"    ? &config->pinState
              : item.key == "nobustype" ? &config->busType
              : item.key == "noname"    ? &config->queryName
              : item.key == "noserbuf"  ? &config->querySerBuf
                                        : nullptr;
  if (off) {
    *off = false;
    return item.Flag(&flag);
  }
  uint64_t* counter = item.key == "mute"     ? &config->muteAfter
                      : item.key == "hangup" ? &config->hangUpAfter
                      : item.key == "nak"    ? &config->nakSpiOp
                                             : nullptr;
  if (!counter || !item.Unsigned(&n) || n == 0) return false;
  *counter = n;
  return true;
}

// What a serprog link needs of the port, as the host must have set it.
bool PortIsRaw(const termios& t) {
  return (t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF)) == 0 &&
         (t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN)) == 0 && (t.c_oflag & OPOST) == 0 &&
         (t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS)) == CS8;
}

}  // namespace

SerprogEmulator::SerprogEmulator(const SerprogEmulatorConfig& config)
    : config_(config), staleOwed_(config.stale) {}

std::unique_ptr<SerprogEmulator> SerprogEmulator::Create(const SerprogEmulatorConfig& config, std::string* error) {
  std::unique_ptr<SerprogEmulator> emulator(new SerprogEmulator(config));
  emulator->sim_ = SimInterface::Create(config.sim, error);
  if (!emulator->sim_) return nullptr;
  // pico-serprog starts its clock at 1 MHz.
  emulator->sim_->SetClock(PicoClock(1'000'000));
  emulator->sim_->SetSelectLine(true);
  emulator->drivers_ = true;
  emulator->in_ = config.partial;
  if (::pipe2(emulator->wake_, O_CLOEXEC) != 0) {
    *error = std::string("serprog emulator: pipe: ") + std::strerror(errno);
    return nullptr;
  }
  if (!(config.tcp ? emulator->Listen(error) : emulator->OpenPseudoTerminal(error))) return nullptr;
  emulator->channel_ = SerprogChannel::Create(error);
  if (!emulator->channel_) return nullptr;
  return emulator;
}

std::unique_ptr<SerprogEmulator> SerprogEmulator::FromDescription(const std::string& text, std::string* error) {
  SerprogEmulatorConfig config;
  config.keepLog = false;
  if (!Describe(text, &config, error)) return nullptr;
  return Create(config, error);
}

bool SerprogEmulator::Describe(const std::string& text, SerprogEmulatorConfig* config, std::string* error) {
  return ReadDescription(text, "serprog emulator", config, ApplyKey, error);
}

SerprogEmulator::~SerprogEmulator() {
  Stop();
  for (int fd : {master_, slave_, listener_, connection_, wake_[0], wake_[1]}) {
    if (fd >= 0) ::close(fd);
  }
}

void SerprogEmulator::Publish() { channel_->Publish(waiting_, taken_, sent_); }

bool SerprogEmulator::OpenPseudoTerminal(std::string* error) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  const char* path = master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0 ? ::ptsname(master_)
                                                                                          : nullptr;
  if (!path) {
    *error = std::string("serprog emulator: no pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  deviceName_ = path;
  // The far end held open: the host may close and open it again, as a USB
  // serial port, and the master never sees it hang up in between.
  slave_ = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0 || ::fcntl(master_, F_SETFL, O_NONBLOCK) != 0) {
    *error = std::string("serprog emulator: ") + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool SerprogEmulator::Listen(std::string* error) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 1) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    *error = std::string("serprog emulator: socket: ") + std::strerror(errno);
    return false;
  }
  deviceName_ = "tcp:127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  return true;
}

void SerprogEmulator::Start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Serve(); });
}

void SerprogEmulator::Stop() {
  if (!thread_.joinable()) return;
  const char stop = 1;
  if (::write(wake_[1], &stop, 1) != 1) std::perror("serprog emulator: wake");
  thread_.join();
  std::string error;
  if (!sim_->Save(&error)) std::fprintf(stderr, "serprog emulator: %s\n", error.c_str());
  if (config_.report.empty()) return;
  if (std::FILE* file = std::fopen(config_.report.c_str(), "w")) {
    std::fprintf(file, "%s\n", Summary().c_str());
    std::fclose(file);
  }
}

bool SerprogEmulator::Offers(uint8_t opcode) const {
  switch (opcode) {
    case kNop:
    case kQIface:
    case kQCmdMap:
    case kSyncNop:
    case kOSpiOp:
      return true;
    case kQPgmName: return config_.queryName;
    case kQSerBuf: return config_.querySerBuf;
    case kQBusType:
    case kSBusType: return config_.busType;
    case kQWrNMaxLen: return config_.maxOut.has_value();
    case kQRdNMaxLen: return config_.maxIn.has_value();
    case kSSpiFreq: return config_.setFreq;
    case kSPinState: return config_.pinState;
    case kSSpiCs: return config_.chipSelects > 0;
    default: return false;
  }
}

void SerprogEmulator::Serve() {
  for (;;) {
    const bool accepting = config_.tcp && connection_ < 0;
    const int io = accepting ? listener_ : config_.tcp ? connection_ : master_;
    pollfd fds[2] = {{wake_[0], POLLIN, 0}, {io, static_cast<short>(out_.empty() ? POLLIN : POLLOUT), 0}};
    const nfds_t count = gone_ ? 1 : 2;
    waiting_ = out_.empty();
    Publish();
    const int ready = ::poll(fds, count, -1);
    waiting_ = false;
    Publish();
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || fds[0].revents) return;
    if (count < 2 || fds[1].revents == 0) continue;
    if (accepting) {
      connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      answeredAll_ = false;
      continue;
    }
    if (fds[1].revents & POLLOUT) {
      SendOutput();
    } else if (!TakeInput(io) && config_.tcp) {
      // Each connection is a session of its own: the parser starts afresh.
      ::close(connection_);
      connection_ = -1;
      in_.clear();
      out_.clear();
    }
  }
}

bool SerprogEmulator::TakeInput(int fd) {
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n > 0) {
      bytes.insert(bytes.end(), chunk, chunk + n);
      continue;
    }
    const bool open = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
    if (!bytes.empty()) Process(std::move(bytes));
    return open;
  }
}

void SerprogEmulator::CheckPort() {
  if (config_.tcp || portChecked_) return;
  termios t{};
  if (::tcgetattr(slave_, &t) != 0 || PortIsRaw(t)) return;
  portChecked_ = true;
  char flags[96];
  std::snprintf(flags, sizeof flags, "iflag %o oflag %o cflag %o lflag %o", static_cast<unsigned>(t.c_iflag),
                static_cast<unsigned>(t.c_oflag), static_cast<unsigned>(t.c_cflag), static_cast<unsigned>(t.c_lflag));
  Violation(std::string("bytes reached a port that is not raw 8N1 without flow control (") + flags + ")");
}

void SerprogEmulator::Process(std::vector<uint8_t> bytes) {
  taken_ += bytes.size();
  if (config_.baud && !config_.tcp) {
    termios t{};
    speed_t speed = 0;
    // A UART clocking at another rate than the host's sees noise.
    if (SpeedOf(config_.baud, &speed) && ::tcgetattr(slave_, &t) == 0 && ::cfgetospeed(&t) != speed) return;
  }
  CheckPort();
  // The host paused before it sent this, or had waited for the last answer.
  sim_->Wait(channel_->TakeIdleNs());
  if (answeredAll_) {
    sim_->Wait(uint64_t{config_.roundTripUs} * 1000);
    std::lock_guard<std::mutex> lock(mutex_);
    ++roundTrips_;
  }
  answeredAll_ = false;
  if (mute_) return;
  const size_t before = out_.size();
  if (staleOwed_) {
    // Still sending the end of an answer the last host did not read: it
    // looks like the synchronisation's own.
    std::vector<uint8_t> old;
    for (uint32_t i = 0; i < staleOwed_; ++i) old.push_back(i % 3 == 0 ? kNak : kAck);
    Answer(std::move(old));
    staleOwed_ = 0;
  }
  if (!config_.answer.empty()) {
    for (size_t i = 0; i < bytes.size(); ++i) Answer(config_.answer);
  } else {
    in_.insert(in_.end(), bytes.begin(), bytes.end());
    while (!gone_ && !mute_ && Execute()) {
    }
  }
  answeredAll_ = out_.size() > before && in_.empty();
  SendOutput();
}

void SerprogEmulator::Log(size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++commands_;
  if (config_.keepLog) log_.push_back(Hex(in_.data(), length, 11));
}

bool SerprogEmulator::Execute() {
  if (in_.empty()) return false;
  const uint8_t op = in_[0];
  const bool known = Offers(op);
  // An unknown command takes no parameters: what follows it is read as
  // commands.
  size_t length = 1;
  if (known && op == kOSpiOp) {
    if (in_.size() < kSpiOpHeader) return false;
    length = kSpiOpHeader + Little(&in_[1], 3);
  } else if (known && (op == kSBusType || op == kSPinState || op == kSSpiCs)) {
    length = 2;
  } else if (known && op == kSSpiFreq) {
    length = 5;
  }
  if (in_.size() < length) return false;
  Log(length);
  if (!known) Violation("command " + Hex(&op, 1, 1) + " is not in the command map");
  sim_->Wait(length * config_.byteNs);
  const std::vector<uint8_t> command(in_.begin(), in_.begin() + static_cast<long>(length));
  in_.erase(in_.begin(), in_.begin() + static_cast<long>(length));
  if (op == kOSpiOp) {
    SpiOp(Little(&command[1], 3), Little(&command[4], 3), command.data() + kSpiOpHeader);
  } else {
    Answer(Reply(command));
  }
  return true;
}

std::vector<uint8_t> SerprogEmulator::Reply(const std::vector<uint8_t>& command) {
  const uint8_t op = command[0];
  const uint8_t p = command.size() > 1 ? command[1] : 0;
  auto ack = [](std::vector<uint8_t> more) {
    more.insert(more.begin(), kAck);
    return more;
  };
  if (!Offers(op)) return {kNak};
  switch (op) {
    case kQIface: return ack(LittleBytes(config_.iface, 2));
    case kQCmdMap: {
      std::vector<uint8_t> map(32);
      for (unsigned c = 0; c < 256; ++c) {
        if (Offers(static_cast<uint8_t>(c))) map[c / 8] |= static_cast<uint8_t>(1 << (c % 8));
      }
      return ack(map);
    }
    case kQPgmName: {
      std::vector<uint8_t> name(16, 0);
      std::copy_n(config_.name.begin(), std::min<size_t>(16, config_.name.size()), name.begin());
      return ack(name);
    }
    case kQSerBuf: return ack(LittleBytes(config_.serialBuffer, 2));
    case kQBusType: return ack({config_.buses});
    case kQWrNMaxLen: return ack(LittleBytes(*config_.maxOut, 3));
    case kQRdNMaxLen: return ack(LittleBytes(*config_.maxIn, 3));
    case kSyncNop: return {kNak, kAck};
    case kSBusType: return {(p | config_.buses) == config_.buses ? kAck : kNak};
    case kSSpiFreq: {
      const uint32_t hz = Little(&command[1], 4);
      if (hz == 0) return {kNak};
      const uint32_t granted = PicoClock(hz);
      sim_->SetClock(granted);
      return ack(LittleBytes(granted, 4));
    }
    case kSPinState: {
      std::lock_guard<std::mutex> lock(mutex_);
      drivers_ = p != 0;
      return {kAck};
    }
    case kSSpiCs:
      if (p >= config_.chipSelects) return {kNak};
      chipSelect_ = p;
      return {kAck};
    default:  // NOP
      return {kAck};
  }
}

void SerprogEmulator::SpiOp(uint32_t out, uint32_t in, const uint8_t* bytes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++spiOps_;
  }
  if (config_.hangUpAfter && spiOps_ > config_.hangUpAfter) return HangUp();
  if (config_.muteAfter && spiOps_ > config_.muteAfter) {
    mute_ = true;
    return;
  }
  if (out > config_.writeBuffer) {
    Violation("S_CMD_O_SPIOP of " + std::to_string(out) + " bytes out: the firmware's buffer holds " +
              std::to_string(config_.writeBuffer));
  }
  if (!DriversOn()) Violation("S_CMD_O_SPIOP with the output drivers off");
  if ((config_.maxOut && out > (*config_.maxOut ? *config_.maxOut : 1u << 24)) ||
      (config_.maxIn && in > (*config_.maxIn ? *config_.maxIn : 1u << 24))) {
    Violation("S_CMD_O_SPIOP of " + std::to_string(out) + " bytes out and " + std::to_string(in) +
              " back, beyond the lengths the device states");
    return Answer({kNak});
  }
  if (spiOps_ == config_.nakSpiOp) return Answer({kNak});
  std::vector<uint8_t> answer(1 + in, 0xFF);
  answer[0] = kAck;
  // The chip is on chip select 0; on another nothing drives MISO.
  if (chipSelect_ == 0) {
    sim_->SetSelectLine(false);
    sim_->Transfer(bytes, nullptr, out);
    sim_->TransferFill(0x00, answer.data() + 1, in);
    sim_->SetSelectLine(true);
  } else {
    sim_->Wait((uint64_t{out} + in) * 8'000'000'000ull / sim_->GetClock());
  }
  Answer(std::move(answer));
}

void SerprogEmulator::Answer(std::vector<uint8_t> bytes) {
  sim_->Wait(bytes.size() * config_.byteNs);
  out_.insert(out_.end(), bytes.begin(), bytes.end());
}

void SerprogEmulator::SendOutput() {
  const int fd = config_.tcp ? connection_ : master_;
  size_t done = 0;
  while (done < out_.size() && fd >= 0) {
    const ssize_t n = ::write(fd, out_.data() + done, out_.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  out_.erase(out_.begin(), out_.begin() + static_cast<long>(done));
  sent_ += done;
}

void SerprogEmulator::HangUp() {
  // Unplugged, or reset: the host's end of the port reads its end.
  int& fd = config_.tcp ? connection_ : master_;
  ::close(fd);
  fd = -1;
  gone_ = true;
  in_.clear();
  out_.clear();
}

void SerprogEmulator::Violation(const std::string& what) {
  std::fprintf(stderr, "serprog emulator: %s\n", what.c_str());
  std::lock_guard<std::mutex> lock(mutex_);
  violations_.push_back(what);
}

bool SerprogEmulator::Settled(uint64_t written, uint64_t read) const { return channel_->Settled(written, read); }

std::vector<std::string> SerprogEmulator::Commands() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

std::vector<std::string> SerprogEmulator::Violations() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return violations_;
}

void SerprogEmulator::ClearLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.clear();
  violations_.clear();
}

bool SerprogEmulator::DriversOn() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return drivers_;
}

std::string SerprogEmulator::Summary() const {
  const SimStats stats = sim_->Stats();
  char head[200];
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::snprintf(head, sizeof head, "modelled=%.6f s round-trips=%llu commands=%llu spi-ops=%llu ops:",
                  static_cast<double>(stats.timeNs) / 1e9, static_cast<unsigned long long>(roundTrips_),
                  static_cast<unsigned long long>(commands_), static_cast<unsigned long long>(spiOps_));
  }
  std::string s = head;
  bool any = false;
  for (size_t i = 0; i < kSimOpCount; ++i) {
    if (stats.ops[i] == 0) continue;
    s += std::string(any ? ", " : " ") + SimOpName(static_cast<SimOp>(i)) + "=" + std::to_string(stats.ops[i]);
    any = true;
  }
  return any ? s : s + " none";
}

}  // namespace testsupport
