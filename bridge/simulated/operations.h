// SPDX-License-Identifier: Apache-2.0
// The twelve bridge library operations as the simulation performs them. The
// exported C functions forward here; tests call these directly. All state is
// process-wide and guarded by one lock; a read releases it while it waits.
#ifndef KESTRUNE_BRIDGE_SIMULATED_OPERATIONS_H
#define KESTRUNE_BRIDGE_SIMULATED_OPERATIONS_H

#include <cstdint>
#include <string>

#include "hid_uart.h"
#include "scenario.h"

namespace sim {

/// Environment variable naming the scenario file; without it the built-in
/// demo is used.
inline constexpr char kScenarioVariable[] = "HIDUART_SIM_SCENARIO";
/// Environment variable naming the call log file (appended to).
inline constexpr char kLogVariable[] = "HIDUART_SIM_LOG";

/// Replaces the whole simulated installation with `scenario`, as if the
/// library had just been loaded with it, and logs calls to `logPath` (none
/// when empty). The environment is then no longer consulted.
void Reset(Scenario scenario, const std::string& logPath = {});
/// Forgets everything; the next call loads the scenario named by the
/// environment (or the demo), as the first call after loading does.
void ResetToEnvironment();

HID_UART_STATUS GetLibraryVersion(std::uint8_t* major, std::uint8_t* minor, HID_UART_BOOL* release);
HID_UART_STATUS GetHidLibraryVersion(std::uint8_t* major, std::uint8_t* minor,
                                     HID_UART_BOOL* release);
HID_UART_STATUS GetNumDevices(std::uint32_t* numDevices, std::uint16_t vid, std::uint16_t pid);
HID_UART_STATUS GetString(std::uint32_t deviceNum, std::uint16_t vid, std::uint16_t pid,
                          char* deviceString, std::uint32_t options);
HID_UART_STATUS Open(HID_UART_DEVICE* device, std::uint32_t deviceNum, std::uint16_t vid,
                     std::uint16_t pid);
HID_UART_STATUS GetPartNumber(HID_UART_DEVICE device, std::uint8_t* partNumber,
                              std::uint8_t* version);
HID_UART_STATUS SetUartConfig(HID_UART_DEVICE device, std::uint32_t baudRate, std::uint8_t dataBits,
                              std::uint8_t parity, std::uint8_t stopBits, std::uint8_t flowControl);
HID_UART_STATUS GetUartConfig(HID_UART_DEVICE device, std::uint32_t* baudRate,
                              std::uint8_t* dataBits, std::uint8_t* parity, std::uint8_t* stopBits,
                              std::uint8_t* flowControl);
HID_UART_STATUS SetTimeouts(HID_UART_DEVICE device, std::uint32_t readTimeout,
                            std::uint32_t writeTimeout);
HID_UART_STATUS GetOpenedString(HID_UART_DEVICE device, char* deviceString, std::uint32_t options);
HID_UART_STATUS Read(HID_UART_DEVICE device, std::uint8_t* buffer, std::uint32_t numBytesToRead,
                     std::uint32_t* numBytesRead);
HID_UART_STATUS Close(HID_UART_DEVICE device);

}  // namespace sim

#endif
