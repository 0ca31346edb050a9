// SPDX-License-Identifier: Apache-2.0
#include "output/reader_names.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <utility>

#include "output/events.h"

namespace {

TEST(ReaderNames, AFileOfSerialsAndNamesOrTheLineThatIsWrong) {
  struct NamesCase {
    const char* name;
    std::string text;
    ReaderNames names;    // when it is taken
    const char* problem;  // the start of the message when it is not
  };
  const NamesCase cases[] = {
      {"empty", "", {}, nullptr},
      {"comments and blank lines", "# readers\n\n   \t\n  # indented comment\n", {}, nullptr},
      {"a name with spaces, blanks around dropped",
       "R1 North door\nR2\t\tLoading  bay \t\n",
       {{"R1", "North door"}, {"R2", "Loading  bay"}},
       nullptr},
      {"a byte order mark from a Windows editor",
       "\xEF\xBB\xBF#names\nR1 North\n",
       {{"R1", "North"}},
       nullptr},
      {"CR LF and no last line end",
       "R1 North\r\nR2 South",
       {{"R1", "North"}, {"R2", "South"}},
       nullptr},
      {"a quoted serial string with a space, a quote, a backslash and a control byte",
       R"("SIM 1" One)"
       "\n"
       R"("A\"B\\C\x01\x7f" Two)"
       "\n",
       {{"SIM 1", "One"}, {"A\"B\\C\x01\x7f", "Two"}},
       nullptr},
      {"a name may repeat; a serial string may not",
       "R1 Door\nR2 Door\n",
       {{"R1", "Door"}, {"R2", "Door"}},
       nullptr},
      {"a '#' inside a name is kept", "R1 Gate #2\n", {{"R1", "Gate #2"}}, nullptr},
      {"named twice",
       "R1 North\n# again:\nR1 South\n",
       {},
       "line 3: the serial string is named on line 1"},
      {"named twice, once quoted",
       "R1 North\n\"R1\" South\n",
       {},
       "line 2: the serial string is named"},
      {"no name", "R1\n", {}, "line 1: no name"},
      {"no name after blanks", "R1  \t\n", {}, "line 1: no name"},
      {"an unclosed quote", "\"R1 North\n", {}, "line 1: the serial string's quote is not closed"},
      {"a quote not followed by a blank",
       "\"R1\"North\n",
       {},
       "line 1: the serial string's closing"},
      {"an unknown escape", "\"R\\n1\" North\n", {}, "line 1: unknown escape"},
      {"a short hex escape", "\"R\\x1\" North\n", {}, "line 1: unknown escape"},
      {"an empty quoted serial", "\"\" North\n", {}, "line 1: an empty serial string"},
      {"a control byte in a bare serial",
       "R\x01 North\n",
       {},
       "line 1: a control byte in the serial"},
      {"a control byte in a name", "R1 North\x1B[2J\n", {}, "line 1: a control byte in the name"},
      {"a NUL", std::string("R1 No\0rth\n", 10), {}, "line 1: a NUL byte"},
      {"a name too long",
       "R1 " + std::string(kLongestReaderName + 1, 'n') + "\n",
       {},
       "line 1: the name is longer"},
      {"a serial string too long",
       std::string(HID_UART_DEVICE_STRLEN, 's') + " Name\n",
       {},
       "line 1: the serial string is longer"},
  };
  for (const NamesCase& c : cases) {
    SCOPED_TRACE(c.name);
    ReaderNames names{{"left", "as it was"}};
    std::string problem;
    const bool taken = ParseReaderNames(c.text, names, problem);
    EXPECT_EQ(taken, c.problem == nullptr) << problem;
    if (taken) {
      EXPECT_EQ(names, c.names);
    } else {
      EXPECT_EQ(problem.rfind(c.problem, 0), 0u) << problem;
      EXPECT_EQ(names, (ReaderNames{{"left", "as it was"}}));
    }
  }
}

// What a reader's lines look like with names and with one line per event,
// with the time of each line put as "T".
TEST(ReaderNames, NamedReadersInTheHumanLines) {
  ReaderNames names;
  std::string problem;
  ASSERT_TRUE(ParseReaderNames("R1 North door\n\"C\\x01D\" Control room\n", names, problem));
  UseReaderNames(std::move(names));
  BridgeIdentity device{};
  device.partNumber = 10;
  device.version = 1;
  std::strcpy(device.vendorIdText, "10C4");
  std::strcpy(device.productIdText, "EA80");
  std::strcpy(device.path, "p/0");
  std::strcpy(device.manufacturer, "M");
  std::strcpy(device.product, "P");
  const uint8_t tag[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
  const auto when = std::chrono::system_clock::now();
  struct LineCase {
    const char* name;
    bool oneLine;
    std::function<void()> emit;
    std::string lines;
  };
  const LineCase cases[] = {
      {"a block of a named reader", false,
       [&] {
         EmitBlock({"R1", tag, 5, when, false});
       },
       ">>>[DATA FROM R1 (North door), 5 BYTE]\n  0x123456789A\n  HEX (64-bit): 000000123456789A\n"
       "  Decimal (10 Digits): 0001193046\n<<<\n"},
      {"a block of a reader the file does not name", false,
       [&] {
         EmitBlock({"R9", tag, 5, when, false});
       },
       ">>>[DATA FROM R9, 5 BYTE]\n  0x123456789A\n  HEX (64-bit): 000000123456789A\n"
       "  Decimal (10 Digits): 0001193046\n<<<\n"},
      {"a control byte shown escaped, the name beside it", false,
       [] {
         EmitDisconnected(
             "C\x01"
             "D",
             HID_UART_DEVICE_IO_FAILED);
       },
       "Disconnected from C\\x01D (Control room): Device I/O failed\n"},
      {"a block on one line", true,
       [&] {
         EmitBlock({"R1", tag, 5, when, false});
       },
       "T >>>[DATA FROM R1 (North door), 5 BYTE] 0x123456789A HEX (64-bit): 000000123456789A "
       "Decimal (10 Digits): 0001193046\n"},
      {"a connection on one line", true, [&] { EmitConnected("R1", device); },
       "T Connected to R1 (North door): Vendor ID = 10C4, Product ID = EA80, Part Number = 10, "
       "Version = 1, Path = p/0, Manufacturer = M, Product = P\n"},
      {"silence and its end", true,
       [] {
         EmitSilence("R1", std::chrono::seconds(600), true);
         EmitSilence("R1", std::chrono::seconds(615), false);
       },
       "T Silent: R1 (North door) for 600 s\nT Delivering again: R1 (North door) after 615 s "
       "silent\n"},
      {"a shared serial string", true, [] { EmitSharedSerial("R1", 2); },
       "T Not read: R1 (North door): 2 bridges share this serial string; only the first listed "
       "is read\n"},
  };
  const std::regex stamp(R"re((^|\n)\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d )re");
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetOneLinePerEvent(c.oneLine);
    testing::internal::CaptureStdout();
    c.emit();
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::regex_replace(printed, stamp, "$1T "), c.lines);
  }
  SetOneLinePerEvent(false);
  ForgetReaderNames();
}

}  // namespace
