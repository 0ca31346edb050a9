// SPDX-License-Identifier: Apache-2.0
// Where a station publishes: the --mqtt URL, and topic levels made of device
// strings.
#ifndef KESTRUNE_APP_MQTT_URL_H
#define KESTRUNE_APP_MQTT_URL_H

#include <string>
#include <string_view>

struct MqttUrl {
  bool tls = false;  // mqtts://
  std::string host;
  int port = 0;
  std::string topic;  // the events' topic; status and readers go below it
};

/// The port a URL without one uses.
constexpr int kMqttPort = 1883;
constexpr int kMqttTlsPort = 8883;

/// Whether this build can speak TLS to a broker (mqtts://).
bool MqttTlsBuiltIn();

/// Reads "mqtt://HOST[:PORT]/TOPIC" or "mqtts://HOST[:PORT]/TOPIC". HOST is a
/// name, an IPv4 address or an IPv6 address in brackets; PORT 1 to 65535;
/// TOPIC one or more levels, none of them a wildcard and none holding a NUL,
/// with no empty level at either end. Returns false, with what is wrong in
/// problem, for anything else, and for mqtts:// where TLS is not built in.
bool ParseMqttUrl(std::string_view text, MqttUrl& url, std::string& problem);

/// A device string as one topic level: letters, digits, '-', '_' and '.' as
/// they are, every other byte as %XX (upper-case hex), so that no serial
/// string can add a level, a wildcard or a byte a broker refuses; an empty
/// string is "%". Different strings give different levels.
std::string TopicLevel(std::string_view bytes);

#endif
