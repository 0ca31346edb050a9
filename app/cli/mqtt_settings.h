// SPDX-License-Identifier: Apache-2.0
// What --mqtt and its companions make of the command line and the
// environment, checked before the run starts.
#ifndef KESTRUNE_APP_MQTT_SETTINGS_H
#define KESTRUNE_APP_MQTT_SETTINGS_H

#include <filesystem>
#include <functional>
#include <string>

#include "broker/mqtt_publisher.h"
#include "cli/arguments.h"

/// Where the user name and password are looked for when no file is given.
constexpr const char* kMqttUserVariable = "KESTRUNE_MQTT_USERNAME";
constexpr const char* kMqttPasswordVariable = "KESTRUNE_MQTT_PASSWORD";

/// Reads environment variables; std::getenv unless a test gives its own.
using Environment = std::function<const char*(const char*)>;

/// Fills settings from arguments (whose mqtt is set). The user name and
/// password come from --mqtt-credentials FILE (its first line the user name,
/// its second the password, if any; CR LF or LF), else from the two
/// variables above, else there are none. Returns false, with what is wrong in
/// problem, for a URL or credentials that can never work: a malformed URL,
/// mqtts:// without TLS, a file that cannot be read or has no user name, a
/// password without a user name.
/// The client id when none is given: "kestrune-" and the host name.
std::string DefaultClientId();

/// The spool folder when none is given: $STATE_DIRECTORY/spool under a
/// service manager that gives one, else the user's state folder
/// ($XDG_STATE_HOME or ~/.local/state)/kestrune/spool; on Windows
/// %ProgramData%\Kestrune\spool.
std::filesystem::path DefaultSpoolFolder();

bool MakeMqttSettings(const Arguments& arguments, const Environment& environment,
                      MqttSettings& settings, std::string& problem);

#endif
