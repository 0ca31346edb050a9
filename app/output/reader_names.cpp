// SPDX-License-Identifier: Apache-2.0
#include "output/reader_names.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

#include "hid_uart.h"
#include "text/device_text.h"

namespace {

ReaderNames runNames;
bool named = false;

bool Blank(char c) { return c == ' ' || c == '\t'; }

bool Control(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

// Reads a quoted serial string from line[at] (the opening quote); at ends
// after the closing one. Returns false with what is wrong.
bool Quoted(std::string_view line, size_t& at, std::string& serial, std::string& wrong) {
  for (++at; at < line.size(); ++at) {
    const char c = line[at];
    if (c == '"') {
      ++at;
      return true;
    }
    if (c != '\\') {
      serial += c;
      continue;
    }
    if (at + 1 >= line.size()) {
      break;
    }
    const char escaped = line[++at];
    if (escaped == '\\' || escaped == '"') {
      serial += escaped;
    } else if (escaped == 'x' && at + 2 < line.size() && HexDigit(line[at + 1]) >= 0 &&
               HexDigit(line[at + 2]) >= 0) {
      serial += static_cast<char>(HexDigit(line[at + 1]) * 16 + HexDigit(line[at + 2]));
      at += 2;
    } else {
      wrong = "unknown escape \"\\" + std::string(1, escaped) +
              "\" in the serial string (\\\\, \\\" and \\xNN are known)";
      return false;
    }
  }
  wrong = "the serial string's quote is not closed";
  return false;
}

}  // namespace

bool ParseReaderNames(std::string_view text, ReaderNames& names, std::string& problem) {
  // A file saved by an editor that starts it with a byte order mark.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    text.remove_prefix(3);
  }
  ReaderNames parsed;
  std::map<std::string, size_t, std::less<>> namedOn;
  size_t number = 0;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = std::min(text.find('\n', start), text.size());
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    const auto fail = [&](const std::string& wrong) {
      problem = "line " + std::to_string(number) + ": " + wrong;
      return false;
    };
    if (line.find('\0') != std::string_view::npos) {
      return fail("a NUL byte");
    }
    size_t at = 0;
    while (at < line.size() && Blank(line[at])) {
      ++at;
    }
    if (at == line.size() || line[at] == '#') {
      continue;
    }
    std::string serial;
    if (line[at] == '"') {
      std::string wrong;
      if (!Quoted(line, at, serial, wrong)) {
        return fail(wrong);
      }
      if (at < line.size() && !Blank(line[at])) {
        return fail("the serial string's closing quote is not followed by a space");
      }
    } else {
      while (at < line.size() && !Blank(line[at])) {
        if (Control(line[at])) {
          return fail("a control byte in the serial string (write it in quotes, as \\xNN)");
        }
        serial += line[at++];
      }
    }
    size_t nameEnd = line.size();
    while (nameEnd > at && Blank(line[nameEnd - 1])) {
      --nameEnd;
    }
    while (at < nameEnd && Blank(line[at])) {
      ++at;
    }
    const std::string_view name = line.substr(at, nameEnd - at);
    if (name.empty()) {
      return fail("no name after the serial string");
    }
    if (serial.empty()) {
      return fail("an empty serial string");
    }
    if (serial.size() > HID_UART_DEVICE_STRLEN - 1) {
      return fail("the serial string is longer than any bridge's (" +
                  std::to_string(HID_UART_DEVICE_STRLEN - 1) + " bytes)");
    }
    if (name.size() > kLongestReaderName) {
      return fail("the name is longer than " + std::to_string(kLongestReaderName) + " bytes");
    }
    for (const char c : name) {
      if (Control(c)) {
        return fail("a control byte in the name");
      }
    }
    const auto earlier = namedOn.find(serial);
    if (earlier != namedOn.end()) {
      return fail("the serial string is named on line " + std::to_string(earlier->second) +
                  " already");
    }
    namedOn.emplace(serial, number);
    parsed.emplace(std::move(serial), std::string(name));
  }
  names = std::move(parsed);
  return true;
}

bool LoadReaderNames(const std::string& path, ReaderNames& names, std::string& problem) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    problem = std::string("it cannot be read (") + std::strerror(errno) + ")";
    return false;
  }
  std::ostringstream text;
  text << file.rdbuf();
  return ParseReaderNames(text.str(), names, problem);
}

void UseReaderNames(ReaderNames names) {
  runNames = std::move(names);
  named = true;
}

const std::string* ReaderName(std::string_view serial) {
  serial = serial.substr(0, std::min(serial.find('\0'), serial.size()));
  const auto found = runNames.find(serial);
  return found == runNames.end() ? nullptr : &found->second;
}

bool ReadersNamed() { return named; }

void ForgetReaderNames() {
  runNames.clear();
  named = false;
}

bool UseNamesFile(const std::string& path, std::string& message) {
  ReaderNames names;
  std::string problem;
  if (!LoadReaderNames(path, names, problem)) {
    message = "names file " + PrintableString(path) + ": " + PrintableString(problem);
    return false;
  }
  UseReaderNames(std::move(names));
  return true;
}
