// SPDX-License-Identifier: Apache-2.0
#include "output/json_events.h"

#include <cstdio>
#include <string>

#include "output/reader_names.h"
#include "text/block_value.h"
#include "text/device_text.h"
#include "text/status_text.h"
#include "text/timestamp.h"

#if !defined(KESTRUNE_VERSION)
#error "KESTRUNE_VERSION must be defined by the build"
#endif

namespace {

JsonLine Line(const char* event, EventTime time) {
  return JsonLine(event, LocalTimestamp(time).text);
}

// A reader as JSON names it: "serial", then "name" when it has one.
void AddReader(JsonLine& line, std::string_view serial) {
  line.DeviceText("serial", serial);
  if (const std::string* name = ReaderName(serial)) {
    line.DeviceText("name", *name);
  }
}

// A connected bridge's identity.
void AddIdentity(JsonLine& line, const BridgeIdentity& device) {
  line.DeviceText("vendorId", DeviceBytes(device.vendorIdText))
      .DeviceText("productId", DeviceBytes(device.productIdText))
      .Number("partNumber", device.partNumber)
      .Number("version", device.version)
      .DeviceText("path", DeviceBytes(device.path))
      .DeviceText("manufacturer", DeviceBytes(device.manufacturer))
      .DeviceText("product", DeviceBytes(device.product));
}

void AddVersion(JsonLine& line, const char* name, const LibraryVersion& version) {
  line.BeginObject(name)
      .Number("major", version.major)
      .Number("minor", version.minor)
      .Bool("release", version.release != 0)
      .EndObject();
}

void AddListedVersion(JsonLine& line, const char* name, const Given<LibraryVersion>& version) {
  if (version.status != HID_UART_SUCCESS) {
    line.Number(std::string(name) + "Status", version.status);
  } else {
    AddVersion(line, name, version.value);
  }
}

// The first line of an output, a run's or a listing's: what wrote it, and
// in which format.
JsonLine FirstLine(const char* event, EventTime time) {
  JsonLine line = Line(event, time);
  line.String("program", "kestrune")
      .String("version", KESTRUNE_VERSION)
      .Number("format", kJsonFormatVersion);
  return line;
}

// A block's bytes, value and decimal, as the human report shows them.
void AddBlockBytes(JsonLine& line, const uint8_t* bytes, uint32_t count) {
  line.text().reserve(line.text().size() + 2 * count + 128);
  line.Number("count", count);
  std::string& hex = line.Raw("hex");
  hex += '"';
  AppendHex(hex, bytes, count);
  hex += '"';
  const uint64_t value = BlockValue(bytes, static_cast<int>(count));
  char valueText[19];
  std::snprintf(valueText, sizeof valueText, "\"%016llX\"", static_cast<unsigned long long>(value));
  line.Raw("value") += valueText;
  char decimalText[11];
  std::snprintf(decimalText, sizeof decimalText, "%010u",
                static_cast<unsigned>(BlockDecimal(value)));
  line.String("decimal", decimalText);
}

}  // namespace

JsonLine StartLine(const LibraryVersion& library, const LibraryVersion& hidLibrary,
                   EventTime time) {
  JsonLine line = FirstLine("start", time);
  AddVersion(line, "library", library);
  AddVersion(line, "hidLibrary", hidLibrary);
  return line;
}

JsonLine CountLine(uint32_t bridges, EventTime time) {
  JsonLine line = Line("count", time);
  line.Number("bridges", bridges);
  return line;
}

JsonLine ConnectedLine(std::string_view serial, const BridgeIdentity& device, EventTime time) {
  JsonLine line = Line("connected", time);
  AddReader(line, serial);
  AddIdentity(line, device);
  return line;
}

JsonLine ReaderLine(std::string_view serial, const BridgeIdentity& device, bool connected,
                    EventTime time) {
  JsonLine line = Line("reader", time);
  AddReader(line, serial);
  line.Bool("connected", connected);
  AddIdentity(line, device);
  return line;
}

JsonLine ConnectFailedLine(const char* serial, HID_UART_STATUS status, ConnectFailure report,
                           EventTime time) {
  JsonLine line = Line("connect-failed", time);
  AddReader(line, DeviceBytes(serial));
  line.Number("status", status)
      .String("statusText", StatusText(status))
      .String("report", report == ConnectFailure::kError ? "error" : "not-connected");
  return line;
}

JsonLine BlockLine(const BlockEvent& block) {
  JsonLine line = Line("block", block.time);
  AddReader(line, DeviceBytes(block.serial));
  AddBlockBytes(line, block.bytes, block.count);
  return line;
}

JsonLine HeldLine(const HeldEvent& held) {
  JsonLine line = Line("held", held.time);
  AddReader(line, DeviceBytes(held.serial));
  AddBlockBytes(line, held.bytes, held.count);
  line.Number("repeats", held.repeats)
      .Number("heldMs", std::chrono::duration_cast<std::chrono::milliseconds>(held.held).count());
  return line;
}

JsonLine DisconnectedLine(const char* serial, HID_UART_STATUS status, EventTime time) {
  JsonLine line = Line("disconnected", time);
  AddReader(line, DeviceBytes(serial));
  line.Number("status", status).String("statusText", StatusText(status));
  return line;
}

JsonLine SilenceLine(const char* serial, std::chrono::seconds quiet, bool silent, EventTime time) {
  JsonLine line = Line(silent ? "silent" : "delivering", time);
  AddReader(line, DeviceBytes(serial));
  line.Number(silent ? "seconds" : "silentSeconds", static_cast<long long>(quiet.count()));
  return line;
}

JsonLine SharedSerialLine(const char* serial, uint32_t bridges, EventTime time) {
  JsonLine line = Line("shared-serial", time);
  AddReader(line, DeviceBytes(serial));
  line.Number("bridges", bridges);
  return line;
}

JsonLine StopLine(EventTime time) { return Line("stop", time); }

JsonLine ListedLibraryLine(const ListedLibrary& library, EventTime time) {
  JsonLine line = FirstLine("library", time);
  if (!library.path.empty()) {
    line.DeviceText("path", library.path);
  }
  AddListedVersion(line, "library", library.library);
  AddListedVersion(line, "hidLibrary", library.hidLibrary);
  if (library.bridges.status != HID_UART_SUCCESS) {
    line.Number("bridgesStatus", library.bridges.status);
  } else {
    line.Number("bridges", library.bridges.value);
  }
  return line;
}

JsonLine ListedBridgeLine(const ListedBridge& bridge, EventTime time) {
  const Given<DeviceString>& serial = bridge.strings[HID_UART_GET_SERIAL_STR];
  JsonLine line = Line("bridge", time);
  line.Number("index", bridge.index);
  const auto add = [&line](const char* name, const Given<DeviceString>& text) {
    if (text.status != HID_UART_SUCCESS) {
      line.Number(std::string(name) + "Status", text.status);
    } else {
      line.DeviceText(name, DeviceBytes(text.value));
    }
  };
  add("serial", serial);
  if (serial.status == HID_UART_SUCCESS && ReadersNamed()) {
    if (const std::string* name = ReaderName(DeviceBytes(serial.value))) {
      line.DeviceText("name", *name);
    } else {
      line.Bool("named", false);
    }
  }
  // Of an index no longer attached, nothing more was asked.
  if (serial.status != HID_UART_DEVICE_NOT_FOUND) {
    for (const ListedField& field : kListedFields) {
      add(field.name, bridge.strings[field.kind]);
    }
  }
  return line;
}
