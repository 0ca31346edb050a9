// SPDX-License-Identifier: Apache-2.0
// Everything the program tells its operator, as events. Each print site
// names what happened; this layer renders it as the human lines or, with
// --json, as one JSON object per line (JSON Lines).
#ifndef KESTRUNE_APP_EVENTS_H
#define KESTRUNE_APP_EVENTS_H

#include <chrono>
#include <cstdint>
#include <string>

#include "hid_uart.h"
#include "text/device_text.h"

/// When an event happened, as its lines tell it.
using EventTime = std::chrono::system_clock::time_point;

enum class OutputFormat {
  kHuman,      // the lines an operator reads
  kJsonLines,  // one JSON object per line, LF-ended, one write each
};

/// Bumped whenever an event or a field changes its name or meaning. 2: the
/// count of a held tag's repeats moved from the next block or disconnection
/// ("repeats") to an event of its own ("held").
constexpr int kJsonFormatVersion = 2;

/// Chosen once, before the first event; human lines until then.
void SetOutputFormat(OutputFormat format);
OutputFormat CurrentOutputFormat();

/// How the human lines that concern one bridge read. Without it, as in a run
/// with no arguments. Station mode names the bridge in each of them (a failed
/// connection's "Error: SERIAL: TEXT") and, with timestamps, starts the line
/// of each event that names the bridge with the local time and one space:
/// "Connected to", "Error:", "Failed to connect to", "Disconnected from" and
/// a report's header. The identity lines before "Connected to", the "Not
/// Connected" after "Failed to connect to" and a report's other lines belong
/// to that event and leave in the same write. JSON is the same in every mode.
void SetStationLines(bool station, bool timestamps);

/// --one-line: every human line about a reader starts with the time, and the
/// two events that take several lines take one: a connection ("TIME
/// Connected to SERIAL: Vendor ID = ..., Product = ...") and a block ("TIME
/// >>>[DATA FROM SERIAL, N BYTE] 0xHEX HEX (64-bit): VALUE Decimal (10
/// Digits): DECIMAL", the time the block's first bytes were read), so that
/// a log holds one line per event.
void SetOneLinePerEvent(bool one);

struct LibraryVersion {
  uint8_t major;
  uint8_t minor;
  HID_UART_BOOL release;
};

/// The first line of a run; JSON has no line for it (its start comes with
/// the library versions).
void EmitBanner();
/// Both library versions.
void EmitStart(const LibraryVersion& library, const LibraryVersion& hidLibrary);
/// The number of attached bridges.
void EmitCount(uint32_t bridges);
/// What an opened bridge tells of itself: its part number and version and
/// its identity strings, each ending within its buffer.
struct BridgeIdentity {
  uint8_t partNumber;
  uint8_t version;
  DeviceString vendorIdText;
  DeviceString productIdText;
  DeviceString path;
  DeviceString manufacturer;
  DeviceString product;
};

/// A bridge connected, with its identity.
void EmitConnected(const char* serial, const BridgeIdentity& device);

enum class ConnectFailure {
  kError,         // "Error: TEXT": not found, open, part number or setting write failed
  kNotConnected,  // "Failed to connect to SERIAL: TEXT" and "Not Connected"
};
void EmitConnectFailed(const char* serial, HID_UART_STATUS status, ConnectFailure report);

struct BlockEvent {
  const char* serial;
  const uint8_t* bytes;
  uint32_t count;  // 1 or more
  /// When the block's first bytes were read.
  std::chrono::system_clock::time_point time;
  /// Whether the human header starts with that time.
  bool timestamped;
};
void EmitBlock(const BlockEvent& block);

/// A tag held in a reader's field has left it, or its bridge stopped being
/// read: the block reported when it came, how many equal blocks after it were
/// left out, and for how long. JSON (and the broker) only: the human lines
/// stay as they were.
struct HeldEvent {
  const char* serial;
  const uint8_t* bytes;
  uint32_t count;
  /// When the reported block's first bytes were read.
  std::chrono::system_clock::time_point time;
  uint32_t repeats;  // 1 or more
  /// From the reported block to the last repeat.
  std::chrono::steady_clock::duration held;
};
void EmitHeld(const HeldEvent& held);

/// A connected reader has delivered nothing for quiet ("Silent: SERIAL for
/// N s"), or delivers again after quiet ("Delivering again: SERIAL after N
/// s silent").
void EmitSilence(const char* serial, std::chrono::seconds quiet, bool silent);

/// Station mode: several attached bridges share a serial string, of which
/// only the first listed is read ("Not read: SERIAL: N bridges share this
/// serial string; only the first listed is read").
void EmitSharedSerial(const char* serial, uint32_t bridges);

/// A bridge whose read failed in station mode.
void EmitDisconnected(const char* serial, HID_UART_STATUS status);

/// A bridge closed with no failure (at a stop, or as the sweep goes on):
/// with a broker, its retained reader message says it is no longer
/// connected. Nothing is printed.
void EmitClosed(const char* serial);

/// The run stopped on the operator's request; JSON only.
void EmitStop();

/// A value the library gave, or the status of the call that did not give it.
template <typename T>
struct Given {
  HID_UART_STATUS status;  // HID_UART_SUCCESS when value holds what was given
  T value;
};

/// What --list tells of the bridge library.
struct ListedLibrary {
  std::string path;  // of the file loaded; empty when not known
  Given<LibraryVersion> library;
  Given<LibraryVersion> hidLibrary;
  Given<uint32_t> bridges;  // as counted
  uint32_t listed;          // how many of them are listed
};
void EmitListedLibrary(const ListedLibrary& library);

/// The strings of one bridge, as --list fetches them without opening it.
struct ListedBridge {
  uint32_t index;
  /// By string kind (HID_UART_GET_VID_STR ... HID_UART_GET_PRODUCT_STR, at
  /// that index); each value ends within its buffer.
  Given<DeviceString> strings[HID_UART_GET_PRODUCT_STR + 1];
};
/// The identity strings a listing shows after the serial string, in the
/// order of a connection's lines: their kind, their human label and their
/// JSON name.
struct ListedField {
  uint32_t kind;
  const char* label;
  const char* name;
};
constexpr ListedField kListedFields[] = {
    {HID_UART_GET_VID_STR, "Vendor ID", "vendorId"},
    {HID_UART_GET_PID_STR, "Product ID", "productId"},
    {HID_UART_GET_PATH_STR, "Path", "path"},
    {HID_UART_GET_MANUFACTURER_STR, "Manufacturer", "manufacturer"},
    {HID_UART_GET_PRODUCT_STR, "Product", "product"},
};

/// A bridge whose serial string was "Device not found" is no longer
/// attached: its other strings are neither asked for nor shown.
void EmitListedBridge(const ListedBridge& bridge);

#endif
