// The sweep over every attached bridge, with the capture loop of each.
#ifndef KESTRUNE_APP_SWEEP_H
#define KESTRUNE_APP_SWEEP_H

#include <cstdint>
#include <string>
#include <vector>

#include "hid_uart.h"

/// Bytes asked of each read, and the size of the read buffer.
constexpr uint32_t kReadSize = 1000;

/// Prints the two library version lines and the bridge count, fetches the
/// serial string of each bridge index, then visits those serial strings in
/// index order: connects, and reports every block read from the bridge until
/// a read fails with a status other than the read time-out; the bridge's
/// handle is then closed. Returns when every serial string has been visited,
/// or at once, silently, when the count cannot be had. A healthy bridge is
/// read until the process is interrupted. With timestamps, each report's
/// header line starts with the local time at which its read returned.
void SweepDevices(bool timestamps = false);

/// Prints the two library version lines.
void ReportLibraryVersions();

/// The serial string of each of the first count bridge indexes, in index
/// order; an index whose string cannot be had is left out.
std::vector<std::string> CollectSerials(uint32_t count);

/// One read of a capture loop: reads up to kReadSize bytes from handle into
/// buffer (kReadSize bytes, kept from one read of a bridge to the next) and
/// reports the block under serial, if there is one. Returns the number of
/// bytes reported, or a negative number when the bridge can no longer be read
/// (whatever that read placed is not reported); the read's status is left in
/// *status either way.
int ReadAndReport(HID_UART_DEVICE handle, const char* serial, uint8_t* buffer, bool timestamps,
                  HID_UART_STATUS* status);

#endif
