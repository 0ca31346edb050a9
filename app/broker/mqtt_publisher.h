// SPDX-License-Identifier: Apache-2.0
// A station's own MQTT client: every event, as its JSON object, to the
// broker, through the spool, so that nothing is lost while the broker or the
// station is away. Capture never waits on it: events are handed to a thread
// of its own, which writes them to the spool, makes them durable and sends
// them; the broker's acknowledgements free the spool.
#ifndef KESTRUNE_APP_MQTT_PUBLISHER_H
#define KESTRUNE_APP_MQTT_PUBLISHER_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "broker/mqtt_url.h"

class JsonLine;

struct MqttCredentials {
  std::string user;
  std::string password;
};

struct MqttSettings {
  MqttUrl url;
  std::string clientId;
  std::optional<MqttCredentials> credentials;
  std::filesystem::path spool;
  uint64_t spoolBytes = 0;
  /// Where the client tells the operator what becomes of the broker and the
  /// spool, one line each (the run's notices); nowhere when empty.
  std::function<void(const std::string& line)> tell;
};

/// Events that may wait in memory for the spool's thread; past it they are
/// left out and counted as for a full spool.
constexpr size_t kMqttQueueBytes = size_t{8} << 20;
/// How long a stop waits for the broker to acknowledge what is left, when it
/// is connected.
constexpr int kMqttStopWaitMs = 3000;

/// Opens the spool and makes the client, whose events wait until
/// BeginPublishing. Returns false, with why in problem, when the spool cannot
/// be used (a folder that cannot be made or written, or one in use by
/// another station).
bool StartPublishing(const MqttSettings& settings, std::string& problem);

/// Starts the thread that feeds the broker; it tells the operator what
/// becomes of the broker (MqttSettings::tell), so the output must be ready
/// first.
void BeginPublishing();

/// Whether events go to a broker.
bool Publishing();

/// Gives the line the station's next seq, finishes it, and queues it for
/// the broker on topic (the station's topic followed by suffix). Returns
/// the finished line, with its LF, for standard output. Events leave in the
/// order they were given here.
const std::string& PublishLine(JsonLine& line, std::string_view suffix = {}, bool retain = false);

/// Whether the broker refused the station for good (its user name, password
/// or client id): the run should stop; standard error has said why.
bool PublishingRefused();

/// Writes every event given to the spool, gives a connected broker up to
/// kMqttStopWaitMs to acknowledge what waits, says "offline" on the status
/// topic, disconnects and ends the thread.
void FinishPublishing();

#endif
