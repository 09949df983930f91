#include "platform/serial/posix_transport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <set>

#include "platform/serial/errors.h"

namespace veltrane::serial {

namespace {

// Devices this process has open, by device identity: a second open here is
// "already open", which the modem-finding commands report differently from a
// device held by another program.
std::mutex gOpenMutex;
std::set<std::string>& openDevices() {
  static std::set<std::string> devices;
  return devices;
}

struct BaudCode {
  int baud;
  speed_t code;
};
constexpr BaudCode kBauds[] = {
    {300, B300},     {600, B600},       {1200, B1200},     {2400, B2400},     {4800, B4800},
    {9600, B9600},   {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
    {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool baudCode(int baud, speed_t& code) {
  for (const BaudCode& b : kBauds) {
    if (b.baud == baud) {
      code = b.code;
      return true;
    }
  }
  return false;
}

int openErrorCode(int err) {
  switch (err) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTDIR:
      return kErrNoSuchPort;
    case EBUSY:
      return kErrPortInUse;
    default:
      return kErrDevice;
  }
}

}  // namespace

bool isSupportedBaud(int baud) {
  speed_t code;
  return baudCode(baud, code);
}

std::unique_ptr<PosixTransport> PosixTransport::open(const std::string& path, int& error) {
  error = kErrNoSuchPort;
  if (path.empty()) return nullptr;
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) {
    error = openErrorCode(errno);
    return nullptr;
  }
  if (!S_ISCHR(st.st_mode)) return nullptr;  // a file or folder is no port
  const std::string key = std::to_string(st.st_rdev);
  std::lock_guard<std::mutex> lock(gOpenMutex);
  if (openDevices().count(key)) {
    error = kErrAlreadyOpen;
    return nullptr;
  }
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = openErrorCode(errno);
    return nullptr;
  }
  if (!::isatty(fd)) {
    ::close(fd);
    return nullptr;
  }
  // Another program holding the modem must keep it: an advisory lock that
  // cooperating programs honour, plus exclusive mode for those that do not.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = errno == EWOULDBLOCK ? kErrPortInUse : kErrDevice;
    ::close(fd);
    return nullptr;
  }
  ::ioctl(fd, TIOCEXCL);
  std::unique_ptr<PosixTransport> t(new PosixTransport(fd, path, key));
  openDevices().insert(key);
  int bits = 0;
  t->statusLines_ = ::ioctl(fd, TIOCMGET, &bits) == 0;
  if (t->applyTermios() != 0) {
    error = kErrDevice;
    return nullptr;
  }
  error = 0;
  return t;
}

PosixTransport::PosixTransport(int fd, std::string path, std::string key)
    : fd_(fd), path_(std::move(path)), key_(std::move(key)) {}

PosixTransport::~PosixTransport() {
  ::ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  std::lock_guard<std::mutex> lock(gOpenMutex);
  openDevices().erase(key_);
}

int PosixTransport::applyTermios() {
  termios tio{};
  if (::tcgetattr(fd_, &tio) != 0) return kErrDevice;
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
  static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  tio.c_cflag |= kSizes[line_.dataBits - 5];
  if (line_.stopBits == 2) tio.c_cflag |= CSTOPB;
  switch (line_.parity) {
    case Parity::None: break;
    case Parity::Odd: tio.c_cflag |= PARENB | PARODD; break;
    case Parity::Even: tio.c_cflag |= PARENB; break;
    case Parity::Mark: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case Parity::Space: tio.c_cflag |= PARENB | CMSPAR; break;
  }
  if (crtscts_) tio.c_cflag |= CRTSCTS;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);  // XON/XOFF are handled above us, per mode
  // VMIN 1 makes an empty non-blocking read say EAGAIN, so a read of 0 bytes
  // can only mean the other side hung up.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  speed_t code = B0;
  if (!dtrDropped_ && !baudCode(line_.baud, code)) return kErrBadParameter;
  ::cfsetispeed(&tio, code);
  ::cfsetospeed(&tio, code);
  if (::tcsetattr(fd_, TCSANOW, &tio) != 0) return kErrDevice;
  return 0;
}

int PosixTransport::setLine(const LineSettings& line) {
  if (!isSupportedBaud(line.baud)) return kErrBadParameter;
  LineSettings old = line_;
  line_ = line;
  int rc = applyTermios();
  if (rc != 0) {
    line_ = old;
    applyTermios();
  }
  return rc;
}

int PosixTransport::setHardwareFlow(const HardwareFlow& flow) {
  // The kernel enforces RTS/CTS only when both halves are asked for; the port
  // above also drops RTS by its own input levels.
  crtscts_ = statusLines_ && flow.driveRts && flow.requireCts;
  return applyTermios();
}

int PosixTransport::setDtr(bool on) {
  if (statusLines_) {
    int bit = TIOCM_DTR;
    return ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit) == 0 ? 0 : kErrDevice;
  }
  // No status lines (pseudo-terminal): speed 0 is how a hang-up by DTR drop
  // reaches a soft modem.
  if (dtrDropped_ == !on) return 0;
  dtrDropped_ = !on;
  return applyTermios();
}

int PosixTransport::setRts(bool on) {
  if (!statusLines_) return 0;
  int bit = TIOCM_RTS;
  return ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit) == 0 ? 0 : kErrDevice;
}

ModemStatus PosixTransport::modemStatus() {
  ModemStatus s;
  int bits = 0;
  if (!statusLines_ || ::ioctl(fd_, TIOCMGET, &bits) != 0) return s;
  s.available = true;
  s.cts = bits & TIOCM_CTS;
  s.dsr = bits & TIOCM_DSR;
  s.ri = bits & TIOCM_RI;
  s.dcd = bits & TIOCM_CD;
  return s;
}

long PosixTransport::read(uint8_t* dst, std::size_t max) {
  for (;;) {
    ssize_t n = ::read(fd_, dst, max);
    if (n > 0) return n;
    if (n == 0) return kErrDevice;  // hung up
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return kErrDevice;
  }
}

long PosixTransport::write(const uint8_t* src, std::size_t n) {
  for (;;) {
    ssize_t w = ::write(fd_, src, n);
    if (w >= 0) return w;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return kErrDevice;
  }
}

void PosixTransport::discardInput() { ::tcflush(fd_, TCIFLUSH); }

void PosixTransport::discardOutput() { ::tcflush(fd_, TCOFLUSH); }

}  // namespace veltrane::serial
