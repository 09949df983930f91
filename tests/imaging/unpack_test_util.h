// Builders for the unpacker tests: MH bit strings written code by code, APF
// files assembled in memory, and a sink that keeps every line.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "imaging/apf.h"
#include "imaging/t4_codes.h"
#include "imaging/unpack.h"

namespace veltrane::imaging::unpacktest {

// Bits in the order T.4 sends them, packed from bit 0 of each byte up.
class MhBits {
 public:
  MhBits& Bits(std::string_view printed) {
    for (char c : printed) Bit(c == '1');
    return *this;
  }
  MhBits& Bit(bool one) {
    if (count_ % 8 == 0) bytes_.push_back(0);
    if (one) bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | 1u << (count_ % 8));
    ++count_;
    return *this;
  }
  MhBits& Code(T4Code c) {
    for (int i = 0; i < c.length; ++i) Bit((c.bits >> i) & 1);
    return *this;
  }
  MhBits& Eol() { return Bits("000000000001"); }
  MhBits& Run(int length, bool black) {
    const T4CodeTables& t = T4Codes();
    while (length >= 64) {
      const int chunk = std::min(length / 64, 40);
      Code(black ? t.blackMakeUp[chunk] : t.whiteMakeUp[chunk]);
      length -= chunk * 64;
    }
    return Code(black ? t.blackTerminating[length] : t.whiteTerminating[length]);
  }
  // An EOL, then alternating runs starting with white.
  MhBits& Line(const std::vector<int>& runs) {
    Eol();
    bool black = false;
    for (int r : runs) {
      Run(r, black);
      black = !black;
    }
    return *this;
  }
  MhBits& Rtc() {
    for (int i = 0; i < 6; ++i) Eol();
    return *this;
  }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t count_ = 0;
};

struct TestPage {
  std::uint16_t flags = 0;
  std::vector<std::uint8_t> data;
};

inline void AppendRecord(std::vector<std::uint8_t>& page, const std::vector<std::uint8_t>& record) {
  page.push_back(static_cast<std::uint8_t>(record.size()));
  page.push_back(static_cast<std::uint8_t>(record.size() >> 8));
  page.insert(page.end(), record.begin(), record.end());
}

inline std::vector<std::uint8_t> BuildApf(const std::vector<TestPage>& pages) {
  std::vector<std::uint8_t> file(kApfFileHeaderSize);
  ApfFileHeader h;
  h.Signature = kApfSignature;
  h.PageCount = static_cast<std::uint16_t>(pages.size());
  h.FirstPageOffset = kApfFileHeaderSize;
  EncodeFileHeader(h, file.data());
  for (const TestPage& p : pages) {
    std::uint8_t raw[kApfPageHeaderSize];
    EncodePageHeader({static_cast<std::uint32_t>(p.data.size()), p.flags}, raw);
    file.insert(file.end(), raw, raw + sizeof raw);
    file.insert(file.end(), p.data.begin(), p.data.end());
  }
  return file;
}

// A one-page file whose page is one continuous bit stream.
inline std::vector<std::uint8_t> StreamApf(const MhBits& bits, std::uint16_t flags = 0) {
  return BuildApf({{flags, bits.Bytes()}});
}

struct CollectedLines {
  std::vector<std::vector<std::uint8_t>> lines;
  int starting = 0, ending = 0;
};

inline UnpackOutputSink Collect(CollectedLines& into) {
  return [&into](UnpackerState&, int flags, const std::uint8_t* data, int length) {
    if (flags == kUnpackStarting) ++into.starting;
    else if (flags == kUnpackEnding) ++into.ending;
    else into.lines.emplace_back(data, data + length);
    return 0;
  };
}

}  // namespace veltrane::imaging::unpacktest
