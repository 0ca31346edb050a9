// SPDX-License-Identifier: Apache-2.0
#include "cli/mqtt_settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "broker/mqtt_url.h"

namespace {

TEST(MqttUrl, TakesWhatABrokerCanBeReachedByAndNothingElse) {
  struct UrlCase {
    const char* url;
    const char* host;  // nullptr: refused
    int port;
    const char* topic;
  };
  const UrlCase cases[] = {
      {"mqtt://broker/kestrune", "broker", 1883, "kestrune"},
      {"mqtt://10.0.0.7:18830/site/north/station-1", "10.0.0.7", 18830, "site/north/station-1"},
      {"mqtt://[::1]:1884/t", "::1", 1884, "t"},
      {"mqtt://[fe80::1]/t", "fe80::1", 1883, "t"},
      {"mqtt://h:65535/t", "h", 65535, "t"},
      {"mqtt://h:0/t", nullptr, 0, nullptr},
      {"mqtt://h:65536/t", nullptr, 0, nullptr},
      {"mqtt://h:/t", nullptr, 0, nullptr},
      {"mqtt://h:18x/t", nullptr, 0, nullptr},
      {"mqtt://h", nullptr, 0, nullptr},
      {"mqtt://h/", nullptr, 0, nullptr},
      {"mqtt:///t", nullptr, 0, nullptr},
      {"mqtt://h//t", nullptr, 0, nullptr},
      {"mqtt://h/t/", nullptr, 0, nullptr},
      {"mqtt://h/site/+/x", nullptr, 0, nullptr},
      {"mqtt://h/site/#", nullptr, 0, nullptr},
      {"mqtt://user:pw@h/t", nullptr, 0, nullptr},  // credentials never on the command line
      {"mqtt://h h/t", nullptr, 0, nullptr},
      {"mqtt://[::1/t", nullptr, 0, nullptr},
      {"mqtt://[]/t", nullptr, 0, nullptr},
      {"mqtt://[::1]x/t", nullptr, 0, nullptr},
      {"http://h/t", nullptr, 0, nullptr},
      {"MQTT://h/t", nullptr, 0, nullptr},
      {"h/t", nullptr, 0, nullptr},
      {"", nullptr, 0, nullptr},
      {"mqtts://h/t", MqttTlsBuiltIn() ? "h" : nullptr, 8883, "t"},
  };
  for (const UrlCase& c : cases) {
    SCOPED_TRACE(c.url);
    MqttUrl url;
    std::string problem;
    const bool taken = ParseMqttUrl(c.url, url, problem);
    EXPECT_EQ(taken, c.host != nullptr) << problem;
    EXPECT_EQ(problem.empty(), taken);
    if (taken && c.host != nullptr) {
      EXPECT_EQ(url.host, c.host);
      EXPECT_EQ(url.port, c.port);
      EXPECT_EQ(url.topic, c.topic);
    }
  }
}

TEST(MqttUrl, ATopicLevelFromAnyDeviceStringIsOneLevelOfItsOwn) {
  const std::pair<std::string, std::string> cases[] = {
      {"SIM0003", "SIM0003"},
      {"a-b_c.d", "a-b_c.d"},
      {"R/2", "R%2F2"},
      {"+#", "%2B%23"},
      {"%", "%25"},
      {"", "%"},
      {std::string("a\0b", 3), "a%00b"},
      {"\xFF\x01 ", "%FF%01%20"},
  };
  for (const auto& [serial, level] : cases) {
    EXPECT_EQ(TopicLevel(serial), level) << level;
  }
}

TEST(MqttSettings, CredentialsComeFromAFileOrTheEnvironmentAndAreCheckedAtTheStart) {
  const std::filesystem::path dir =
      std::filesystem::path(testing::TempDir()) / "kestrune-mqtt-settings";
  std::filesystem::create_directories(dir);
  const auto file = [&dir](const char* name, const std::string& text) {
    std::ofstream(dir / name, std::ios::binary) << text;
    return (dir / name).string();
  };
  struct CredentialsCase {
    const char* name;
    std::string path;  // --mqtt-credentials; empty: none
    std::map<std::string, std::string> environment;
    bool works;
    const char* user;  // nullptr: none
    const char* password;
  };
  const CredentialsCase cases[] = {
      {"none anywhere", "", {}, true, nullptr, nullptr},
      {"a file, LF", file("lf", "station\ns3cret\n"), {}, true, "station", "s3cret"},
      {"a file, CR LF, no end",
       file("crlf", "station\r\npass word"),
       {},
       true,
       "station",
       "pass word"},
      {"a file with a user alone", file("user", "station\n"), {}, true, "station", ""},
      {"the file wins over the environment",
       file("wins", "a\nb\n"),
       {{kMqttUserVariable, "x"}, {kMqttPasswordVariable, "y"}},
       true,
       "a",
       "b"},
      {"an empty file", file("empty", ""), {}, false, nullptr, nullptr},
      {"a file whose first line is blank",
       file("blank", "\nsecret\n"),
       {},
       false,
       nullptr,
       nullptr},
      {"a file with a NUL",
       file("nul", std::string("st\0n\npw\n", 8)),
       {},
       false,
       nullptr,
       nullptr},
      {"a file that is not there", (dir / "missing").string(), {}, false, nullptr, nullptr},
      {"the environment",
       "",
       {{kMqttUserVariable, "env-user"}, {kMqttPasswordVariable, "env-pw"}},
       true,
       "env-user",
       "env-pw"},
      {"a password alone", "", {{kMqttPasswordVariable, "pw"}}, false, nullptr, nullptr},
  };
  for (const CredentialsCase& c : cases) {
    SCOPED_TRACE(c.name);
    Arguments arguments;
    arguments.mqtt = "mqtt://h/t";
    arguments.mqttCredentials = c.path;
    const auto environment = [&c](const char* name) -> const char* {
      const auto found = c.environment.find(name);
      return found == c.environment.end() ? nullptr : found->second.c_str();
    };
    MqttSettings settings;
    std::string problem;
    EXPECT_EQ(MakeMqttSettings(arguments, environment, settings, problem), c.works) << problem;
    EXPECT_EQ(problem.empty(), c.works);
    if (c.works) {
      ASSERT_EQ(settings.credentials.has_value(), c.user != nullptr);
      if (c.user != nullptr) {
        EXPECT_EQ(settings.credentials->user, c.user);
        EXPECT_EQ(settings.credentials->password, c.password);
      }
      EXPECT_EQ(settings.spoolBytes, kDefaultSpoolBytes);
      EXPECT_EQ(settings.clientId.rfind("kestrune-", 0), 0u);
    }
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
