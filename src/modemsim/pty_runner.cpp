#include "modemsim/pty_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "modemsim/trace.h"

namespace veltrane::modemsim {

namespace {

std::atomic<bool> gStop{false};
void onSignal(int) { gStop = true; }

constexpr std::size_t kReadChunk = 4096;
constexpr Micros kClosedRecheck = 100 * kMs;

// One modem on the master side of a pseudo-terminal.
class PtyPort {
 public:
  PtyPort(Modem& modem, std::string path, std::string label, Trace& trace)
      : modem_(modem), path_(std::move(path)), label_(std::move(label)), trace_(trace) {}
  ~PtyPort() {
    if (fd_ >= 0) ::close(fd_);
    if (linked_) ::unlink(path_.c_str());
  }

  bool open(std::string& error) {
    fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0) {
      error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
      return false;
    }
    const char* slave = ::ptsname(fd_);
    if (!slave) {
      error = "ptsname failed";
      return false;
    }
    slaveName_ = slave;
    // Raw until the host configures the port: no echo, no line editing.
    termios t{};
    if (::tcgetattr(fd_, &t) == 0) {
      ::cfmakeraw(&t);
      ::tcsetattr(fd_, TCSANOW, &t);
    }
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_symlink(path_, ec)) fs::remove(path_, ec);
    else if (fs::exists(path_, ec)) {
      error = path_ + " exists and is not a symbolic link";
      return false;
    }
    if (::symlink(slaveName_.c_str(), path_.c_str()) != 0) {
      error = "cannot create " + path_ + ": " + std::strerror(errno);
      return false;
    }
    linked_ = true;
    modem_.setOutput([this](const std::uint8_t* p, std::size_t n) {
      trace_.bytes(label_, "M>H", p, n);
      out_.insert(out_.end(), p, p + n);
    });
    trace_.event(label_, "published on " + slaveName_ + " as " + path_ + ", number " + modem_.number());
    return true;
  }

  int fd() const { return fd_; }
  const std::string& slaveName() const { return slaveName_; }
  bool wantRead() const { return !hostGone_ && modem_.hostRoom() > 0; }
  bool wantWrite() const { return !out_.empty() && !hostGone_; }

  void readHost() {
    std::uint8_t buf[kReadChunk];
    std::size_t room = std::min(modem_.hostRoom(), sizeof buf);
    if (room == 0) return;
    ssize_t n = ::read(fd_, buf, room);
    if (n > 0) {
      trace_.bytes(label_, "H>M", buf, static_cast<std::size_t>(n));
      modem_.hostWrite(buf, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EIO) {
      hostClosed();
    }
  }

  void writeHost() {
    while (!out_.empty()) {
      ssize_t n = ::write(fd_, out_.data(), out_.size());
      if (n <= 0) return;
      out_.erase(out_.begin(), out_.begin() + n);
    }
  }

  void hostClosed() {
    if (hostGone_) return;
    hostGone_ = true;
    out_.clear();
    trace_.event(label_, "host closed the port (DTR dropped)");
    modem_.dropDtr();
  }

  // Called regularly: a host that reopened the port, or set the speed to 0 (DTR drop).
  void checkLines() {
    pollfd p{fd_, POLLIN, 0};
    if (hostGone_) {
      if (::poll(&p, 1, 0) >= 0 && !(p.revents & POLLHUP)) {
        hostGone_ = false;
        trace_.event(label_, "host opened the port");
      }
      return;
    }
    termios t{};
    if (::tcgetattr(fd_, &t) == 0) {
      bool zero = ::cfgetospeed(&t) == B0;
      if (zero && !speedZero_) {
        trace_.event(label_, "host set speed 0 (DTR dropped)");
        modem_.dropDtr();
      }
      speedZero_ = zero;
    }
  }

 private:
  Modem& modem_;
  std::string path_, label_;
  Trace& trace_;
  int fd_ = -1;
  bool linked_ = false;
  bool hostGone_ = true;  // until the host opens the slave side
  bool speedZero_ = false;
  std::string slaveName_;
  Bytes out_;
};

std::string describe(const std::string& number, const RemoteCallRecord& r) {
  std::string s = "remote " + number + ": " + (r.sending ? "sent " : "received ") +
                  std::to_string(r.pages) + " page(s)";
  if (r.bps) s += " at " + std::to_string(r.bps) + " bit/s " + (r.fine ? "fine" : "normal");
  if (!r.remoteId.empty()) s += ", other station \"" + r.remoteId + "\"";
  if (!r.file.empty()) s += ", file " + r.file;
  s += ", hang-up code " + std::to_string(r.hangupCode);
  return s;
}

}  // namespace

int runPtySimulation(const SimConfig& config, std::string& error) {
  Trace trace;
  if (!config.tracePath.empty() && !trace.open(config.tracePath)) {
    error = "cannot open trace file " + config.tracePath;
    return 1;
  }
  Scheduler sched;
  TelephoneLine line(sched);
  for (const auto& n : config.busyNumbers) line.addBusyNumber(n);
  for (const auto& n : config.voiceNumbers) line.addVoiceNumber(n);
  std::vector<std::unique_ptr<Modem>> modems;
  std::vector<std::unique_ptr<PtyPort>> ports;
  for (const auto& m : config.modems) {
    modems.push_back(std::make_unique<Modem>(line, m.number, m.options));
    ports.push_back(std::make_unique<PtyPort>(*modems.back(), m.path,
                                              m.label.empty() ? m.path : m.label, trace));
    if (!ports.back()->open(error)) return 1;
    std::printf("%s -> %s (number %s)\n", m.path.c_str(), ports.back()->slaveName().c_str(),
                m.number.c_str());
  }
  std::vector<std::unique_ptr<RemoteFax>> remotes;
  for (const auto& r : config.remotes) {
    remotes.push_back(std::make_unique<RemoteFax>(line, r.number, r.options));
    trace.event("remote " + r.number, "ready");
  }
  std::fflush(stdout);

  gStop = false;
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::signal(SIGPIPE, SIG_IGN);
  auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
  };
  std::vector<std::size_t> reported(remotes.size(), 0);
  int finishedCalls = 0;
  Micros nextLineCheck = 0;
  while (!gStop) {
    Micros now = elapsed();
    sched.runUntil(now);
    if (now >= nextLineCheck) {
      for (auto& p : ports) p->checkLines();
      nextLineCheck = now + kClosedRecheck;
    }
    for (std::size_t i = 0; i < remotes.size(); ++i) {
      const auto& calls = remotes[i]->calls();
      while (reported[i] < calls.size() && calls[reported[i]].hangupCode >= 0 && !remotes[i]->callActive()) {
        std::string text = describe(config.remotes[i].number, calls[reported[i]]);
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
        trace.event("remote " + config.remotes[i].number, text);
        ++reported[i];
        ++finishedCalls;
      }
    }
    if (config.exitAfterCalls > 0 && finishedCalls >= config.exitAfterCalls) break;
    if (config.timeLimitSeconds > 0 && now > static_cast<Micros>(config.timeLimitSeconds * kSecond)) break;
    for (auto& p : ports) p->writeHost();

    std::vector<pollfd> fds;
    for (auto& p : ports) {
      short ev = 0;
      if (p->wantRead()) ev |= POLLIN;
      if (p->wantWrite()) ev |= POLLOUT;
      fds.push_back(pollfd{p->fd(), ev, 0});
    }
    Micros wait = 20 * kMs;
    if (auto due = sched.nextDue()) wait = std::clamp<Micros>(*due - elapsed(), 0, wait);
    int rc = ::poll(fds.data(), fds.size(), static_cast<int>((wait + 999) / 1000));
    if (rc < 0 && errno != EINTR) break;
    sched.runUntil(elapsed());
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].revents & POLLIN) ports[i]->readHost();
      else if (fds[i].revents & POLLHUP) ports[i]->hostClosed();
      if (fds[i].revents & POLLOUT) ports[i]->writeHost();
    }
  }
  return 0;
}

namespace {

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= s.size()) {
    std::size_t end = s.find(sep, start);
    if (end == std::string::npos) end = s.size();
    out.push_back(s.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::string slashesToCommas(std::string s) {
  for (char& c : s)
    if (c == '/' || c == ':' || c == '+') c = ',';
  return s;
}

bool toInt(const std::string& s, long& v) {
  char* end = nullptr;
  v = std::strtol(s.c_str(), &end, 10);
  return !s.empty() && end && *end == 0;
}

}  // namespace

bool parseModemSpec(const std::string& spec, PtyModemConfig& out, std::string& error) {
  auto eq = spec.find('=');
  if (eq == std::string::npos || eq == 0) {
    error = "--modem wants PATH=NUMBER[,options]: " + spec;
    return false;
  }
  out.path = spec.substr(0, eq);
  auto parts = split(spec.substr(eq + 1), ',');
  out.number = TelephoneLine::dialledNumber(parts[0]);
  if (out.number.empty()) {
    error = "--modem needs a number: " + spec;
    return false;
  }
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::string& p = parts[i];
    auto e = p.find('=');
    std::string key = p.substr(0, e), value = e == std::string::npos ? "" : p.substr(e + 1);
    long n = 0;
    if (key == "fclass" || key == "classes") out.options.fclassAnswer = slashesToCommas(value);
    else if (key == "ftm") out.options.ftmList = slashesToCommas(value);
    else if (key == "frm") out.options.frmList = slashesToCommas(value);
    else if (key == "name") out.label = value;
    else if (key == "id") out.options.stationId = value;
    else if (key == "echo") out.options.echoAlways = true;
    else if (key == "nodialtone") out.options.noDialtone = true;
    else if (key == "error") out.options.errorOn = value;
    else if (key == "slow" && toInt(value, n)) out.options.responseDelay = n * kMs;
    else if (key == "noxon") out.options.xonWhenReady = false;
    else {
      error = "unknown modem option: " + p;
      return false;
    }
  }
  return true;
}

bool parseRemoteSpec(const std::string& spec, RemoteConfig& out, std::string& error) {
  auto colon = spec.find(':');
  out.number = TelephoneLine::dialledNumber(spec.substr(0, colon));
  if (out.number.empty()) {
    error = "--remote needs a number: " + spec;
    return false;
  }
  if (colon == std::string::npos) return true;
  auto& o = out.options;
  for (const auto& p : split(spec.substr(colon + 1), ',')) {
    auto e = p.find('=');
    std::string key = p.substr(0, e), value = e == std::string::npos ? "" : p.substr(e + 1);
    long n = 0;
    if (key == "receive") o.receiveDir = value;
    else if (key == "send") o.sendFile = value;
    else if (key == "call") o.callNumber = value;
    else if (key == "after" && toInt(value, n)) o.callAfter = n * kSecond;
    else if (key == "id" || key == "ident") o.t30.stationId = value;
    else if (key == "maxrate" && toInt(value, n)) o.t30.maxBps = static_cast<int>(n);
    else if (key == "nofine") o.t30.fine = false;
    else if (key == "wide") o.t30.wide = true;
    else if (key == "answer" && (value == "mcf" || value == "rtp" || value == "rtn"))
      o.t30.pageAnswer = value == "mcf" ? fcf::MCF : value == "rtp" ? fcf::RTP : fcf::RTN;
    else if (key == "dcn-after" && toInt(value, n)) o.t30.dcnAfterPages = static_cast<int>(n);
    else if (key == "fail-train-above" && toInt(value, n)) o.t30.failTrainAbove = static_cast<int>(n);
    else if (key == "drop-page" && toInt(value, n)) o.dropCarrierOnPage = static_cast<int>(n);
    else if (key == "rings" && toInt(value, n)) o.answerOnRing = static_cast<int>(n);
    else if (key == "noanswer") o.noAnswer = true;
    else if (key == "busy") o.busy = true;
    else {
      error = "unknown remote option: " + p;
      return false;
    }
  }
  if (!o.sendFile.empty() && o.callNumber.empty()) {
    error = "--remote " + out.number + ": send= needs call=NUMBER";
    return false;
  }
  return true;
}

}  // namespace veltrane::modemsim
