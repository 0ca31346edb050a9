// SPDX-License-Identifier: Apache-2.0
// Connecting to one bridge by its serial string, with the fixed line setting.
#ifndef KESTRUNE_APP_CONNECTION_H
#define KESTRUNE_APP_CONNECTION_H

#include <chrono>
#include <cstdint>

#include "hid_uart.h"
#include "hid_uart_values.h"
#include "output/events.h"

/// The line setting every connection writes and reads back: 9600 baud, 8
/// data bits, no parity, one stop bit, no flow control.
constexpr hiduart::UartSetting kConnectionLineSetting{9600, HID_UART_EIGHT_DATA_BITS,
                                                      HID_UART_NO_PARITY, HID_UART_SHORT_STOP_BIT,
                                                      HID_UART_NO_FLOW_CONTROL};

/// The time-outs a connection sets: a read's in milliseconds, and the write
/// time-out, which every later change of the read time-out keeps.
constexpr std::chrono::milliseconds kConnectionReadTimeout{200};
constexpr std::chrono::milliseconds kConnectionWriteTimeout{2000};

/// The bridge opened last: its handle, part number and version, and the
/// identity strings of the bridge connected last.
struct ConnectedDeviceRecord : BridgeIdentity {
  HID_UART_DEVICE handle;
};

/// The process-wide record; zero-filled at start and never cleared.
extern ConnectedDeviceRecord ConnectedDevice;

/// Finds the first attached bridge whose serial string equals serial, opens
/// it, sets 9600 baud 8N1 without flow control, reads the setting back and
/// compares it, sets the time-outs (read 200 ms, write 2000 ms), then prints
/// the bridge's identity lines and "Connected to ...". Returns true when the
/// bridge is ready to read through ConnectedDevice.handle.
///
/// Returns false after printing either "Error: ..." (not found, open, part
/// number or setting write failed) or "Failed to connect to ...: ..." and
/// "Not Connected" (read-back, mismatch or time-outs failed). Every handle it
/// opened and does not hand over is closed, once.
bool ConnectBySerial(const char* serial);

/// The same, into a record of the caller's own: station mode, which keeps a
/// handle per reader, leaves the process-wide record alone.
bool ConnectBySerial(const char* serial, ConnectedDeviceRecord& device);

#endif
