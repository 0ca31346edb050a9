// SPDX-License-Identifier: Apache-2.0
#include "call_log.h"

#include "quoting.h"

namespace sim {

LogLine& LogLine::Field(std::string_view name, std::string_view value) {
  if (!enabled_) return *this;
  *current_ += ' ';
  *current_ += name;
  *current_ += '=';
  *current_ += value;
  return *this;
}

LogLine& LogLine::Number(std::string_view name, std::uint64_t value) {
  return Field(name, std::to_string(value));
}

LogLine& LogLine::Hex16(std::string_view name, std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(value));
  return Field(name, text);
}

LogLine& LogLine::Handle(std::string_view name, std::uint64_t number, const void* raw) {
  if (number != 0) return Number(name, number);
  char text[32];
  std::snprintf(text, sizeof text, "?0x%llX",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(raw)));
  return Field(name, text);
}

LogLine& LogLine::Text(std::string_view name, std::string_view bytes) {
  return Field(name, Quote(bytes));
}

LogLine& LogLine::Bytes(std::string_view name, const std::uint8_t* bytes, std::size_t count) {
  if (!enabled_) return *this;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(count * 2);
  for (std::size_t i = 0; i < count; ++i) {
    hex += kHex[bytes[i] >> 4];
    hex += kHex[bytes[i] & 0x0F];
  }
  return Field(name, hex);
}

LogLine& LogLine::Null(std::string_view name) { return Field(name, "null"); }

std::string LogLine::Str() const { return in_ + " -> " + HexStatus(status_) + out_; }

std::string HexStatus(std::int32_t status) {
  char text[16];
  const auto value = static_cast<long long>(status);
  std::snprintf(text, sizeof text, "%s0x%02llX", value < 0 ? "-" : "",
                static_cast<unsigned long long>(value < 0 ? -value : value));
  return text;
}

void CallLog::Open(const std::string& path) {
  Close();
  if (!path.empty()) file_ = std::fopen(path.c_str(), "ab");
}

void CallLog::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

void CallLog::Write(const LogLine& line) {
  if (file_ != nullptr) WriteText(line.Str());
}

void CallLog::WriteText(const std::string& text) {
  if (file_ == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

}  // namespace sim
