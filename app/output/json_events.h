// SPDX-License-Identifier: Apache-2.0
// The events as JSON objects, one per line (JSON Lines): what --json writes
// and what a broker is sent. Each function builds one event's object and
// writes nothing.
#ifndef KESTRUNE_APP_OUTPUT_JSON_EVENTS_H
#define KESTRUNE_APP_OUTPUT_JSON_EVENTS_H

#include <chrono>
#include <cstdint>
#include <string_view>

#include "hid_uart.h"
#include "output/events.h"
#include "text/json_writer.h"

JsonLine StartLine(const LibraryVersion& library, const LibraryVersion& hidLibrary, EventTime time);
JsonLine CountLine(uint32_t bridges, EventTime time);
JsonLine ConnectedLine(std::string_view serial, const BridgeIdentity& device, EventTime time);
/// A reader's retained message for a broker: its identity, and whether it is
/// connected.
JsonLine ReaderLine(std::string_view serial, const BridgeIdentity& device, bool connected,
                    EventTime time);
JsonLine ConnectFailedLine(const char* serial, HID_UART_STATUS status, ConnectFailure report,
                           EventTime time);
JsonLine BlockLine(const BlockEvent& block);
JsonLine HeldLine(const HeldEvent& held);
JsonLine DisconnectedLine(const char* serial, HID_UART_STATUS status, EventTime time);
JsonLine SilenceLine(const char* serial, std::chrono::seconds quiet, bool silent, EventTime time);
JsonLine SharedSerialLine(const char* serial, uint32_t bridges, EventTime time);
JsonLine StopLine(EventTime time);
JsonLine ListedLibraryLine(const ListedLibrary& library, EventTime time);
JsonLine ListedBridgeLine(const ListedBridge& bridge, EventTime time);

#endif
