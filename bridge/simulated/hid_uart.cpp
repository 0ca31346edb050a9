// SPDX-License-Identifier: Apache-2.0
// The simulated backend of the bridge library: the twelve exported operations
// of hid_uart.h, each performed by the simulation in operations.cpp.
#include "hid_uart.h"

#include "operations.h"

extern "C" {

HID_UART_STATUS HidUart_GetLibraryVersion(uint8_t* major, uint8_t* minor, HID_UART_BOOL* release) {
  return sim::GetLibraryVersion(major, minor, release);
}

HID_UART_STATUS HidUart_GetHidLibraryVersion(uint8_t* major, uint8_t* minor,
                                             HID_UART_BOOL* release) {
  return sim::GetHidLibraryVersion(major, minor, release);
}

HID_UART_STATUS HidUart_GetNumDevices(uint32_t* numDevices, uint16_t vid, uint16_t pid) {
  return sim::GetNumDevices(numDevices, vid, pid);
}

HID_UART_STATUS HidUart_GetString(uint32_t deviceNum, uint16_t vid, uint16_t pid,
                                  char* deviceString, uint32_t options) {
  return sim::GetString(deviceNum, vid, pid, deviceString, options);
}

HID_UART_STATUS HidUart_Open(HID_UART_DEVICE* device, uint32_t deviceNum, uint16_t vid,
                             uint16_t pid) {
  return sim::Open(device, deviceNum, vid, pid);
}

HID_UART_STATUS HidUart_GetPartNumber(HID_UART_DEVICE device, uint8_t* partNumber,
                                      uint8_t* version) {
  return sim::GetPartNumber(device, partNumber, version);
}

HID_UART_STATUS HidUart_SetUartConfig(HID_UART_DEVICE device, uint32_t baudRate, uint8_t dataBits,
                                      uint8_t parity, uint8_t stopBits, uint8_t flowControl) {
  return sim::SetUartConfig(device, baudRate, dataBits, parity, stopBits, flowControl);
}

HID_UART_STATUS HidUart_GetUartConfig(HID_UART_DEVICE device, uint32_t* baudRate, uint8_t* dataBits,
                                      uint8_t* parity, uint8_t* stopBits, uint8_t* flowControl) {
  return sim::GetUartConfig(device, baudRate, dataBits, parity, stopBits, flowControl);
}

HID_UART_STATUS HidUart_SetTimeouts(HID_UART_DEVICE device, uint32_t readTimeout,
                                    uint32_t writeTimeout) {
  return sim::SetTimeouts(device, readTimeout, writeTimeout);
}

HID_UART_STATUS HidUart_GetOpenedString(HID_UART_DEVICE device, char* deviceString,
                                        uint32_t options) {
  return sim::GetOpenedString(device, deviceString, options);
}

HID_UART_STATUS HidUart_Read(HID_UART_DEVICE device, uint8_t* buffer, uint32_t numBytesToRead,
                             uint32_t* numBytesRead) {
  return sim::Read(device, buffer, numBytesToRead, numBytesRead);
}

HID_UART_STATUS HidUart_Close(HID_UART_DEVICE device) { return sim::Close(device); }

}  // extern "C"
