// SPDX-License-Identifier: Apache-2.0
#include "output/human_lines.h"

#include <string>

#include "output/block_report.h"
#include "output/output.h"
#include "output/reader_names.h"
#include "text/block_value.h"
#include "text/device_text.h"
#include "text/hex.h"
#include "text/status_text.h"
#include "text/timestamp.h"

namespace {

// A reader as the human lines name it: its serial string, and its name in
// parentheses when it has one.
std::string Shown(const char* serial) {
  std::string shown = Printable(serial).text;
  if (const std::string* name = ReaderName(DeviceBytes(serial))) {
    shown += " (" + *name + ")";
  }
  return shown;
}

// Starts the line that names the bridge of an event, in station mode with
// timestamps, or with one line per event.
void PrintStamp(const HumanStyle& style, EventTime time) {
  if ((style.station && style.stamped) || style.oneLine) {
    Print("%s ", LocalTimestamp(time).text);
  }
}

const char* BuildKind(const LibraryVersion& version) {
  return version.release != 0 ? "Release" : "Debug";
}

void PrintVersion(const char* library, const LibraryVersion& version) {
  Print("%s: Version %d.%d (%s)\n", library, version.major, version.minor, BuildKind(version));
}

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

}  // namespace

void PrintBanner() {
  Print("Starting Kestrune application\n");
  FlushOutput();
}

void PrintStart(const LibraryVersion& library, const LibraryVersion& hidLibrary) {
  PrintVersion("SLABHIDtoUART.dll", library);
  PrintVersion("SLABHIDDevice.dll", hidLibrary);
  FlushOutput();
}

void PrintCount(uint32_t bridges) {
  Print("Number of connected CP2110 HID devices = %u\n", bridges);
  FlushOutput();
}

void PrintConnected(const char* serial, const BridgeIdentity& device, const HumanStyle& style,
                    EventTime time) {
  if (style.oneLine) {
    PrintStamp(style, time);
    Print(
        "Connected to %s: Vendor ID = %s, Product ID = %s, Part Number = %d, Version = %d, "
        "Path = %s, Manufacturer = %s, Product = %s\n",
        Shown(serial).c_str(), Printable(device.vendorIdText).text,
        Printable(device.productIdText).text, device.partNumber, device.version,
        Printable(device.path).text, Printable(device.manufacturer).text,
        Printable(device.product).text);
    FlushOutput();
    return;
  }
  Print("Vendor ID = %s, Product ID = %s\n", Printable(device.vendorIdText).text,
        Printable(device.productIdText).text);
  Print("Part Number = %d, Version = %d\n", device.partNumber, device.version);
  Print("Path = %s\n", Printable(device.path).text);
  Print("Manufacturer = %s\n", Printable(device.manufacturer).text);
  Print("Product = %s\n", Printable(device.product).text);
  PrintStamp(style, time);
  Print("Connected to %s\n", Shown(serial).c_str());
  FlushOutput();
}

void PrintConnectFailed(const char* serial, HID_UART_STATUS status, ConnectFailure report,
                        const HumanStyle& style, EventTime time) {
  PrintStamp(style, time);
  if (report == ConnectFailure::kError && style.station) {
    Print("Error: %s: %s\n", Shown(serial).c_str(), StatusText(status).c_str());
  } else if (report == ConnectFailure::kError) {
    Print("Error: %s\n", StatusText(status).c_str());
  } else {
    Print("Failed to connect to %s: %s\n", Shown(serial).c_str(), StatusText(status).c_str());
    Print("Not Connected\n");
  }
  FlushOutput();
}

void PrintBlock(const BlockEvent& block, bool oneLine) {
  if (oneLine) {
    const uint64_t value = BlockValue(block.bytes, static_cast<int>(block.count));
    std::string hex(2 * static_cast<size_t>(block.count), '\0');
    PutHexBytes(hex.data(), block.bytes, block.count);
    Print("%s >>>[DATA FROM %s, %u BYTE] 0x%s HEX (64-bit): %016llX Decimal (10 Digits): %010u\n",
          LocalTimestamp(block.time).text, Shown(block.serial).c_str(), block.count, hex.c_str(),
          static_cast<unsigned long long>(value), static_cast<unsigned>(BlockDecimal(value)));
    FlushOutput();
    return;
  }
  const std::string* name = ReaderName(DeviceBytes(block.serial));
  ReportBlock(block.serial, block.bytes, static_cast<int>(block.count),
              block.timestamped ? LocalTimestamp(block.time).text : nullptr,
              name != nullptr ? name->c_str() : nullptr);
}

void PrintDisconnected(const char* serial, HID_UART_STATUS status, const HumanStyle& style,
                       EventTime time) {
  PrintStamp(style, time);
  Print("Disconnected from %s: %s\n", Shown(serial).c_str(), StatusText(status).c_str());
  FlushOutput();
}

void PrintSilence(const char* serial, std::chrono::seconds quiet, bool silent,
                  const HumanStyle& style, EventTime time) {
  const auto seconds = static_cast<long long>(quiet.count());
  PrintStamp(style, time);
  if (silent) {
    Print("Silent: %s for %lld s\n", Shown(serial).c_str(), seconds);
  } else {
    Print("Delivering again: %s after %lld s silent\n", Shown(serial).c_str(), seconds);
  }
  FlushOutput();
}

void PrintSharedSerial(const char* serial, uint32_t bridges, const HumanStyle& style,
                       EventTime time) {
  PrintStamp(style, time);
  Print("Not read: %s: %u bridges share this serial string; only the first listed is read\n",
        Shown(serial).c_str(), bridges);
  FlushOutput();
}

void PrintListedLibrary(const ListedLibrary& library) {
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
}

void PrintListedBridge(const ListedBridge& bridge) {
  const Given<DeviceString>& serial = bridge.strings[HID_UART_GET_SERIAL_STR];
  if (serial.status != HID_UART_SUCCESS) {
    Print("Bridge %u: serial not given (%s)\n", bridge.index, StatusText(serial.status).c_str());
  } else {
    // With a names file, every attached reader it leaves out is pointed at.
    const std::string* name = ReaderName(DeviceBytes(serial.value));
    Print("Bridge %u: serial \"%s\"%s%s%s\n", bridge.index, Printable(serial.value).text,
          name != nullptr ? " (" : "", name != nullptr ? name->c_str() : "",
          name != nullptr ? ")" : (ReadersNamed() ? " (not in the names file)" : ""));
  }
  // Of an index no longer attached (a bridge unplugged since the count),
  // nothing more was asked.
  if (serial.status != HID_UART_DEVICE_NOT_FOUND) {
    for (const ListedField& field : kListedFields) {
      const Given<DeviceString>& text = bridge.strings[field.kind];
      if (text.status != HID_UART_SUCCESS) {
        Print("  ");
        PrintNotGiven(field.label, text.status);
      } else {
        Print("  %s = %s\n", field.label, Printable(text.value).text);
      }
    }
  }
  FlushOutput();
}
