// The AT command line: editing, echo, basic commands, S-registers, dialling,
// answering, class selection and the escape sequence.
#include <algorithm>
#include <cctype>

#include "modemsim/class2.h"
#include "modemsim/modem.h"

namespace veltrane::modemsim {

namespace {

// Reads a decimal number at pos (0 when there is none, as modems do).
int readNumber(const std::string& s, std::size_t& pos) {
  int v = 0;
  bool any = false;
  while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) {
    v = std::min(v * 10 + (s[pos] - '0'), 100000);
    ++pos;
    any = true;
  }
  return any ? v : 0;
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

void Modem::checkEscape(std::uint8_t b) {
  // "+++" after a quiet guard time and followed by one: the modem confirms it
  // is in command mode. Nothing is online in fax mode, so this is all it does.
  Micros guard = sregs_[12] * 20 * kMs;
  if (b != sregs_[2]) {
    plusCount_ = 0;
    escapeTimer_.stop();
    return;
  }
  if (plusCount_ == 0 && sched_.now() - lastHostByte_ < guard && lastHostByte_ > 0) return;
  if (++plusCount_ == 3) {
    plusCount_ = 0;
    escapeTimer_.start(guard, [this] {
      if (sched_.now() - lastHostByte_ >= sregs_[12] * 20 * kMs) result(Result::Ok);
    });
  }
}

void Modem::commandByte(std::uint8_t b) {
  if (lineBuf_.empty()) checkEscape(b);
  else plusCount_ = 0;
  char c = static_cast<char>(b);
  if (echo_ || options_.echoAlways) send(Bytes{b});
  if (b == sregs_[3]) {
    std::string line = lineBuf_;
    lineBuf_.clear();
    if (line.size() >= 2) executeLine(line);
    return;
  }
  if (b == sregs_[5]) {
    if (!lineBuf_.empty()) lineBuf_.pop_back();
    return;
  }
  // Everything before "AT" is noise; "A/" repeats the last line.
  if (lineBuf_.empty()) {
    if (c == 'A' || c == 'a') lineBuf_ = "A";
    return;
  }
  if (lineBuf_.size() == 1) {
    if (c == 'T' || c == 't') lineBuf_ += 'T';
    else if (c == '/') {
      lineBuf_.clear();
      if (!lastLine_.empty()) executeLine(lastLine_);
    } else if (c == 'A' || c == 'a') lineBuf_ = "A";
    else lineBuf_.clear();
    return;
  }
  if (b < 32 || b > 126) return;
  if (lineBuf_.size() < 256) lineBuf_ += c;
}

void Modem::executeLine(const std::string& line) {
  lastLine_ = line;
  std::size_t pos = 2;
  bool async = false;
  while (pos < line.size() && !async) {
    char c = line[pos];
    if (c == ' ' || c == ';') {
      ++pos;
      continue;
    }
    if (!options_.errorOn.empty() &&
        upper(line.substr(pos, options_.errorOn.size())) == upper(options_.errorOn)) {
      result(Result::Error);
      return;
    }
    if (!executeCommand(line, pos, async)) {
      result(Result::Error);
      return;
    }
  }
  if (!async) result(Result::Ok);
}

bool Modem::executeCommand(const std::string& line, std::size_t& pos, bool& async) {
  char c = static_cast<char>(std::toupper(static_cast<unsigned char>(line[pos++])));
  switch (c) {
    case 'E': echo_ = readNumber(line, pos) != 0; return true;
    case 'Q': quiet_ = readNumber(line, pos) != 0; return true;
    case 'V': verbose_ = readNumber(line, pos) != 0; return true;
    case 'X': {
      int x = readNumber(line, pos);
      if (x > 4) return false;
      xLevel_ = x;
      return true;
    }
    case 'L': case 'M': case 'B': case 'N': case 'W': case 'Y': readNumber(line, pos); return true;
    case 'I': {
      int n = readNumber(line, pos);
      info(n == 3 ? options_.model : n == 0 ? "VFM" : options_.manufacturer + " " + options_.model);
      return true;
    }
    case 'Z':
    case '&':
      if (c == '&') {
        if (pos >= line.size()) return false;
        char a = static_cast<char>(std::toupper(static_cast<unsigned char>(line[pos++])));
        int n = readNumber(line, pos);
        if (a == 'K') flow_ = n == 4 ? Flow::XonXoff : n == 3 ? Flow::RtsCts : n == 0 ? Flow::None : flow_;
        if (a != 'F') return true;
      } else {
        readNumber(line, pos);
      }
      hangUp();
      resetSettings();
      class2_.reset();
      return true;
    case 'H': {
      int n = readNumber(line, pos);
      hangUp();
      offHook_ = n == 1;
      return true;
    }
    case 'O':
      readNumber(line, pos);
      return inCall_;
    case 'S': {
      int reg = readNumber(line, pos);
      if (pos < line.size() && line[pos] == '=') {
        ++pos;
        sregs_[reg] = std::min(readNumber(line, pos), 255);
        return true;
      }
      if (pos < line.size() && line[pos] == '?') {
        ++pos;
        char buf[8];
        std::snprintf(buf, sizeof buf, "%03d", sregs_.count(reg) ? sregs_[reg] : 0);
        info(buf);
        return true;
      }
      return true;  // "ATSn" selects a register; nothing to do
    }
    case 'D':
      dial(line.substr(pos));
      pos = line.size();
      async = true;
      return true;
    case 'A':
      answer();
      async = true;
      return true;
    case '\\': case '%':
      if (pos < line.size()) ++pos;
      readNumber(line, pos);
      return true;
    case '+': {
      std::size_t start = pos;
      while (pos < line.size() && (std::isalnum(static_cast<unsigned char>(line[pos])) || line[pos] == '.'))
        ++pos;
      std::string name = upper(line.substr(start, pos - start));
      std::size_t end = line.find(';', pos);
      if (end == std::string::npos) end = line.size();
      std::string args = line.substr(pos, end - pos);
      pos = end;
      return executeExtended(name, args, async);
    }
    default:
      return false;
  }
}

bool Modem::executeFclass(const std::string& args) {
  if (args == "=?") {
    info(options_.fclassAnswer);
    return true;
  }
  if (args == "?") {
    info(fclass_ == 20 ? "2.0" : std::to_string(fclass_));
    return true;
  }
  if (args.size() < 2 || args[0] != '=') return false;
  std::string want = args.substr(1);
  // Only the classes the modem claims are accepted.
  std::string list = "," + options_.fclassAnswer + ",";
  for (char& ch : list)
    if (ch == ' ') ch = ',';
  if (list.find("," + want + ",") == std::string::npos) return false;
  if (want == "0") fclass_ = 0;
  else if (want == "1" || want == "1.0") fclass_ = 1;
  else if (want == "2") fclass_ = 2;
  else if (want == "2.0") fclass_ = 20;
  else return false;
  if (fclass_ == 2 || fclass_ == 20) {
    if (!class2_ || class2_->is20() != (fclass_ == 20))
      class2_ = std::make_unique<Class2Session>(*this, fclass_ == 20);
  } else {
    class2_.reset();
  }
  return true;
}

bool Modem::executeExtended(const std::string& name, const std::string& args, bool& async) {
  if (name == "FCLASS") return executeFclass(args);
  if (name == "FMFR" || name == "FMI" || name == "GMI") {
    info(options_.manufacturer);
    return true;
  }
  if (name == "FMDL" || name == "FMM" || name == "GMM") {
    info(options_.model);
    return true;
  }
  if (name == "FREV" || name == "FMR" || name == "GMR") {
    info(options_.revision);
    return true;
  }
  if (name == "FLO" || name == "IFC") {
    // +FLO=0 none, 1 XON/XOFF, 2 RTS/CTS.
    if (args.size() >= 2 && args[0] == '=' && args[1] != '?') {
      char v = args[1];
      flow_ = v == '1' ? Flow::XonXoff : v == '2' ? Flow::RtsCts : Flow::None;
    } else if (args == "?") {
      info(std::string("+FLO:") + (flow_ == Flow::XonXoff ? "1" : flow_ == Flow::RtsCts ? "2" : "0"));
    }
    return true;
  }
  if (fclass_ == 1) return class1Command(name, args, async);
  if ((fclass_ == 2 || fclass_ == 20) && class2_) return class2_->command(name, args, async);
  return false;
}

void Modem::dial(const std::string& dialString) {
  bool pulse = false;
  Micros dialTime = 0;
  for (char ch : dialString) {
    char u = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (u == 'P') pulse = true;
    else if (u == 'T') pulse = false;
    else if (u == ',') dialTime += sregs_[8] * kSecond;
    else if (std::isdigit(static_cast<unsigned char>(u)))
      dialTime += pulse ? (u == '0' ? 10 : u - '0') * 100 * kMs + 700 * kMs : 100 * kMs;
  }
  callerSide_ = true;
  offHook_ = true;
  setMode(Mode::Dialling);
  if (class2_) class2_->onDial();
  line_.dial(this, dialString, dialTime, sregs_[7] * kSecond);
}

void Modem::answer() {
  if (!ringing_ || !line_.answer(this)) {
    result(Result::NoCarrier);
    return;
  }
  callerSide_ = false;
  ringing_ = false;
  offHook_ = true;
  inCall_ = true;
  sregs_[1] = 0;
  if (fclass_ == 2 || fclass_ == 20) {
    setMode(Mode::Class2);
    class2_->onConnected(false);
    return;
  }
  if (fclass_ != 1) {
    setMode(Mode::Answering);
    callTimer_.start(sregs_[7] * kSecond, [this] { callEnded(true); });
    return;
  }
  // ATA in Class 1: CED, then V.21 flags for the host's first frames (+FTH=3).
  setMode(Mode::Answering);
  answerWithCed([this] { startHdlcTx(); });
}

}  // namespace veltrane::modemsim
