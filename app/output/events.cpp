// SPDX-License-Identifier: Apache-2.0
#include "output/events.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "output/block_report.h"
#include "output/json_writer.h"
#include "output/mqtt_publisher.h"
#include "output/mqtt_url.h"
#include "output/output.h"
#include "output/reader_names.h"
#include "text/device_text.h"
#include "text/status_text.h"
#include "text/timestamp.h"

#if !defined(KESTRUNE_VERSION)
#error "KESTRUNE_VERSION must be defined by the build"
#endif

namespace {

OutputFormat format = OutputFormat::kHuman;
bool stationLines = false;
bool stampedLines = false;
// --one-line: each event about a reader on one line, with its time.
bool oneLine = false;

bool Json() { return format == OutputFormat::kJsonLines; }

// A device string as the human lines show it before their escaping: up to
// its NUL, and never more than a device string buffer holds.
std::string_view DeviceBytes(const char* text) {
  size_t length = 0;
  while (length < HID_UART_DEVICE_STRLEN - 1 && text[length] != '\0') {
    ++length;
  }
  return std::string_view(text, length);
}

// A reader as the human lines name it: its serial string, and its name in
// parentheses when it has one.
std::string Shown(const char* serial) {
  std::string shown = Printable(serial).text;
  if (const std::string* name = ReaderName(DeviceBytes(serial))) {
    shown += " (" + *name + ")";
  }
  return shown;
}

// A reader as JSON names it: "serial", then "name" when it has one.
void AddReader(JsonLine& line, std::string_view serial) {
  line.DeviceText("serial", serial);
  if (const std::string* name = ReaderName(serial)) {
    line.DeviceText("name", *name);
  }
}

TimestampText Now() { return LocalTimestamp(std::chrono::system_clock::now()); }

// Each line leaves in one write, at once; with a broker, it goes there too,
// numbered.
void Write(JsonLine& line) {
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

// The readers a broker has been told are connected, for the retained
// message that says they no longer are. Their connections and
// disconnections come from different threads.
std::mutex readersMutex;
std::map<std::string, BridgeIdentity> connectedReaders;

void PublishReader(std::string_view serial, const BridgeIdentity& device, bool connected) {
  JsonLine line("reader", Now().text);
  AddReader(line, serial);
  line.Bool("connected", connected);
  AddIdentity(line, device);
  PublishLine(line, "/readers/" + TopicLevel(serial), true);
}

// Starts the line that names the bridge of an event, in station mode with
// timestamps.
void PrintStamp() {
  if ((stationLines && stampedLines) || oneLine) {
    Print("%s ", Now().text);
  }
}

void AddVersion(JsonLine& line, const char* name, const LibraryVersion& version) {
  line.BeginObject(name)
      .Number("major", version.major)
      .Number("minor", version.minor)
      .Bool("release", version.release != 0)
      .EndObject();
}

const char* BuildKind(const LibraryVersion& version) {
  return version.release != 0 ? "Release" : "Debug";
}

void PrintVersion(const char* library, const LibraryVersion& version) {
  Print("%s: Version %d.%d (%s)\n", library, version.major, version.minor, BuildKind(version));
}

// The first line of an output, a run's or a listing's: what wrote it, and
// in which format.
JsonLine FirstLine(const char* event) {
  JsonLine line(event, Now().text);
  line.String("program", "kestrune")
      .String("version", KESTRUNE_VERSION)
      .Number("format", kJsonFormatVersion);
  return line;
}

void AddHexValue(std::string& out, uint64_t value) {
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016llX", static_cast<unsigned long long>(value));
  out += '"';
  out.append(digits, 16);
  out += '"';
}

}  // namespace

void SetOutputFormat(OutputFormat chosen) { format = chosen; }

OutputFormat CurrentOutputFormat() { return format; }

void SetOneLinePerEvent(bool one) { oneLine = one; }

void SetStationLines(bool station, bool timestamps) {
  stationLines = station;
  stampedLines = timestamps;
}

void EmitBanner() {
  if (Json()) {
    return;
  }
  Print("Starting Kestrune application\n");
  FlushOutput();
}

void EmitStart(const LibraryVersion& library, const LibraryVersion& hidLibrary) {
  if (!Json()) {
    PrintVersion("SLABHIDtoUART.dll", library);
    PrintVersion("SLABHIDDevice.dll", hidLibrary);
    FlushOutput();
    if (!Publishing()) {
      return;
    }
  }
  JsonLine line = FirstLine("start");
  AddVersion(line, "library", library);
  AddVersion(line, "hidLibrary", hidLibrary);
  Write(line);
}

void EmitCount(uint32_t bridges) {
  if (!Json()) {
    Print("Number of connected CP2110 HID devices = %u\n", bridges);
    FlushOutput();
    if (!Publishing()) {
      return;
    }
  }
  JsonLine line("count", Now().text);
  line.Number("bridges", bridges);
  Write(line);
}

void EmitConnected(const char* serial, const BridgeIdentity& device) {
  if (!Json() && oneLine) {
    PrintStamp();
    Print(
        "Connected to %s: Vendor ID = %s, Product ID = %s, Part Number = %d, Version = %d, "
        "Path = %s, Manufacturer = %s, Product = %s\n",
        Shown(serial).c_str(), Printable(device.vendorIdText).text,
        Printable(device.productIdText).text, device.partNumber, device.version,
        Printable(device.path).text, Printable(device.manufacturer).text,
        Printable(device.product).text);
    FlushOutput();
  } else if (!Json()) {
    Print("Vendor ID = %s, Product ID = %s\n", Printable(device.vendorIdText).text,
          Printable(device.productIdText).text);
    Print("Part Number = %d, Version = %d\n", device.partNumber, device.version);
    Print("Path = %s\n", Printable(device.path).text);
    Print("Manufacturer = %s\n", Printable(device.manufacturer).text);
    Print("Product = %s\n", Printable(device.product).text);
    PrintStamp();
    Print("Connected to %s\n", Shown(serial).c_str());
    FlushOutput();
  }
  if (!Json() && !Publishing()) {
    return;
  }
  JsonLine line("connected", Now().text);
  AddReader(line, DeviceBytes(serial));
  AddIdentity(line, device);
  Write(line);
  if (Publishing()) {
    const std::lock_guard<std::mutex> lock(readersMutex);
    connectedReaders[std::string(DeviceBytes(serial))] = device;
    PublishReader(DeviceBytes(serial), device, true);
  }
}

void EmitConnectFailed(const char* serial, HID_UART_STATUS status, ConnectFailure report) {
  if (!Json()) {
    PrintStamp();
    if (report == ConnectFailure::kError && stationLines) {
      Print("Error: %s: %s\n", Shown(serial).c_str(), StatusText(status).c_str());
    } else if (report == ConnectFailure::kError) {
      Print("Error: %s\n", StatusText(status).c_str());
    } else {
      Print("Failed to connect to %s: %s\n", Shown(serial).c_str(), StatusText(status).c_str());
      Print("Not Connected\n");
    }
    FlushOutput();
    if (!Publishing()) {
      return;
    }
  }
  JsonLine line("connect-failed", Now().text);
  AddReader(line, DeviceBytes(serial));
  line.Number("status", status)
      .String("statusText", StatusText(status))
      .String("report", report == ConnectFailure::kError ? "error" : "not-connected");
  Write(line);
}

namespace {

// A block's bytes, value and decimal, as the human report shows them.
void AddBlockBytes(JsonLine& line, const uint8_t* bytes, uint32_t count) {
  line.text().reserve(line.text().size() + 2 * count + 128);
  line.Number("count", count);
  std::string& hex = line.Raw("hex");
  hex += '"';
  AppendHex(hex, bytes, count);
  hex += '"';
  const uint64_t value = BlockValue(bytes, static_cast<int>(count));
  AddHexValue(line.Raw("value"), value);
  char decimalText[11];
  std::snprintf(decimalText, sizeof decimalText, "%010u",
                static_cast<unsigned>(BlockDecimal(value)));
  line.String("decimal", decimalText);
}

}  // namespace

void EmitBlock(const BlockEvent& block) {
  if (!Json() && oneLine) {
    const uint64_t value = BlockValue(block.bytes, static_cast<int>(block.count));
    std::string hex;
    AppendHex(hex, block.bytes, block.count);
    Print("%s >>>[DATA FROM %s, %u BYTE] 0x%s HEX (64-bit): %016llX Decimal (10 Digits): %010u\n",
          LocalTimestamp(block.time).text, Shown(block.serial).c_str(), block.count, hex.c_str(),
          static_cast<unsigned long long>(value), static_cast<unsigned>(BlockDecimal(value)));
    FlushOutput();
    if (!Publishing()) {
      return;
    }
  } else if (!Json()) {
    const std::string* name = ReaderName(DeviceBytes(block.serial));
    ReportBlock(block.serial, block.bytes, static_cast<int>(block.count),
                block.timestamped ? LocalTimestamp(block.time).text : nullptr,
                name != nullptr ? name->c_str() : nullptr);
    if (!Publishing()) {
      return;
    }
  }
  JsonLine line("block", LocalTimestamp(block.time).text);
  AddReader(line, DeviceBytes(block.serial));
  AddBlockBytes(line, block.bytes, block.count);
  Write(line);
}

void EmitHeld(const HeldEvent& held) {
  if (!Json() && !Publishing()) {
    return;
  }
  JsonLine line("held", LocalTimestamp(held.time).text);
  AddReader(line, DeviceBytes(held.serial));
  AddBlockBytes(line, held.bytes, held.count);
  line.Number("repeats", held.repeats)
      .Number("heldMs", std::chrono::duration_cast<std::chrono::milliseconds>(held.held).count());
  Write(line);
}

namespace {

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

void EmitDisconnected(const char* serial, HID_UART_STATUS status) {
  if (!Json()) {
    PrintStamp();
    Print("Disconnected from %s: %s\n", Shown(serial).c_str(), StatusText(status).c_str());
    FlushOutput();
    if (!Publishing()) {
      return;
    }
  }
  JsonLine line("disconnected", Now().text);
  AddReader(line, DeviceBytes(serial));
  line.Number("status", status).String("statusText", StatusText(status));
  Write(line);
  if (Publishing()) {
    PublishReaderClosed(serial);
  }
}

void EmitSilence(const char* serial, std::chrono::seconds quiet, bool silent) {
  const auto seconds = static_cast<long long>(quiet.count());
  if (!Json()) {
    PrintStamp();
    if (silent) {
      Print("Silent: %s for %lld s\n", Shown(serial).c_str(), seconds);
    } else {
      Print("Delivering again: %s after %lld s silent\n", Shown(serial).c_str(), seconds);
    }
    FlushOutput();
    if (!Publishing()) {
      return;
    }
  }
  JsonLine line(silent ? "silent" : "delivering", Now().text);
  AddReader(line, DeviceBytes(serial));
  line.Number(silent ? "seconds" : "silentSeconds", seconds);
  Write(line);
}

void EmitSharedSerial(const char* serial, uint32_t bridges) {
  if (!Json()) {
    PrintStamp();
    Print("Not read: %s: %u bridges share this serial string; only the first listed is read\n",
          Shown(serial).c_str(), bridges);
    FlushOutput();
    if (!Publishing()) {
      return;
    }
  }
  JsonLine line("shared-serial", Now().text);
  AddReader(line, DeviceBytes(serial));
  line.Number("bridges", bridges);
  Write(line);
}

void EmitClosed(const char* serial) {
  if (Publishing()) {
    PublishReaderClosed(serial);
  }
}

void EmitStop() {
  if (!Json() && !Publishing()) {
    return;
  }
  JsonLine line("stop", Now().text);
  Write(line);
}

namespace {

// The identity strings a listing shows after the serial string, in the order
// of the connection's lines.
struct ListedField {
  uint32_t kind;
  const char* label;  // human
  const char* name;   // JSON
};
constexpr ListedField kListedFields[] = {
    {HID_UART_GET_VID_STR, "Vendor ID", "vendorId"},
    {HID_UART_GET_PID_STR, "Product ID", "productId"},
    {HID_UART_GET_PATH_STR, "Path", "path"},
    {HID_UART_GET_MANUFACTURER_STR, "Manufacturer", "manufacturer"},
    {HID_UART_GET_PRODUCT_STR, "Product", "product"},
};

// "LABEL: not given (STATUS TEXT)": a colon where a value has " = ".
void PrintNotGiven(const char* label, HID_UART_STATUS status) {
  Print("%s: not given (%s)\n", label, StatusText(status).c_str());
}

void PrintListedVersion(const char* label, const Given<LibraryVersion>& version) {
  if (version.status != HID_UART_SUCCESS) {
    PrintNotGiven(label, version.status);
    return;
  }
  Print("%s: %d.%d (%s)\n", label, version.value.major, version.value.minor,
        BuildKind(version.value));
}

void AddListedVersion(JsonLine& line, const char* name, const Given<LibraryVersion>& version) {
  if (version.status != HID_UART_SUCCESS) {
    line.Number(std::string(name) + "Status", version.status);
  } else {
    AddVersion(line, name, version.value);
  }
}

}  // namespace

void EmitListedLibrary(const ListedLibrary& library) {
  if (!Json()) {
    Print("Bridge library: %s\n",
          library.path.empty() ? "not known" : PrintableString(library.path).c_str());
    PrintListedVersion("Library version", library.library);
    PrintListedVersion("HID library version", library.hidLibrary);
    if (library.bridges.status != HID_UART_SUCCESS) {
      PrintNotGiven("Bridges", library.bridges.status);
    } else if (library.listed < library.bridges.value) {
      Print("Bridges: %u (only the first %u are listed)\n", library.bridges.value, library.listed);
    } else {
      Print("Bridges: %u\n", library.bridges.value);
    }
    FlushOutput();
    return;
  }
  JsonLine line = FirstLine("library");
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
  Write(line);
}

void EmitListedBridge(const ListedBridge& bridge) {
  const Given<DeviceString>& serial = bridge.strings[HID_UART_GET_SERIAL_STR];
  // The index is no longer attached (a bridge unplugged since the count).
  const bool gone = serial.status == HID_UART_DEVICE_NOT_FOUND;
  if (!Json()) {
    if (serial.status != HID_UART_SUCCESS) {
      Print("Bridge %u: serial not given (%s)\n", bridge.index, StatusText(serial.status).c_str());
    } else {
      // With a names file, every attached reader it leaves out is pointed at.
      const std::string* name = ReaderName(DeviceBytes(serial.value));
      Print("Bridge %u: serial \"%s\"%s%s%s\n", bridge.index, Printable(serial.value).text,
            name != nullptr ? " (" : "", name != nullptr ? name->c_str() : "",
            name != nullptr ? ")" : (ReadersNamed() ? " (not in the names file)" : ""));
    }
    // Of an index gone, nothing more was asked.
    for (const ListedField& field : kListedFields) {
      const Given<DeviceString>& text = bridge.strings[field.kind];
      if (gone) {
        break;
      } else if (text.status != HID_UART_SUCCESS) {
        Print("  ");
        PrintNotGiven(field.label, text.status);
      } else {
        Print("  %s = %s\n", field.label, Printable(text.value).text);
      }
    }
    FlushOutput();
    return;
  }
  JsonLine line("bridge", Now().text);
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
  if (!gone) {
    for (const ListedField& field : kListedFields) {
      add(field.name, bridge.strings[field.kind]);
    }
  }
  Write(line);
}
