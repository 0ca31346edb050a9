// SPDX-License-Identifier: Apache-2.0
// The optional call log: one line per call of the bridge library, e.g.
//   HidUart_SetUartConfig handle=1 baud=9600 dataBits=3 parity=0 stopBits=0 flowControl=0 -> 0x00
// The arguments passed come before the arrow, the status and the values
// returned after it. README.md beside this file documents every field.
#ifndef KESTRUNE_BRIDGE_SIMULATED_CALL_LOG_H
#define KESTRUNE_BRIDGE_SIMULATED_CALL_LOG_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "scenario.h"

namespace sim {

/// One log line under construction.
class LogLine {
 public:
  /// A line for a log that is off gathers nothing: building the fields of
  /// every read would cost more than the read itself.
  explicit LogLine(Op op, bool enabled = true) : in_(OpFunction(op)), enabled_(enabled) {}

  /// Fields added from now on are values returned, after the status.
  LogLine& Out() {
    current_ = &out_;
    return *this;
  }

  LogLine& Number(std::string_view name, std::uint64_t value);
  LogLine& Hex16(std::string_view name, std::uint16_t value);
  /// A handle by its number; an unknown one as ?0x and its raw value.
  LogLine& Handle(std::string_view name, std::uint64_t number, const void* raw);
  LogLine& Text(std::string_view name, std::string_view bytes);
  LogLine& Bytes(std::string_view name, const std::uint8_t* bytes, std::size_t count);
  /// An output pointer that was null.
  LogLine& Null(std::string_view name);
  LogLine& Status(std::int32_t status) {
    status_ = status;
    return *this;
  }

  std::string Str() const;

 private:
  LogLine& Field(std::string_view name, std::string_view value);
  std::string in_;
  std::string out_;
  std::string* current_ = &in_;
  std::int32_t status_ = 0;
  bool enabled_;
};

/// "0x12"; a value outside 0..0xFF keeps all its digits, a negative one a sign.
std::string HexStatus(std::int32_t status);

class CallLog {
 public:
  CallLog() = default;
  CallLog(const CallLog&) = delete;
  CallLog& operator=(const CallLog&) = delete;
  ~CallLog() { Close(); }

  /// Appends to `path` from now on; an empty path or an unwritable file
  /// turns the log off.
  void Open(const std::string& path);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }
  void Write(const LogLine& line);
  /// A line that is no call, such as a break of the threading contract.
  void WriteText(const std::string& text);

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace sim

#endif
