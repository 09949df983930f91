#include "platform/richtext/rtf_codepage.h"

#include <iconv.h>

#include <cerrno>
#include <string>

namespace veltrane::richtext {
namespace {

// Windows-1252 0x80..0x9F; the rest of the code page is Latin-1. Kept in a
// table because it is by far the most common code page in RTF.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

const void* const kUnsupported = reinterpret_cast<void*>(-1);

void decode1252(std::string_view bytes, std::u16string& out) {
  for (unsigned char b : bytes) {
    out.push_back(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char16_t(b));
  }
}

}  // namespace

int CodePageOfCharset(int charset) {
  switch (charset) {
    case 0: return 1252;
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    case 254: return 437;
    default: return 0;  // symbol and OEM fonts: bytes taken as they are
  }
}

CodePageDecoder::~CodePageDecoder() {
  for (auto& [cp, cd] : converters_) {
    if (cd != kUnsupported) iconv_close(static_cast<iconv_t>(cd));
  }
}

void* CodePageDecoder::converterFor(int codePage) {
  auto it = converters_.find(codePage);
  if (it != converters_.end()) return it->second;
  std::string name = codePage == 10000 ? "MACINTOSH" : "CP" + std::to_string(codePage);
  iconv_t cd = iconv_open("UTF-16LE", name.c_str());
  void* stored = cd == reinterpret_cast<iconv_t>(-1) ? const_cast<void*>(kUnsupported) : cd;
  converters_.emplace(codePage, stored);
  return stored;
}

void CodePageDecoder::decode(int codePage, std::string_view bytes, std::u16string& out) {
  if (bytes.empty()) return;
  if (codePage == 1252 || codePage <= 0) {
    decode1252(bytes, out);
    return;
  }
  void* handle = converterFor(codePage);
  if (handle == kUnsupported) {
    decode1252(bytes, out);
    return;
  }
  iconv_t cd = static_cast<iconv_t>(handle);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char buffer[512];
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    for (char* p = buffer; p + 1 < outPtr; p += 2) {
      out.push_back(char16_t(static_cast<unsigned char>(p[0]) |
                             (static_cast<unsigned char>(p[1]) << 8)));
    }
    if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
      // Invalid or truncated sequence: mark it and move past one byte.
      out.push_back(0xFFFD);
      ++in;
      --inLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
}

}  // namespace veltrane::richtext
