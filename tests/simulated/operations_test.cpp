// SPDX-License-Identifier: Apache-2.0
#include "operations.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "scenario_reader.h"
#include "stream.h"

namespace sim {
namespace {

using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

struct ReadResult {
  HID_UART_STATUS status;
  std::uint32_t count;
  Bytes bytes;  // what was placed, as far as the count and the request allow
};

class Operations : public ::testing::Test {
 protected:
  void TearDown() override { ResetToEnvironment(); }

  static void Use(const char* text, const std::string& log = {}) {
    ParseResult parsed = ParseScenario(text, "test");
    ASSERT_TRUE(parsed.scenario.has_value()) << parsed.error;
    Reset(std::move(*parsed.scenario), log);
  }
  static std::uint32_t Count() {
    std::uint32_t count = 0;
    EXPECT_EQ(GetNumDevices(&count, 0, 0), HID_UART_SUCCESS);
    return count;
  }
  static std::string StringAt(std::uint32_t index, std::uint32_t kind = HID_UART_GET_SERIAL_STR) {
    char text[HID_UART_DEVICE_STRLEN] = {};
    const auto status = GetString(index, 0, 0, text, kind);
    return status == HID_UART_SUCCESS ? std::string(text) : "status " + std::to_string(status);
  }
  static HID_UART_DEVICE OpenAt(std::uint32_t index, std::uint32_t readTimeoutMs = 1000) {
    HID_UART_DEVICE device = nullptr;
    EXPECT_EQ(Open(&device, index, 0, 0), HID_UART_SUCCESS);
    EXPECT_EQ(SetTimeouts(device, readTimeoutMs, 0), HID_UART_SUCCESS);
    return device;
  }
  static ReadResult ReadFrom(HID_UART_DEVICE device, std::uint32_t request) {
    Bytes buffer(request + 1, 0xEE);
    std::uint32_t count = 12345;
    const auto status = Read(device, buffer.data(), request, &count);
    EXPECT_EQ(buffer[request], 0xEE) << "read wrote past its request";
    buffer.resize(std::min(count, request));
    return {status, count, buffer};
  }
};

TEST_F(Operations, IdentityStringsAndFilters) {
  Use(R"(library-version 6 14 release
bridge "S1"
bridge "S2"
  usb-id 0x1234 0x0001
  product "Other"
  part-number 0x0B 3
)");
  std::uint8_t major = 0, minor = 0;
  HID_UART_BOOL release = 0;
  EXPECT_EQ(GetLibraryVersion(&major, &minor, &release), HID_UART_SUCCESS);
  EXPECT_EQ(major * 100 + minor, 614);
  EXPECT_EQ(release, 1);
  EXPECT_EQ(Count(), 2u);
  EXPECT_EQ(StringAt(0, HID_UART_GET_VID_STR), "10C4");
  EXPECT_EQ(StringAt(0, HID_UART_GET_PID_STR), "EA80");
  EXPECT_EQ(StringAt(1, HID_UART_GET_PATH_STR), "sim:bridge/1");
  EXPECT_EQ(StringAt(1, HID_UART_GET_MANUFACTURER_STR), "Kestrune simulation");
  EXPECT_EQ(StringAt(1, HID_UART_GET_PRODUCT_STR), "Other");
  EXPECT_EQ(StringAt(0, 7), "status 4");
  std::uint32_t count = 0;
  EXPECT_EQ(GetNumDevices(&count, 0x10C4, 0), HID_UART_SUCCESS);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(GetNumDevices(&count, 0, 0x0001), HID_UART_SUCCESS);
  EXPECT_EQ(count, 1u);
  char text[HID_UART_DEVICE_STRLEN];
  EXPECT_EQ(GetString(0, 0, 0x0001, text, HID_UART_GET_SERIAL_STR), HID_UART_SUCCESS);
  EXPECT_STREQ(text, "S2");

  const HID_UART_DEVICE device = OpenAt(1);
  std::uint8_t part = 0, version = 0;
  EXPECT_EQ(GetPartNumber(device, &part, &version), HID_UART_SUCCESS);
  EXPECT_EQ(part, 0x0B);
  EXPECT_EQ(version, 3);
  EXPECT_EQ(GetOpenedString(device, text, HID_UART_GET_VID_STR), HID_UART_SUCCESS);
  EXPECT_STREQ(text, "1234");
}

TEST_F(Operations, UartSettingReadsBackWhatWasWrittenUnlessOverridden) {
  Use("bridge \"S1\"\nbridge \"S2\"\n  read-back baud 4800\n  read-back parity 2\n");
  for (std::uint32_t index : {0u, 1u}) {
    const HID_UART_DEVICE device = OpenAt(index);
    std::uint32_t baud = 0;
    std::uint8_t data = 9, parity = 9, stop = 9, flow = 9;
    if (index == 0) {
      ASSERT_EQ(GetUartConfig(device, &baud, &data, &parity, &stop, &flow), HID_UART_SUCCESS);
      EXPECT_EQ(baud, 115200u);
    }
    EXPECT_EQ(SetUartConfig(device, 9600, 3, 0, 0, 0), HID_UART_SUCCESS);
    EXPECT_EQ(SetUartConfig(device, 9600, 4, 0, 0, 0), HID_UART_INVALID_PARAMETER);
    ASSERT_EQ(GetUartConfig(device, &baud, &data, &parity, &stop, &flow), HID_UART_SUCCESS);
    EXPECT_EQ(baud, index == 0 ? 9600u : 4800u);
    EXPECT_EQ(parity, index == 0 ? 0 : 2);
    EXPECT_EQ(data + stop + flow, 3);
  }
}

// The bridge takes exactly the interface's codes and baud range; a refused
// setting leaves the one in force.
TEST_F(Operations, UartSettingIsTakenOnlyWithinTheInterfacesRanges) {
  struct Case {
    std::uint32_t baud;
    std::uint8_t dataBits, parity, stopBits, flowControl;
    HID_UART_STATUS status;
  };
  const Case cases[] = {
      {HID_UART_MIN_BAUD_RATE, 0, 4, 1, 1, HID_UART_SUCCESS},
      {HID_UART_MAX_BAUD_RATE, 3, 0, 0, 0, HID_UART_SUCCESS},
      {HID_UART_MIN_BAUD_RATE - 1, 3, 0, 0, 0, HID_UART_INVALID_PARAMETER},
      {HID_UART_MAX_BAUD_RATE + 1, 3, 0, 0, 0, HID_UART_INVALID_PARAMETER},
      {9600, HID_UART_EIGHT_DATA_BITS + 1, 0, 0, 0, HID_UART_INVALID_PARAMETER},
      {9600, 3, HID_UART_SPACE_PARITY + 1, 0, 0, HID_UART_INVALID_PARAMETER},
      {9600, 3, 0, HID_UART_LONG_STOP_BIT + 1, 0, HID_UART_INVALID_PARAMETER},
      {9600, 3, 0, 0, HID_UART_RTS_CTS_FLOW_CONTROL + 1, HID_UART_INVALID_PARAMETER},
  };
  Use("bridge \"S1\"\n");
  const HID_UART_DEVICE device = OpenAt(0);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.baud << " " << +c.dataBits << " " << +c.parity << " "
                                    << +c.stopBits << " " << +c.flowControl);
    ASSERT_EQ(SetUartConfig(device, 4800, 3, 0, 0, 0), HID_UART_SUCCESS);
    EXPECT_EQ(SetUartConfig(device, c.baud, c.dataBits, c.parity, c.stopBits, c.flowControl),
              c.status);
    std::uint32_t baud = 0;
    std::uint8_t data = 9, parity = 9, stop = 9, flow = 9;
    ASSERT_EQ(GetUartConfig(device, &baud, &data, &parity, &stop, &flow), HID_UART_SUCCESS);
    EXPECT_EQ(baud, c.status == HID_UART_SUCCESS ? c.baud : 4800u);
  }
}

TEST_F(Operations, FailuresOnEveryOrOnTheNthCall) {
  Use(R"(fail get-num-devices 0x01 call 2
fail get-hid-library-version -1
bridge "S1"
  fail get-string 0x100 call 2
  fail open 0x15
bridge "S2"
)");
  std::uint32_t count = 99;
  EXPECT_EQ(GetNumDevices(&count, 0, 0), HID_UART_SUCCESS);
  count = 99;
  EXPECT_EQ(GetNumDevices(&count, 0, 0), 0x01);
  EXPECT_EQ(count, 99u);
  EXPECT_EQ(Count(), 2u);
  std::uint8_t major = 7, minor = 7;
  HID_UART_BOOL release = 7;
  EXPECT_EQ(GetHidLibraryVersion(&major, &minor, &release), -1);
  EXPECT_EQ(major + minor + release, 21);
  // Calls are counted per bridge: S2's string calls do not move S1's count.
  EXPECT_EQ(StringAt(1), "S2");
  EXPECT_EQ(StringAt(0), "S1");
  EXPECT_EQ(StringAt(0), "status 256");
  EXPECT_EQ(StringAt(0), "S1");
  HID_UART_DEVICE device = nullptr;
  EXPECT_EQ(Open(&device, 0, 0, 0), 0x15);
  EXPECT_EQ(Open(&device, 0, 0, 0), 0x15);
  EXPECT_EQ(Open(&device, 1, 0, 0), HID_UART_SUCCESS);
}

TEST_F(Operations, HandlesAreCheckedAndClosedOnce) {
  Use("bridge \"S1\"\n  frame at 0 01 02\n");
  const HID_UART_DEVICE first = OpenAt(0);
  const HID_UART_DEVICE second = OpenAt(0);
  EXPECT_NE(first, second);
  EXPECT_EQ(ReadFrom(second, 1).bytes, Bytes{1});
  EXPECT_EQ(ReadFrom(first, 1).bytes, Bytes{2});  // one line, shared by its handles
  EXPECT_EQ(Close(first), HID_UART_SUCCESS);
  EXPECT_EQ(Close(first), HID_UART_INVALID_HANDLE);
  const ReadResult closed = ReadFrom(first, 4);
  EXPECT_EQ(closed.status, HID_UART_INVALID_HANDLE);
  EXPECT_EQ(closed.count, 0u);
  EXPECT_EQ(SetTimeouts(nullptr, 1, 1), HID_UART_INVALID_HANDLE);
  std::uint8_t part = 0, version = 0;
  EXPECT_EQ(GetPartNumber(second, &part, &version), HID_UART_SUCCESS);
}

TEST_F(Operations, UnplugShiftsIndexesAndFailsOpenHandles) {
  Use(R"(bridge "A"
  unplug after get-string 2
bridge "B"
bridge "C"
  attach after get-num-devices 1
)");
  EXPECT_EQ(Count(), 2u);  // C appears only after this count
  const HID_UART_DEVICE a = OpenAt(0);
  EXPECT_EQ(StringAt(0), "A");
  EXPECT_EQ(Count(), 3u);
  EXPECT_EQ(StringAt(0), "A");  // the second fetch unplugs A right after it
  EXPECT_EQ(Count(), 2u);
  EXPECT_EQ(StringAt(0), "B");
  EXPECT_EQ(StringAt(1), "C");
  EXPECT_EQ(StringAt(2), "status 1");
  HID_UART_DEVICE device = nullptr;
  EXPECT_EQ(Open(&device, 2, 0, 0), HID_UART_DEVICE_NOT_FOUND);
  const ReadResult read = ReadFrom(a, 10);
  EXPECT_EQ(read.status, HID_UART_DEVICE_IO_FAILED);
  EXPECT_EQ(read.count, 0u);
  EXPECT_EQ(SetUartConfig(a, 9600, 3, 0, 0, 0), HID_UART_DEVICE_IO_FAILED);
}

TEST_F(Operations, BridgesAttachAtTheirTimeAndOneSerialComesBack) {
  Use(R"(bridge "R"
  unplug after read 1
bridge "N"
  attach at 0.05
bridge "R"
  attach at 0.1
  frame at 0 42
)");
  EXPECT_EQ(Count(), 1u);
  const HID_UART_DEVICE first = OpenAt(0, 1);
  EXPECT_EQ(ReadFrom(first, 1).status, HID_UART_READ_TIMED_OUT);
  EXPECT_EQ(Count(), 0u);
  std::this_thread::sleep_for(milliseconds(60));
  EXPECT_EQ(Count(), 1u);
  EXPECT_EQ(StringAt(0), "N");
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_EQ(StringAt(1), "R");
  EXPECT_EQ(StringAt(1, HID_UART_GET_PATH_STR), "sim:bridge/2");
  // The bridge plugged in again has a line of its own, from its own open.
  const HID_UART_DEVICE again = OpenAt(1, 1000);
  EXPECT_EQ(ReadFrom(again, 1).bytes, Bytes{0x42});
  EXPECT_EQ(ReadFrom(first, 1).status, HID_UART_DEVICE_IO_FAILED);
}

TEST_F(Operations, ReadsReturnWhenFilledOrAtTheTimeout) {
  Use(R"(bridge "S1"
  frame at 0 01 02 03 04 05
  frame at 0.5 06 07
  unplug when-drained
)");
  const HID_UART_DEVICE device = OpenAt(0, 30);
  const ReadResult filled = ReadFrom(device, 3);
  EXPECT_EQ(filled.status, HID_UART_SUCCESS);
  EXPECT_EQ(filled.bytes, (Bytes{1, 2, 3}));
  // The frame at 0.5 s has not arrived: the rest of the first comes alone.
  const auto start = std::chrono::steady_clock::now();
  const ReadResult partial = ReadFrom(device, 100);
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(30));
  EXPECT_EQ(partial.status, HID_UART_READ_TIMED_OUT);
  EXPECT_EQ(partial.bytes, (Bytes{4, 5}));
  EXPECT_EQ(SetTimeouts(device, 5000, 0), HID_UART_SUCCESS);
  const ReadResult waited = ReadFrom(device, 2);
  EXPECT_EQ(waited.status, HID_UART_SUCCESS);
  EXPECT_EQ(waited.bytes, (Bytes{6, 7}));
  // Drained: the bridge is gone.
  EXPECT_EQ(ReadFrom(device, 2).status, HID_UART_DEVICE_IO_FAILED);
  EXPECT_EQ(Count(), 0u);
}

TEST_F(Operations, ATagSplitAcrossTwoReadsComesWholeAndInOrder) {
  // Tag 0's bytes are the generator's first five; tag 1 is 5 s later.
  Use("bridge \"S1\"\n  tags at 0.01 count 2 bytes 5 spacing 5 5 seed 3\n");
  const HID_UART_DEVICE device = OpenAt(0, 5000);
  ASSERT_EQ(SetUartConfig(device, 9600, HID_UART_EIGHT_DATA_BITS, 0, 0, 0), HID_UART_SUCCESS);
  const Bytes tag = StreamBytes(3, 5);
  // Filled as soon as the fourth byte is in, long before the time-out.
  const ReadResult head = ReadFrom(device, 4);
  EXPECT_EQ(head.status, HID_UART_SUCCESS);
  EXPECT_EQ(head.bytes, Bytes(tag.begin(), tag.begin() + 4));
  // At its time-out a read has exactly what arrived: the tag's last byte.
  ASSERT_EQ(SetTimeouts(device, 100, 0), HID_UART_SUCCESS);
  const ReadResult tail = ReadFrom(device, 1000);
  EXPECT_EQ(tail.status, HID_UART_READ_TIMED_OUT);
  EXPECT_EQ(tail.bytes, Bytes{tag[4]});
}

TEST_F(Operations, QuietLineTimesOutAndUnplugEndsAWaitingRead) {
  Use("bridge \"S1\"\n  unplug at 0.2\n");
  const HID_UART_DEVICE device = OpenAt(0, 40);
  const auto start = std::chrono::steady_clock::now();
  const ReadResult quiet = ReadFrom(device, 1000);
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(40));
  EXPECT_EQ(quiet.status, HID_UART_READ_TIMED_OUT);
  EXPECT_EQ(quiet.count, 0u);
  EXPECT_EQ(SetTimeouts(device, 60000, 0), HID_UART_SUCCESS);
  const ReadResult unplugged = ReadFrom(device, 1000);
  EXPECT_EQ(unplugged.status, HID_UART_DEVICE_IO_FAILED);
  EXPECT_EQ(unplugged.count, 0u);
}

TEST_F(Operations, StreamsDeliverTheGeneratedBytesInOrder) {
  Use("bridge \"S1\"\n  stream at 0 rate 0 bytes 2500 seed 7\n  unplug when-drained\n");
  const HID_UART_DEVICE device = OpenAt(0, 20);
  Bytes all;
  for (int i = 0; i < 3; ++i) {
    const ReadResult read = ReadFrom(device, 1000);
    EXPECT_EQ(read.status, i < 2 ? HID_UART_SUCCESS : HID_UART_READ_TIMED_OUT);
    all.insert(all.end(), read.bytes.begin(), read.bytes.end());
  }
  EXPECT_EQ(all, StreamBytes(7, 2500));
}

TEST_F(Operations, HostileReadsAndStrings) {
  const std::string longText(300, 'M');
  const std::string scenario =
      "bridge \"S\\x00hidden\"\n  manufacturer \"" + longText + "\"\n  product \"" +
      std::string(259, 'P') +
      "\"\n  frame at 0 instant 0A 0B\n  frame at 0 instant 0C\n  read-count 5000\n"
      "  fail read 0x10 call 1\n";
  Use(scenario.c_str());
  EXPECT_EQ(StringAt(0), std::string("S"));
  const HID_UART_DEVICE device = OpenAt(0, 20);
  char text[HID_UART_DEVICE_STRLEN + 1];
  text[HID_UART_DEVICE_STRLEN] = 'Z';
  EXPECT_EQ(GetOpenedString(device, text, HID_UART_GET_MANUFACTURER_STR), HID_UART_SUCCESS);
  EXPECT_EQ(std::string(text, HID_UART_DEVICE_STRLEN), longText.substr(0, 260));
  EXPECT_EQ(text[HID_UART_DEVICE_STRLEN], 'Z');
  EXPECT_EQ(GetOpenedString(device, text, HID_UART_GET_PRODUCT_STR), HID_UART_SUCCESS);
  EXPECT_EQ(std::string(text), std::string(259, 'P'));
  // A read told to fail still hands over what had arrived, with a false count.
  const ReadResult failed = ReadFrom(device, 2);
  EXPECT_EQ(failed.status, 0x10);
  EXPECT_EQ(failed.count, 5000u);
  EXPECT_EQ(failed.bytes, (Bytes{0x0A, 0x0B}));
  const ReadResult rest = ReadFrom(device, 2);
  EXPECT_EQ(rest.status, HID_UART_READ_TIMED_OUT);
  EXPECT_EQ(rest.count, 5000u);
  EXPECT_EQ(rest.bytes, (Bytes{0x0C, 0xEE}));  // one byte placed, the rest untouched
}

TEST_F(Operations, CallLogRecordsArgumentsAndResults) {
  const std::string log = ::testing::TempDir() + "simulated_bridge_call.log";
  std::remove(log.c_str());
  Use("bridge \"S\\\"1\\x01\"\n  frame at 0 12 9A\n", log);
  std::uint32_t count = 0;
  GetNumDevices(&count, 0x10C4, 0);
  StringAt(0);
  const HID_UART_DEVICE device = OpenAt(0, 10);
  SetUartConfig(device, 9600, 3, 0, 0, 0);
  ReadFrom(device, 1000);
  Close(device);
  Close(device);
  GetNumDevices(nullptr, 0, 0);
  ResetToEnvironment();  // closes the log
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(),
            "HidUart_GetNumDevices vid=0x10C4 pid=0x0000 -> 0x00 numDevices=1\n"
            "HidUart_GetString deviceNum=0 vid=0x0000 pid=0x0000 options=4 -> 0x00 "
            "deviceString=\"S\\\"1\\x01\"\n"
            "HidUart_Open deviceNum=0 vid=0x0000 pid=0x0000 -> 0x00 handle=1\n"
            "HidUart_SetTimeouts handle=1 readTimeout=10 writeTimeout=0 -> 0x00\n"
            "HidUart_SetUartConfig handle=1 baud=9600 dataBits=3 parity=0 stopBits=0 "
            "flowControl=0 -> 0x00\n"
            "HidUart_Read handle=1 numBytesToRead=1000 -> 0x12 numBytesRead=2 data=129A\n"
            "HidUart_Close handle=1 -> 0x00\n"
            "HidUart_Close handle=?0x5110 -> 0x02\n"
            "HidUart_GetNumDevices numDevices=null vid=0x0000 pid=0x0000 -> 0x04\n");
}

// The threading contract, checked from the caller's side: a call made while
// one it may not overlap has not returned is written to the log, however the
// lock would have ordered them. The first call is made on a thread of its
// own and lasts half a second (a read waiting for its time-out, or a slow
// listing); the second is made 100 ms into it.
TEST_F(Operations, CallLogFlagsCallsThatBreakTheThreadingContract) {
  enum class Call { ReadA, ReadB, CloseA, Count, SerialString, OpenB };
  struct Case {
    const char* name;
    Call first, second;
    const char* flagged;  // the log's line, or "" when the two may overlap
  };
  const Case cases[] = {
      {"a close while a read of the handle waits", Call::ReadA, Call::CloseA,
       "CONTRACT BROKEN: HidUart_Close on a handle while HidUart_Read on it has not returned"},
      {"two reads of one handle", Call::ReadA, Call::ReadA,
       "CONTRACT BROKEN: HidUart_Read on a handle while HidUart_Read on it has not returned"},
      {"a string fetched while the bridges are counted", Call::Count, Call::SerialString,
       "CONTRACT BROKEN: HidUart_GetString while HidUart_GetNumDevices has not returned"},
      {"an open while the bridges are counted", Call::Count, Call::OpenB,
       "CONTRACT BROKEN: HidUart_Open while HidUart_GetNumDevices has not returned"},
      {"reads of two handles may overlap", Call::ReadA, Call::ReadB, ""},
      {"a listing may overlap a read", Call::ReadA, Call::Count, ""},
  };
  const std::string log = ::testing::TempDir() + "simulated_bridge_contract.log";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(log.c_str());
    Use(c.first == Call::Count ? "listing-takes 0.5\nbridge \"A\"\nbridge \"B\"\n"
                               : "bridge \"A\"\nbridge \"B\"\n",
        log);
    HID_UART_DEVICE a = nullptr;
    ASSERT_EQ(Open(&a, 0, 0, 0), HID_UART_SUCCESS);
    ASSERT_EQ(SetTimeouts(a, 500, 0), HID_UART_SUCCESS);
    HID_UART_DEVICE b = nullptr;
    if (c.second == Call::ReadB) {
      ASSERT_EQ(Open(&b, 1, 0, 0), HID_UART_SUCCESS);
      ASSERT_EQ(SetTimeouts(b, 10, 0), HID_UART_SUCCESS);
    }
    const auto make = [&](Call call) {
      std::uint8_t byte = 0;
      std::uint32_t count = 0;
      char text[HID_UART_DEVICE_STRLEN] = {};
      switch (call) {
        case Call::ReadA:
          Read(a, &byte, 1, &count);
          break;
        case Call::ReadB:
          Read(b, &byte, 1, &count);
          break;
        case Call::CloseA:
          Close(a);
          break;
        case Call::Count:
          GetNumDevices(&count, 0, 0);
          break;
        case Call::SerialString:
          GetString(0, 0, 0, text, HID_UART_GET_SERIAL_STR);
          break;
        case Call::OpenB:
          Open(&b, 1, 0, 0);
          break;
      }
    };
    std::thread first([&] { make(c.first); });
    std::this_thread::sleep_for(milliseconds(100));
    make(c.second);
    first.join();
    Close(a);
    if (b != nullptr) Close(b);
    ResetToEnvironment();  // closes the log
    std::ifstream in(log);
    std::string flagged;
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("CONTRACT", 0) == 0) flagged += line;
    }
    EXPECT_EQ(flagged, c.flagged);
  }
}

TEST_F(Operations, BrokenScenarioFileMeansNoBridges) {
  const std::string path = ::testing::TempDir() + "simulated_bridge_broken.scenario";
  std::ofstream(path) << "bridge \"S1\"\n  franme at 1 00\n";
#if defined(_WIN32)
  _putenv_s(kScenarioVariable, path.c_str());
#else
  setenv(kScenarioVariable, path.c_str(), 1);
#endif
  ResetToEnvironment();
  ::testing::internal::CaptureStderr();
  const std::uint32_t count = Count();
  const std::string error = ::testing::internal::GetCapturedStderr();
#if defined(_WIN32)
  _putenv_s(kScenarioVariable, "");
#else
  unsetenv(kScenarioVariable);
#endif
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(error, "simulated bridge: " + path + ":2: unknown directive \"franme\"\n");
}

}  // namespace
}  // namespace sim
