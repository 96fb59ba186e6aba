// SPDX-License-Identifier: MIT
// The system's side of the serprog backend.
#include "runtime/posix_serial_system.h"

#include <fcntl.h>
#include <grp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

// The rates termios names, as bits a second and their constants (POSIX
// <termios.h>; the ones past 38400 are Linux's and the BSDs', each where
// the system defines it).
struct Rate {
  uint32_t baud;
  speed_t constant;
};
constexpr Rate kRates[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
#ifdef B57600
    {57600, B57600},
#endif
#ifdef B115200
    {115200, B115200},
#endif
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

const Rate* FindRate(uint32_t baud) {
  for (const Rate& rate : kRates) {
    if (rate.baud == baud) return &rate;
  }
  return nullptr;
}

// What a serprog link needs of a port: bytes through untouched both ways
// (no line editing, echo, signals, CR/LF translation, parity or stripping),
// 8N1, no software or hardware flow control, and the modem lines ignored
// so that a missing carrier neither blocks nor hangs up.
void MakeRaw(termios* t) {
  t->c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                       IXANY | INPCK);
  t->c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t->c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
#ifdef CRTSCTS
  t->c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
  t->c_cflag |= CS8 | CREAD | CLOCAL;
  t->c_cc[VMIN] = 1;
  t->c_cc[VTIME] = 0;
}

// tcsetattr succeeds when any of the changes took: the ones the link needs
// are read back.
bool IsRaw(const termios& t) {
  const bool input = (t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF)) == 0;
  const bool local = (t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN)) == 0;
  bool control = (t.c_cflag & (CSIZE | PARENB | CSTOPB)) == CS8;
#ifdef CRTSCTS
  control = control && (t.c_cflag & CRTSCTS) == 0;
#endif
  return input && local && control && (t.c_oflag & OPOST) == 0;
}

int ConnectOne(const addrinfo& address, uint32_t timeoutMs, int* err) {
  const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                          address.ai_protocol);
  if (fd < 0) {
    *err = errno;
    return -1;
  }
  if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
    if (errno != EINPROGRESS) {
      *err = errno;
      ::close(fd);
      return -1;
    }
    pollfd p{fd, POLLOUT, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(timeoutMs));
    socklen_t length = sizeof *err;
    if (ready <= 0) {
      *err = ready == 0 ? ETIMEDOUT : errno;
    } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, err, &length) != 0) {
      *err = errno;
    }
    if (*err != 0) {
      ::close(fd);
      return -1;
    }
  }
  // The link waits for each reply before the next command it cannot send
  // ahead: Nagle's delay would hold every short command back.
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

}  // namespace

PosixSerialSystem::PosixSerialSystem() = default;
PosixSerialSystem::~PosixSerialSystem() = default;

int PosixSerialSystem::OpenPort(const std::string& path, int* err) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) *err = errno;
  return fd;
}

bool PosixSerialSystem::ConfigurePort(int fd, uint32_t baud, int* err) {
  auto old = std::make_unique<termios>();
  if (::tcgetattr(fd, old.get()) != 0) {
    *err = errno;
    return false;
  }
  termios t = *old;
  MakeRaw(&t);
  if (baud != 0) {
    const Rate* rate = FindRate(baud);
    if (!rate) {
      *err = EINVAL;
      return false;
    }
    ::cfsetispeed(&t, rate->constant);
    ::cfsetospeed(&t, rate->constant);
  }
  termios now{};
  if (::tcsetattr(fd, TCSANOW, &t) != 0 || ::tcgetattr(fd, &now) != 0) {
    *err = errno;
    return false;
  }
  saved_[fd] = std::move(old);
  if (!IsRaw(now) || (baud != 0 && ::cfgetospeed(&now) != FindRate(baud)->constant)) {
    *err = EINVAL;
    return false;
  }
  return true;
}

int PosixSerialSystem::Connect(const std::string& host, const std::string& port, uint32_t timeoutMs,
                               std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (const int result = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); result != 0) {
    *error = "cannot find host '" + host + "': " + ::gai_strerror(result);
    return -1;
  }
  int err = 0;
  int fd = -1;
  for (const addrinfo* a = found; a && fd < 0; a = a->ai_next) fd = ConnectOne(*a, timeoutMs, &err);
  ::freeaddrinfo(found);
  if (fd < 0) {
    *error = "cannot connect to " + host + ":" + port + ": " + std::strerror(err);
  }
  return fd;
}

void PosixSerialSystem::DropInput(int fd) {
  if (::tcflush(fd, TCIFLUSH) == 0) return;
  // A socket has no terminal queue: read what has come until nothing has.
  uint8_t scrap[4096];
  while (::read(fd, scrap, sizeof scrap) > 0) {
  }
}

long PosixSerialSystem::Write(int fd, const uint8_t* bytes, size_t count, int* err) {
  // A socket whose peer has gone would raise SIGPIPE on write(2).
  long n = ::send(fd, bytes, count, MSG_NOSIGNAL);
  if (n < 0 && errno == ENOTSOCK) n = ::write(fd, bytes, count);
  if (n >= 0) return n;
  if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
  *err = errno;
  return -1;
}

long PosixSerialSystem::Read(int fd, uint8_t* bytes, size_t count, int* err) {
  const long n = ::read(fd, bytes, count);
  if (n < 0) *err = errno == EWOULDBLOCK ? EAGAIN : errno;
  return n;
}

int PosixSerialSystem::Wait(int fd, bool forWrite, uint32_t timeoutMs, int* err) {
  pollfd p{fd, static_cast<short>(forWrite ? POLLOUT | POLLIN : POLLIN), 0};
  const int ready = ::poll(&p, 1, static_cast<int>(timeoutMs));
  if (ready < 0) {
    if (errno == EINTR) return 0;
    *err = errno;
    return -1;
  }
  return ready > 0 ? 1 : 0;
}

void PosixSerialSystem::Close(int fd) {
  if (const auto it = saved_.find(fd); it != saved_.end()) {
    ::tcsetattr(fd, TCSANOW, it->second.get());
    saved_.erase(it);
  }
  ::close(fd);
}

std::string PosixSerialSystem::GroupOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return "";
  std::vector<char> buffer(4096);
  struct group entry {};
  struct group* found = nullptr;
  if (::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return "";
  return found->gr_name;
}

void PosixSerialSystem::Idle(uint64_t ns) { std::this_thread::sleep_for(std::chrono::nanoseconds(ns)); }

uint64_t PosixSerialSystem::NowMs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}
