// SPDX-License-Identifier: Apache-2.0
// The bridge library's C interface: the twelve operations the program uses.
//
// Every implementation of this header (the vendor's SLABHIDtoUART.dll, the
// simulated bridge, the open hidraw backend) exports exactly these names with
// C linkage, so the program binds whichever one it finds at load time. The
// types are fixed-width so that the layout matches the vendor's library on
// 64-bit Windows, where there is a single calling convention and exported
// names carry no decoration.
//
// Threading. The program calls the library from several threads and keeps
// to this contract; every implementation is safe under it:
//   - HidUart_GetNumDevices, HidUart_GetString, HidUart_Open and HidUart_Close
//     run one at a time: never two of them at once, from any threads;
//   - the calls that take a handle run on one thread at a time for that
//     handle (a reader thread owns it once it is connected); calls on
//     different handles may run at once, and at once with the four above;
//   - a handle is closed only once no other call on it runs, never while a
//     read of it waits;
//   - the two version calls may run at any time.
#ifndef KESTRUNE_BRIDGE_HID_UART_H
#define KESTRUNE_BRIDGE_HID_UART_H

#include <stdint.h>

#if defined(_WIN32)
// Exports come from the module-definition file; importers go through the
// import library, so no attribute is needed on either side.
#define HID_UART_API
#else
#define HID_UART_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/// Result of every operation: 0 is success, every failure lies in 0x01..0xFF.
typedef int32_t HID_UART_STATUS;
/// Opaque, pointer-sized handle of an opened bridge.
typedef void* HID_UART_DEVICE;
/// 32-bit truth value (nonzero is true).
typedef int32_t HID_UART_BOOL;

enum {
  HID_UART_SUCCESS = 0x00,
  HID_UART_DEVICE_NOT_FOUND = 0x01,
  HID_UART_INVALID_HANDLE = 0x02,
  HID_UART_INVALID_DEVICE_OBJECT = 0x03,
  HID_UART_INVALID_PARAMETER = 0x04,
  HID_UART_INVALID_REQUEST_LENGTH = 0x05,
  HID_UART_READ_ERROR = 0x10,
  HID_UART_WRITE_ERROR = 0x11,
  HID_UART_READ_TIMED_OUT = 0x12,
  HID_UART_WRITE_TIMED_OUT = 0x13,
  HID_UART_DEVICE_IO_FAILED = 0x14,
  HID_UART_DEVICE_ACCESS_ERROR = 0x15,
  HID_UART_DEVICE_NOT_SUPPORTED = 0x16,
  HID_UART_UNKNOWN_ERROR = 0xFF
};

/// Size of every device string buffer, terminating NUL included.
enum { HID_UART_DEVICE_STRLEN = 260 };

/// Which device string HidUart_GetString / HidUart_GetOpenedString return.
enum {
  HID_UART_GET_VID_STR = 1,
  HID_UART_GET_PID_STR = 2,
  HID_UART_GET_PATH_STR = 3,
  HID_UART_GET_SERIAL_STR = 4,
  HID_UART_GET_MANUFACTURER_STR = 5,
  HID_UART_GET_PRODUCT_STR = 6
};

/// UART setting codes: every value a bridge accepts, from 0 up to the last
/// code of each field.
enum {
  HID_UART_FIVE_DATA_BITS = 0,
  HID_UART_SIX_DATA_BITS = 1,
  HID_UART_SEVEN_DATA_BITS = 2,
  HID_UART_EIGHT_DATA_BITS = 3,
  HID_UART_NO_PARITY = 0,
  HID_UART_ODD_PARITY = 1,
  HID_UART_EVEN_PARITY = 2,
  HID_UART_MARK_PARITY = 3,
  HID_UART_SPACE_PARITY = 4,
  HID_UART_SHORT_STOP_BIT = 0,
  HID_UART_LONG_STOP_BIT = 1,
  HID_UART_NO_FLOW_CONTROL = 0,
  HID_UART_RTS_CTS_FLOW_CONTROL = 1
};

/// Baud rates a bridge's UART runs at, both included.
enum { HID_UART_MIN_BAUD_RATE = 300, HID_UART_MAX_BAUD_RATE = 1000000 };

/// Version of the bridge library itself. Returns 0 and the three values, or
/// a failure status with the values possibly untouched.
HID_UART_API HID_UART_STATUS HidUart_GetLibraryVersion(uint8_t* major, uint8_t* minor,
                                                       HID_UART_BOOL* release);

/// Version of the HID library beneath the bridge library; as above.
HID_UART_API HID_UART_STATUS HidUart_GetHidLibraryVersion(uint8_t* major, uint8_t* minor,
                                                          HID_UART_BOOL* release);

/// Number of attached bridges matching the filters (0 matches every
/// identifier). Returns 0 and the count, or a failure status.
HID_UART_API HID_UART_STATUS HidUart_GetNumDevices(uint32_t* numDevices, uint16_t vid,
                                                   uint16_t pid);

/// Device string of the given kind of the bridge at deviceNum, without
/// opening it, into a caller buffer of HID_UART_DEVICE_STRLEN bytes. Returns
/// 0 and the string, or a failure status (an index that is no longer attached
/// gives HID_UART_DEVICE_NOT_FOUND).
HID_UART_API HID_UART_STATUS HidUart_GetString(uint32_t deviceNum, uint16_t vid, uint16_t pid,
                                               char* deviceString, uint32_t options);

/// Opens the bridge at deviceNum. Returns 0 and a handle in *device, or a
/// failure status.
HID_UART_API HID_UART_STATUS HidUart_Open(HID_UART_DEVICE* device, uint32_t deviceNum, uint16_t vid,
                                          uint16_t pid);

/// Part number and version of an opened bridge. Returns 0 and both values, or
/// a failure status.
HID_UART_API HID_UART_STATUS HidUart_GetPartNumber(HID_UART_DEVICE device, uint8_t* partNumber,
                                                   uint8_t* version);

/// Writes the UART setting. Returns 0 once written, or a failure status.
HID_UART_API HID_UART_STATUS HidUart_SetUartConfig(HID_UART_DEVICE device, uint32_t baudRate,
                                                   uint8_t dataBits, uint8_t parity,
                                                   uint8_t stopBits, uint8_t flowControl);

/// Reads back the UART setting in force. Returns 0 and the five values, or a
/// failure status.
HID_UART_API HID_UART_STATUS HidUart_GetUartConfig(HID_UART_DEVICE device, uint32_t* baudRate,
                                                   uint8_t* dataBits, uint8_t* parity,
                                                   uint8_t* stopBits, uint8_t* flowControl);

/// Sets the read and write time-outs in milliseconds. Returns 0 once set, or
/// a failure status.
HID_UART_API HID_UART_STATUS HidUart_SetTimeouts(HID_UART_DEVICE device, uint32_t readTimeout,
                                                 uint32_t writeTimeout);

/// Device string of the given kind of an opened bridge, into a caller buffer
/// of HID_UART_DEVICE_STRLEN bytes. Returns 0 and the string, or a failure
/// status.
HID_UART_API HID_UART_STATUS HidUart_GetOpenedString(HID_UART_DEVICE device, char* deviceString,
                                                     uint32_t options);

/// Reads up to numBytesToRead bytes received on the UART line. Returns 0 when
/// the request was filled, HID_UART_READ_TIMED_OUT when the read time-out
/// elapsed first; either way *numBytesRead tells how many bytes were placed at
/// the start of buffer, possibly 0. Any other status means the bridge can no
/// longer be read.
HID_UART_API HID_UART_STATUS HidUart_Read(HID_UART_DEVICE device, uint8_t* buffer,
                                          uint32_t numBytesToRead, uint32_t* numBytesRead);

/// Closes an opened bridge. Returns 0, or a failure status.
HID_UART_API HID_UART_STATUS HidUart_Close(HID_UART_DEVICE device);

#ifdef __cplusplus
}
#endif

#endif
