// SPDX-License-Identifier: Apache-2.0
// Each event goes to the human lines or, with --json, as its JSON object to
// standard output; with a broker, its JSON object is published too. Every
// event takes its time once, so that all its forms tell the same.
#include "output/events.h"

#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "broker/mqtt_publisher.h"
#include "broker/mqtt_url.h"
#include "output/human_lines.h"
#include "output/json_events.h"
#include "output/output.h"
#include "text/device_text.h"

namespace {

OutputFormat format = OutputFormat::kHuman;
HumanStyle style;

bool Json() { return format == OutputFormat::kJsonLines; }

// Whether an event's JSON object is wanted: on standard output, or by a
// broker.
bool JsonWanted() { return Json() || Publishing(); }

EventTime Now() { return std::chrono::system_clock::now(); }

// Each line leaves in one write, at once; with a broker, it goes there too,
// numbered.
void Write(JsonLine line) {
  if (!Publishing()) {
    if (Json()) {
      const std::string& text = line.Finish();
      WriteRaw(text.data(), text.size());
      FlushOutput();
    }
    return;
  }
  // Numbered and queued as one step, so that the lines of several readers
  // leave in the order of their seq.
  static std::mutex numbering;
  const std::lock_guard<std::mutex> lock(numbering);
  const std::string& text = PublishLine(line);
  if (Json()) {
    WriteRaw(text.data(), text.size());
    FlushOutput();
  }
}

// The readers a broker has been told are connected, for the retained
// message that says they no longer are. Their connections and
// disconnections come from different threads.
std::mutex readersMutex;
std::map<std::string, BridgeIdentity> connectedReaders;

void PublishReader(std::string_view serial, const BridgeIdentity& device, bool connected) {
  JsonLine line = ReaderLine(serial, device, connected, Now());
  PublishLine(line, "/readers/" + TopicLevel(serial), true);
}

void PublishReaderClosed(const char* serial) {
  const std::lock_guard<std::mutex> lock(readersMutex);
  const auto reader = connectedReaders.find(std::string(DeviceBytes(serial)));
  if (reader == connectedReaders.end()) {
    return;
  }
  PublishReader(reader->first, reader->second, false);
  connectedReaders.erase(reader);
}

}  // namespace

void SetOutputFormat(OutputFormat chosen) { format = chosen; }

OutputFormat CurrentOutputFormat() { return format; }

void SetOneLinePerEvent(bool one) { style.oneLine = one; }

void SetStationLines(bool station, bool timestamps) {
  style.station = station;
  style.stamped = timestamps;
}

void EmitBanner() {
  if (!Json()) {
    PrintBanner();
  }
}

void EmitStart(const LibraryVersion& library, const LibraryVersion& hidLibrary) {
  if (!Json()) {
    PrintStart(library, hidLibrary);
  }
  if (JsonWanted()) {
    Write(StartLine(library, hidLibrary, Now()));
  }
}

void EmitCount(uint32_t bridges) {
  if (!Json()) {
    PrintCount(bridges);
  }
  if (JsonWanted()) {
    Write(CountLine(bridges, Now()));
  }
}

void EmitConnected(const char* serial, const BridgeIdentity& device) {
  const EventTime time = Now();
  if (!Json()) {
    PrintConnected(serial, device, style, time);
  }
  if (!JsonWanted()) {
    return;
  }
  Write(ConnectedLine(DeviceBytes(serial), device, time));
  if (Publishing()) {
    const std::lock_guard<std::mutex> lock(readersMutex);
    connectedReaders[std::string(DeviceBytes(serial))] = device;
    PublishReader(DeviceBytes(serial), device, true);
  }
}

void EmitConnectFailed(const char* serial, HID_UART_STATUS status, ConnectFailure report) {
  const EventTime time = Now();
  if (!Json()) {
    PrintConnectFailed(serial, status, report, style, time);
  }
  if (JsonWanted()) {
    Write(ConnectFailedLine(serial, status, report, time));
  }
}

void EmitBlock(const BlockEvent& block) {
  if (!Json()) {
    PrintBlock(block, style.oneLine);
  }
  if (JsonWanted()) {
    Write(BlockLine(block));
  }
}

void EmitHeld(const HeldEvent& held) {
  // The human lines stay as they were before held tags were told.
  if (JsonWanted()) {
    Write(HeldLine(held));
  }
}

void EmitDisconnected(const char* serial, HID_UART_STATUS status) {
  const EventTime time = Now();
  if (!Json()) {
    PrintDisconnected(serial, status, style, time);
  }
  if (JsonWanted()) {
    Write(DisconnectedLine(serial, status, time));
  }
  if (Publishing()) {
    PublishReaderClosed(serial);
  }
}

void EmitSilence(const char* serial, std::chrono::seconds quiet, bool silent) {
  const EventTime time = Now();
  if (!Json()) {
    PrintSilence(serial, quiet, silent, style, time);
  }
  if (JsonWanted()) {
    Write(SilenceLine(serial, quiet, silent, time));
  }
}

void EmitSharedSerial(const char* serial, uint32_t bridges) {
  const EventTime time = Now();
  if (!Json()) {
    PrintSharedSerial(serial, bridges, style, time);
  }
  if (JsonWanted()) {
    Write(SharedSerialLine(serial, bridges, time));
  }
}

void EmitClosed(const char* serial) {
  if (Publishing()) {
    PublishReaderClosed(serial);
  }
}

void EmitStop() {
  if (JsonWanted()) {
    Write(StopLine(Now()));
  }
}

void EmitListedLibrary(const ListedLibrary& library) {
  if (Json()) {
    Write(ListedLibraryLine(library, Now()));
  } else {
    PrintListedLibrary(library);
  }
}

void EmitListedBridge(const ListedBridge& bridge) {
  if (Json()) {
    Write(ListedBridgeLine(bridge, Now()));
  } else {
    PrintListedBridge(bridge);
  }
}
