#pragma once
// The expressions the tables use, and nothing more: a key is one or more
// terms joined by '+', each a character field or DTOS(date field); a FOR
// condition is empty or ".not. deleted()". Anything else is refused with a
// clear message rather than evaluated wrongly.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xbase/status.h"
#include "platform/xbase/table.h"

namespace veltrane::xbase {

class KeyExpression {
 public:
  static Result<KeyExpression> Compile(std::string_view text, const std::vector<FieldDef>& fields,
                                       const std::vector<uint32_t>& offsets);
  int length() const { return length_; }
  // Writes length() bytes for the record (deletion flag at record[0]).
  void Evaluate(const uint8_t* record, char* out) const;
  std::string Evaluate(const uint8_t* record) const;

 private:
  struct Term {
    uint32_t offset = 0;
    uint32_t width = 0;
    bool dtos = false;
  };
  std::vector<Term> terms_;
  int length_ = 0;
};

// A FOR condition: only "" (every record) and ".not. deleted()" exist.
class ForCondition {
 public:
  static Result<ForCondition> Compile(std::string_view text);
  bool Matches(const uint8_t* record) const { return !live_only_ || record[0] != '*'; }
  bool live_only() const { return live_only_; }

 private:
  bool live_only_ = false;
};

// Compares expression texts as xBase does: ignoring case and spaces.
bool SameExpression(std::string_view a, std::string_view b);

}  // namespace veltrane::xbase
