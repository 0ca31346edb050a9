// SPDX-License-Identifier: Apache-2.0
#include "broker/mqtt_url.h"

#include <cstdio>

namespace {

bool Digits(std::string_view text) {
  if (text.empty() || text.size() > 5) {
    return false;
  }
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return false;
    }
  }
  return true;
}

bool HostByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

bool Fail(std::string& problem, std::string text) {
  problem = std::move(text);
  return false;
}

}  // namespace

bool MqttTlsBuiltIn() {
#if defined(KESTRUNE_MQTT_TLS)
  return true;
#else
  return false;
#endif
}

bool ParseMqttUrl(std::string_view text, MqttUrl& url, std::string& problem) {
  constexpr std::string_view kPlain = "mqtt://";
  constexpr std::string_view kTls = "mqtts://";
  MqttUrl parsed;
  std::string_view rest;
  if (text.substr(0, kPlain.size()) == kPlain) {
    rest = text.substr(kPlain.size());
  } else if (text.substr(0, kTls.size()) == kTls) {
    if (!MqttTlsBuiltIn()) {
      return Fail(problem, "this build speaks no TLS: mqtts:// cannot be used, only mqtt://");
    }
    parsed.tls = true;
    rest = text.substr(kTls.size());
  } else {
    return Fail(problem, "the URL must start with mqtt:// or mqtts://");
  }

  const size_t slash = rest.find('/');
  if (slash == std::string_view::npos) {
    return Fail(problem, "the URL names no topic: mqtt://HOST[:PORT]/TOPIC");
  }
  std::string_view authority = rest.substr(0, slash);
  const std::string_view topic = rest.substr(slash + 1);
  std::string_view port;
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    if (close == std::string_view::npos) {
      return Fail(problem, "the URL's IPv6 address has no closing ']'");
    }
    parsed.host = std::string(authority.substr(1, close - 1));
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty() && after.front() != ':') {
      return Fail(problem, "the URL has something other than :PORT after its host");
    }
    port = after.empty() ? std::string_view() : after.substr(1);
    if (parsed.host.empty() ||
        parsed.host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos) {
      return Fail(problem, "the URL's host is not an IPv6 address");
    }
    if (after == ":") {
      return Fail(problem, "the URL's port is empty");
    }
  } else {
    const size_t colon = authority.find(':');
    if (colon != std::string_view::npos) {
      port = authority.substr(colon + 1);
      authority = authority.substr(0, colon);
      if (port.empty()) {
        return Fail(problem, "the URL's port is empty");
      }
    }
    parsed.host = std::string(authority);
    if (parsed.host.empty()) {
      return Fail(problem, "the URL names no host");
    }
    for (const char c : parsed.host) {
      if (!HostByte(c)) {
        return Fail(problem, "the URL's host holds a character no host name has");
      }
    }
  }
  if (port.empty()) {
    parsed.port = parsed.tls ? kMqttTlsPort : kMqttPort;
  } else {
    const int number = Digits(port) ? std::stoi(std::string(port)) : 0;
    if (number < 1 || number > 65535) {
      return Fail(problem, "the URL's port is not a number from 1 to 65535");
    }
    parsed.port = number;
  }

  if (topic.empty()) {
    return Fail(problem, "the URL names no topic: mqtt://HOST[:PORT]/TOPIC");
  }
  if (topic.front() == '/' || topic.back() == '/') {
    return Fail(problem, "the URL's topic starts or ends with an empty level");
  }
  for (const char c : topic) {
    if (c == '+' || c == '#') {
      return Fail(problem,
                  "the URL's topic holds a wildcard ('+' or '#'), which no one can publish to");
    }
    if (c == '\0') {
      return Fail(problem, "the URL's topic holds a NUL byte");
    }
  }
  // Room for the longest level below it; a broker takes at most 65535 bytes.
  if (topic.size() > 60000) {
    return Fail(problem, "the URL's topic is too long");
  }
  parsed.topic = std::string(topic);
  url = std::move(parsed);
  return true;
}

std::string TopicLevel(std::string_view bytes) {
  if (bytes.empty()) {
    return "%";
  }
  std::string level;
  level.reserve(bytes.size());
  for (const char c : bytes) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '.') {
      level += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
      level += escaped;
    }
  }
  return level;
}
