// SPDX-License-Identifier: Apache-2.0
#include "cli/mqtt_settings.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

// The text up to the first line end.
std::string FirstLine(std::string& text) {
  const size_t end = text.find('\n');
  std::string line = text.substr(0, end);
  text = end == std::string::npos ? std::string() : text.substr(end + 1);
  if (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
  return line;
}

bool ReadCredentialsFile(const std::string& path, MqttCredentials& credentials,
                         std::string& problem) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    problem = "the credentials file \"" + path + "\" cannot be read (" + std::strerror(errno) + ")";
    return false;
  }
  std::ostringstream read;
  read << file.rdbuf();
  std::string text = read.str();
  credentials.user = FirstLine(text);
  credentials.password = FirstLine(text);
  if (credentials.user.empty()) {
    problem = "the credentials file \"" + path + "\" has no user name on its first line";
    return false;
  }
  if (credentials.user.find('\0') != std::string::npos ||
      credentials.password.find('\0') != std::string::npos) {
    problem = "the credentials file \"" + path + "\" holds a NUL byte";
    return false;
  }
  return true;
}

}  // namespace

bool MakeMqttSettings(const Arguments& arguments, const Environment& environment,
                      MqttSettings& settings, std::string& problem) {
  std::string why;
  if (!ParseMqttUrl(arguments.mqtt.value_or(""), settings.url, why)) {
    problem = "--mqtt cannot work with \"" + arguments.mqtt.value_or("") + "\": " + why;
    return false;
  }
  settings.clientId = arguments.mqttId.empty() ? DefaultClientId() : arguments.mqttId;
  settings.spool =
      arguments.spool.empty() ? DefaultSpoolFolder() : std::filesystem::path(arguments.spool);
  settings.spoolBytes = arguments.spoolBytes != 0 ? arguments.spoolBytes : kDefaultSpoolBytes;
  settings.credentials.reset();
  if (!arguments.mqttCredentials.empty()) {
    MqttCredentials credentials;
    if (!ReadCredentialsFile(arguments.mqttCredentials, credentials, problem)) {
      return false;
    }
    settings.credentials = credentials;
    return true;
  }
  const char* user = environment(kMqttUserVariable);
  const char* password = environment(kMqttPasswordVariable);
  if (user != nullptr && *user != '\0') {
    settings.credentials = MqttCredentials{user, password != nullptr ? password : ""};
  } else if (password != nullptr && *password != '\0') {
    problem = std::string(kMqttPasswordVariable) + " is set, and " + kMqttUserVariable +
              " is not: a password needs a user name";
    return false;
  }
  return true;
}

std::string DefaultClientId() {
  char name[256] = {};
#if defined(_WIN32)
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) {
    name[0] = '\0';
  }
#else
  if (gethostname(name, sizeof name - 1) != 0) {
    name[0] = '\0';
  }
#endif
  return std::string("kestrune-") + (name[0] != '\0' ? name : "station");
}

std::filesystem::path DefaultSpoolFolder() {
#if defined(_WIN32)
  const char* data = std::getenv("ProgramData");
  return std::filesystem::path(data != nullptr && *data != '\0' ? data : "C:\\ProgramData") /
         "Kestrune" / "spool";
#else
  // A service manager's state folder may be a list; the first is the unit's.
  if (const char* state = std::getenv("STATE_DIRECTORY"); state != nullptr && *state != '\0') {
    const std::string first(state, std::strcspn(state, ":"));
    return std::filesystem::path(first) / "spool";
  }
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
    return std::filesystem::path(state) / "kestrune" / "spool";
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr && *home != '\0' ? home : ".") / ".local" / "state" /
         "kestrune" / "spool";
#endif
}
