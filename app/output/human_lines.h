// SPDX-License-Identifier: Apache-2.0
// The events as the lines an operator reads. Each function prints one
// event's lines and flushes them, so that an event leaves in one write.
#ifndef KESTRUNE_APP_OUTPUT_HUMAN_LINES_H
#define KESTRUNE_APP_OUTPUT_HUMAN_LINES_H

#include <chrono>
#include <cstdint>

#include "hid_uart.h"
#include "output/events.h"

/// How the lines that concern one bridge read (SetStationLines,
/// SetOneLinePerEvent).
struct HumanStyle {
  bool station = false;  // a failed connection's "Error:" names the bridge
  bool stamped = false;  // station mode with timestamps
  bool oneLine = false;  // every event about a reader on one line, with its time
};

void PrintBanner();
void PrintStart(const LibraryVersion& library, const LibraryVersion& hidLibrary);
void PrintCount(uint32_t bridges);
void PrintConnected(const char* serial, const BridgeIdentity& device, const HumanStyle& style,
                    EventTime time);
void PrintConnectFailed(const char* serial, HID_UART_STATUS status, ConnectFailure report,
                        const HumanStyle& style, EventTime time);
/// The five-line report (ReportBlock), or with oneLine the one line.
void PrintBlock(const BlockEvent& block, bool oneLine);
void PrintDisconnected(const char* serial, HID_UART_STATUS status, const HumanStyle& style,
                       EventTime time);
void PrintSilence(const char* serial, std::chrono::seconds quiet, bool silent,
                  const HumanStyle& style, EventTime time);
void PrintSharedSerial(const char* serial, uint32_t bridges, const HumanStyle& style,
                       EventTime time);
void PrintListedLibrary(const ListedLibrary& library);
void PrintListedBridge(const ListedBridge& bridge);

#endif
