#include "platform/xbase/expression.h"

#include <cctype>
#include <cstring>

#include "platform/xbase/dbf_format.h"

namespace veltrane::xbase {
namespace {

constexpr int kMaxKeyLength = 240;

std::string Normalize(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != ' ' && c != '\t') out += char(std::toupper(uint8_t(c)));
  }
  return out;
}

Status BadExpression(std::string_view text, const std::string& why) {
  return Status(kBadExpression, "cannot evaluate \"" + std::string(text) + "\": " + why);
}

}  // namespace

bool SameExpression(std::string_view a, std::string_view b) { return Normalize(a) == Normalize(b); }

Result<KeyExpression> KeyExpression::Compile(std::string_view text,
                                             const std::vector<FieldDef>& fields,
                                             const std::vector<uint32_t>& offsets) {
  const std::string norm = Normalize(text);
  if (norm.empty()) return BadExpression(text, "empty key");
  KeyExpression expr;
  size_t pos = 0;
  while (true) {
    size_t plus = norm.find('+', pos);
    std::string term = norm.substr(pos, plus == std::string::npos ? std::string::npos : plus - pos);
    bool dtos = false;
    if (term.size() > 6 && term.compare(0, 5, "DTOS(") == 0 && term.back() == ')') {
      dtos = true;
      term = term.substr(5, term.size() - 6);
    }
    int index = -1;
    for (size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].name == term) index = int(i);
    }
    if (index < 0) return BadExpression(text, "\"" + term + "\" is not a field of the table");
    const FieldDef& f = fields[size_t(index)];
    if (dtos && f.type != 'D') return BadExpression(text, "DTOS() needs a date field");
    if (!dtos && f.type != 'C') {
      return BadExpression(text, "only character fields and DTOS(date) make keys");
    }
    expr.terms_.push_back({offsets[size_t(index)], uint32_t(f.width), dtos});
    expr.length_ += f.width;
    if (plus == std::string::npos) break;
    pos = plus + 1;
  }
  if (expr.length_ > kMaxKeyLength) return BadExpression(text, "key longer than 240 bytes");
  return expr;
}

void KeyExpression::Evaluate(const uint8_t* record, char* out) const {
  for (const Term& t : terms_) {
    const char* field = reinterpret_cast<const char*>(record + t.offset);
    Date date;
    if (t.dtos && !ParseDate(field, &date)) {
      std::memset(out, ' ', 8);  // a blank or unreadable date gives 8 spaces
    } else {
      std::memcpy(out, field, t.width);
    }
    out += t.width;
  }
}

std::string KeyExpression::Evaluate(const uint8_t* record) const {
  std::string key(size_t(length_), ' ');
  Evaluate(record, key.data());
  return key;
}

Result<ForCondition> ForCondition::Compile(std::string_view text) {
  const std::string norm = Normalize(text);
  ForCondition cond;
  if (norm.empty()) return cond;
  if (norm == ".NOT.DELETED()" || norm == "!DELETED()") {
    cond.live_only_ = true;
    return cond;
  }
  return BadExpression(text, "the only condition understood is \".not. deleted()\"");
}

}  // namespace veltrane::xbase
