#include "faxengine/support/scripted_modem.h"

#include <cstdio>

namespace veltrane::faxengine::test {

ScriptedModem::ScriptedModem(serial::Clock& clock, std::vector<Step> script, bool byteByByte)
    : clock_(clock), script_(std::move(script)), byteByByte_(byteByByte) {
  base_ = clock_.nowMs();
  RunResponses();
}

std::string ScriptedModem::TranscriptText() const {
  std::string s;
  for (const auto& line : transcript_) s += line + "\n";
  return s;
}

long ScriptedModem::read(uint8_t* dst, std::size_t max) {
  const int64_t now = clock_.nowMs();
  std::size_t n = 0;
  while (n < max && !pending_.empty() && pending_.front().at <= now) {
    dst[n++] = pending_.front().byte;
    pending_.pop_front();
  }
  return static_cast<long>(n);
}

int64_t ScriptedModem::nextWakeMs(int64_t) const { return pending_.empty() ? serial::kNever : pending_.front().at; }

bool ScriptedModem::hasInput() const { return !pending_.empty() && pending_.front().at <= clock_.nowMs(); }

void ScriptedModem::Queue(const std::string& bytes) {
  int64_t at = std::max(base_, clock_.nowMs());
  for (char c : bytes) {
    pending_.push_back({at, static_cast<uint8_t>(c)});
    if (byteByByte_) ++at;
  }
  base_ = at;
}

void ScriptedModem::RunResponses() {
  base_ = std::max(base_, clock_.nowMs());
  while (!mismatch_ && next_ < script_.size() && script_[next_].kind != Tx) {
    const Step& s = script_[next_++];
    switch (s.kind) {
      case Wait: base_ += s.ms; break;
      case Rx:
        transcript_.push_back("< " + s.text);
        Queue("\r\n" + s.text + "\r\n");
        if (s.text == "CONNECT") {
          if (lastCommand_ == "AT+FTH=3") mode_ = Mode::Frame;
          else if (lastCommand_.rfind("AT+FTM=", 0) == 0 || lastCommand_ == "AT+FDT") mode_ = Mode::Data;
          block_.clear();
          dle_ = false;
        }
        break;
      case RxRaw: {
        std::string shown;
        for (unsigned char c : s.text) {
          char buf[6];
          std::snprintf(buf, sizeof buf, "<%02X>", c);
          shown += buf;
        }
        transcript_.push_back("< " + shown);
        Queue(s.text);
        break;
      }
      case RxFrame: {
        transcript_.push_back("< frame " + s.text);
        std::string bytes;
        unsigned v;
        int used;
        const char* p = s.text.c_str();
        while (std::sscanf(p, "%x%n", &v, &used) == 1) {
          bytes.push_back(static_cast<char>(v));
          if (v == 16) bytes.push_back(16);
          p += used;
        }
        bytes += "\x10\x03";
        Queue(bytes);
        break;
      }
      case Tx: break;
    }
  }
}

void ScriptedModem::Item(const std::string& item) {
  transcript_.push_back("> " + item);
  if (mismatch_ || next_ >= script_.size()) return;
  const std::string& want = script_[next_].text;
  const bool prefix = !want.empty() && want.back() == '*';
  const bool match = prefix ? item.rfind(want.substr(0, want.size() - 1), 0) == 0 : item == want;
  if (!match) {
    mismatch_ = true;
    transcript_.push_back("!! expected: " + want);
    return;
  }
  ++next_;
  RunResponses();
}

void ScriptedModem::DataByte(uint8_t b) {
  if (dle_) {
    dle_ = false;
    if (b == 16) {
      block_.push_back(16);
      return;
    }
    std::string end = b == 3 ? "DLE ETX" : b == ',' ? "DLE ," : b == '.' ? "DLE ." : "DLE ?";
    std::string item;
    if (mode_ == Mode::Frame) {
      item = "frame";
      char buf[4];
      for (uint8_t x : block_) {
        std::snprintf(buf, sizeof buf, " %02X", x);
        item += buf;
      }
    } else {
      item = "data " + std::to_string(block_.size()) + " " + end;
      dataBlocks_.push_back(block_);
    }
    block_.clear();
    mode_ = Mode::Command;
    Item(item);
    return;
  }
  if (b == 16) {
    dle_ = true;
    return;
  }
  block_.push_back(b);
}

long ScriptedModem::write(const uint8_t* src, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const uint8_t b = src[i];
    if (mode_ != Mode::Command) {
      DataByte(b);
      continue;
    }
    if (b == 13) {
      if (!line_.empty()) {
        lastCommand_ = line_;
        std::string l = line_;
        line_.clear();
        Item(l);
      }
      continue;
    }
    if (b < 32) continue;  // stray fill bytes between items
    if (b == ' ' && line_.empty()) {  // a lone space: the engine's nudge after a silent remote
      Item("SP");
      continue;
    }
    line_.push_back(static_cast<char>(b));
    if (line_ == "+++") {
      line_.clear();
      Item("+++");
    }
  }
  return static_cast<long>(n);
}

}  // namespace veltrane::faxengine::test
