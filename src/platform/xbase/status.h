#pragma once
// Error reporting of the table engine: every operation returns a Status (0 or a
// negative code plus a message meant for people) or a Result<T>. Nothing throws
// out of the engine.

#include <string>
#include <utility>

namespace veltrane::xbase {

enum ErrorCode : int {
  kOk = 0,
  kNotFound = -1,         // file, field, tag or record does not exist
  kLocked = -2,           // the table is already open elsewhere (exclusive use)
  kIoError = -3,          // the operating system refused a read, write, rename...
  kCorrupt = -4,          // a table or memo file fails validation
  kInvalidArgument = -5,  // bad field definition, value, record number...
  kBadExpression = -6,    // an expression the engine does not evaluate
  kNoRecord = -7,         // the operation needs a current record and there is none
  kWrongState = -8,       // e.g. Post without Append/Edit, or the table is closed
  kAlreadyExists = -9,    // Create refuses to overwrite an existing table
  kTooLarge = -10,        // a memo or file beyond the engine's limits
};

class Status {
 public:
  Status() = default;
  Status(int code, std::string message) : code_(code), message_(std::move(message)) {}
  static Status Ok() { return {}; }

  bool ok() const { return code_ == kOk; }
  int code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  int code_ = kOk;
  std::string message_;
};

template <typename T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT: implicit on purpose
  Result(Status status) : status_(std::move(status)) {}  // NOLINT

  bool ok() const { return status_.ok(); }
  const Status& status() const { return status_; }
  const T& value() const { return value_; }
  T& value() { return value_; }
  T value_or(T fallback) const { return ok() ? value_ : std::move(fallback); }

 private:
  Status status_;
  T value_{};
};

}  // namespace veltrane::xbase
