// ANSI and DBCS code pages as RTF names them (\ansicpgN, \fcharsetN) -> UTF-16.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace veltrane::richtext {

// Code page that a font's \fcharsetN implies; 0 when the charset names none.
int CodePageOfCharset(int charset);

class CodePageDecoder {
 public:
  CodePageDecoder() = default;
  CodePageDecoder(const CodePageDecoder&) = delete;
  CodePageDecoder& operator=(const CodePageDecoder&) = delete;
  ~CodePageDecoder();

  // Appends the decoded bytes; bytes that do not decode become U+FFFD.
  void decode(int codePage, std::string_view bytes, std::u16string& out);

 private:
  void* converterFor(int codePage);  // iconv_t, or (void*)-1 when unsupported
  std::map<int, void*> converters_;
};

}  // namespace veltrane::richtext
