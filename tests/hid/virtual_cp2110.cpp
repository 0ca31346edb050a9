// SPDX-License-Identifier: Apache-2.0
// A virtual CP2110 bridge for tests, made through Linux's uhid: the kernel
// shows it as a hidraw node exactly as it shows a USB bridge.
//
// It answers the chip's feature reports, keeps the UART setting that was
// written, sends UART data as data reports when its scenario says, records
// every request in a log, and unplugs when the scenario ends (or when it is
// killed: the device lives only while /dev/uhid stays open).
//
// Usage: virtual_cp2110 --serial S [--name N] [--readback-baud B]
//                       [--log FILE] [--log-times] [--record FILE]
//                       [--tag-log FILE] STEP...
// Steps, run in order:
//   wait-open          wait until the host enables the UART once more (at most
//                      300 s: a loaded machine may take long to start the host)
//   sleep MS           keep answering requests for MS milliseconds
//   frame HEX          send these bytes (as few reports as fit)
//   stream N RATE MAX  send N pseudo-random bytes at RATE bytes/s at most, in
//                      reports of 1 to MAX data bytes
//   tags N B MIN MAX SEED
//                      send N tags of B bytes, each byte in a report of its own
//                      one character time after the one before (at the setting
//                      the host wrote), the first bytes of consecutive tags MIN
//                      to MAX ms apart; bytes and spacings from xorshift32
//                      (state ^= state << 13; state ^= state >> 17;
//                      state ^= state << 5) started at SEED: each byte is the
//                      low 8 bits of one step, then one more step u gives the
//                      spacing MIN + u * (MAX - MIN + 1) / 2^32 ms (rounded
//                      down, in microseconds); with --tag-log each tag is
//                      written there as one line of upper-case hex
//   unplug             remove the device and end
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t kVendorId = 0x10C4;
constexpr uint16_t kProductId = 0xEA80;
constexpr uint8_t kPartNumber = 0x0A;
constexpr uint8_t kDeviceVersion = 0x01;
constexpr uint8_t kMaxDataBytes = 63;

struct Options {
  std::string serial = "0001";
  std::string name = "CP2110 HID USB-to-UART Bridge";
  long readbackBaud = -1;  // -1: read back what was written
  std::string logPath;
  std::string recordPath;
  std::string tagLogPath;
  bool logTimes = false;
  std::vector<std::string> steps;
};

struct Device {
  int fd = -1;
  bool uartEnabled = false;
  int timesEnabled = 0;  // a host may enable and disable between two looks
  // Baud rate, parity, flow control, data bits, stop bits, as in report 0x50.
  uint8_t config[8] = {0x00, 0x01, 0xC2, 0x00, 0, 0, 3, 0};  // 115200 8N1
  FILE* log = nullptr;
  bool logTimes = false;  // each log line starts with the wall-clock time
  FILE* record = nullptr;
};

void Log(Device& device, const char* format, ...) __attribute__((format(printf, 2, 3)));

void Log(Device& device, const char* format, ...) {
  if (device.log == nullptr) {
    return;
  }
  if (device.logTimes) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::fprintf(device.log, "%lld.%06ld ", static_cast<long long>(now.tv_sec), now.tv_nsec / 1000);
  }
  va_list args;
  va_start(args, format);
  std::vfprintf(device.log, format, args);
  va_end(args);
  std::fputc('\n', device.log);
  std::fflush(device.log);
}

bool Write(const Device& device, const uhid_event& event) {
  return write(device.fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

// Vendor-defined descriptor: data reports 1..63 in both directions, each ID
// carrying that many bytes, and the feature reports the host uses.
std::vector<uint8_t> ReportDescriptor() {
  std::vector<uint8_t> d = {0x06, 0x00, 0xFF,   // usage page (vendor)
                            0x09, 0x01,         // usage
                            0xA1, 0x01,         // collection (application)
                            0x75, 0x08,         // report size 8
                            0x15, 0x00,         // logical minimum 0
                            0x26, 0xFF, 0x00};  // logical maximum 255
  for (uint8_t id = 1; id <= kMaxDataBytes; ++id) {
    d.insert(d.end(), {0x85, id, 0x95, id, 0x09, 0x01, 0x81, 0x02, 0x09, 0x01, 0x91, 0x02});
  }
  const uint8_t features[][2] = {{0x41, 1}, {0x43, 1}, {0x46, 2}, {0x50, 8}};
  for (const auto& feature : features) {
    d.insert(d.end(), {0x85, feature[0], 0x95, feature[1], 0x09, 0x01, 0xB1, 0x02});
  }
  d.push_back(0xC0);
  return d;
}

bool Create(Device& device, const Options& options) {
  uhid_event event{};
  event.type = UHID_CREATE2;
  auto& create = event.u.create2;
  std::snprintf(reinterpret_cast<char*>(create.name), sizeof create.name, "%s",
                options.name.c_str());
  std::snprintf(reinterpret_cast<char*>(create.phys), sizeof create.phys, "virtual-cp2110/%s",
                options.serial.c_str());
  std::snprintf(reinterpret_cast<char*>(create.uniq), sizeof create.uniq, "%s",
                options.serial.c_str());
  const std::vector<uint8_t> descriptor = ReportDescriptor();
  create.rd_size = static_cast<uint16_t>(descriptor.size());
  std::memcpy(create.rd_data, descriptor.data(), descriptor.size());
  create.bus = 0x03;  // USB
  create.vendor = kVendorId;
  create.product = kProductId;
  create.version = kDeviceVersion;
  return Write(device, event);
}

void AnswerGet(Device& device, const uhid_event& request) {
  uhid_event reply{};
  reply.type = UHID_GET_REPORT_REPLY;
  auto& answer = reply.u.get_report_reply;
  answer.id = request.u.get_report.id;
  const uint8_t rnum = request.u.get_report.rnum;
  // The reply is copied to the host from its first byte, so the ID leads.
  answer.data[0] = rnum;
  switch (rnum) {
    case 0x41:
      Log(device, "get uart-enable");
      answer.data[1] = device.uartEnabled ? 1 : 0;
      answer.size = 2;
      break;
    case 0x46:
      Log(device, "get version");
      answer.data[1] = kPartNumber;
      answer.data[2] = kDeviceVersion;
      answer.size = 3;
      break;
    case 0x50: {
      Log(device, "get config");
      std::memcpy(answer.data + 1, device.config, sizeof device.config);
      answer.size = 1 + sizeof device.config;
      break;
    }
    default:
      Log(device, "get %02X refused", rnum);
      answer.err = 5;  // EIO
      break;
  }
  Write(device, reply);
}

void AnswerSet(Device& device, const Options& options, const uhid_event& request) {
  const auto& set = request.u.set_report;
  uhid_event reply{};
  reply.type = UHID_SET_REPORT_REPLY;
  reply.u.set_report_reply.id = set.id;
  // The data arrives with the report ID as its first byte.
  const uint8_t* data = set.data + 1;
  const size_t size = set.size > 0 ? set.size - 1u : 0u;
  if (set.rnum == 0x41 && size >= 1) {
    device.uartEnabled = data[0] != 0;
    device.timesEnabled += device.uartEnabled ? 1 : 0;
    Log(device, "set uart-enable %u", data[0]);
  } else if (set.rnum == 0x43 && size >= 1) {
    Log(device, "set purge %u", data[0]);
  } else if (set.rnum == 0x50 && size >= 8) {
    std::memcpy(device.config, data, 8);
    const uint32_t baud = static_cast<uint32_t>(data[0]) << 24 |
                          static_cast<uint32_t>(data[1]) << 16 |
                          static_cast<uint32_t>(data[2]) << 8 | data[3];
    Log(device, "set config baud=%u parity=%u flow=%u data=%u stop=%u", baud, data[4], data[5],
        data[6], data[7]);
    // A bridge that cannot keep the rate reads back another one.
    if (options.readbackBaud >= 0) {
      const auto other = static_cast<uint32_t>(options.readbackBaud);
      device.config[0] = static_cast<uint8_t>(other >> 24);
      device.config[1] = static_cast<uint8_t>(other >> 16);
      device.config[2] = static_cast<uint8_t>(other >> 8);
      device.config[3] = static_cast<uint8_t>(other);
    }
  } else {
    Log(device, "set %02X refused", set.rnum);
    reply.u.set_report_reply.err = 5;  // EIO
  }
  Write(device, reply);
}

// Answers the host's requests until the deadline; false when uhid fails.
bool Pump(Device& device, const Options& options, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::max(Clock::duration::zero(), deadline - Clock::now());
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    const timespec wait{static_cast<time_t>(seconds.count()),
                        static_cast<long>(std::chrono::nanoseconds(left - seconds).count())};
    pollfd pfd{device.fd, POLLIN, 0};
    const int ready = ppoll(&pfd, 1, &wait, nullptr);
    if (ready < 0) {
      return false;
    }
    if (ready == 0) {
      return true;
    }
    uhid_event event{};
    if (read(device.fd, &event, sizeof event) <= 0) {
      return false;
    }
    switch (event.type) {
      case UHID_OPEN:
        Log(device, "open");
        break;
      case UHID_CLOSE:
        Log(device, "close");
        break;
      case UHID_GET_REPORT:
        AnswerGet(device, event);
        break;
      case UHID_SET_REPORT:
        AnswerSet(device, options, event);
        break;
      case UHID_OUTPUT:
        Log(device, "output %u bytes", event.u.output.size);
        break;
      default:
        break;
    }
  }
}

bool SendData(Device& device, const uint8_t* bytes, size_t size) {
  uhid_event event{};
  event.type = UHID_INPUT2;
  event.u.input2.data[0] = static_cast<uint8_t>(size);
  std::memcpy(event.u.input2.data + 1, bytes, size);
  event.u.input2.size = static_cast<uint16_t>(size + 1);
  if (!Write(device, event)) {
    return false;
  }
  if (device.record != nullptr) {
    std::fwrite(bytes, 1, size, device.record);
    std::fflush(device.record);
  }
  return true;
}

bool ParseHex(const std::string& text, std::vector<uint8_t>* bytes) {
  if (text.size() % 2 != 0) {
    return false;
  }
  for (size_t i = 0; i < text.size(); i += 2) {
    char* end = nullptr;
    const std::string pair = text.substr(i, 2);
    const long value = std::strtol(pair.c_str(), &end, 16);
    if (*end != '\0') {
      return false;
    }
    bytes->push_back(static_cast<uint8_t>(value));
  }
  return true;
}

bool Frame(Device& device, const std::string& hex) {
  std::vector<uint8_t> bytes;
  if (!ParseHex(hex, &bytes)) {
    std::fprintf(stderr, "bad frame: %s\n", hex.c_str());
    return false;
  }
  for (size_t sent = 0; sent < bytes.size(); sent += kMaxDataBytes) {
    const size_t n = std::min<size_t>(kMaxDataBytes, bytes.size() - sent);
    if (!SendData(device, bytes.data() + sent, n)) {
      return false;
    }
  }
  Log(device, "sent %zu bytes", bytes.size());
  return true;
}

bool Stream(Device& device, const Options& options, long total, long rate, long maxReport) {
  if (total < 0 || rate <= 0 || maxReport < 1 || maxReport > kMaxDataBytes) {
    std::fprintf(stderr, "bad stream\n");
    return false;
  }
  const auto start = Clock::now();
  uint32_t state = 12345;
  uint8_t report[kMaxDataBytes];
  long sent = 0;
  Clock::time_point due = start;
  for (long k = 0; sent < total; ++k) {
    // Sizes vary so that reports straddle every read boundary sooner or later.
    const long size = std::min(total - sent, 1 + (k * 37) % maxReport);
    for (long i = 0; i < size; ++i) {
      state = state * 1103515245u + 12345u;
      report[i] = static_cast<uint8_t>(state >> 16);
    }
    if (!Pump(device, options, due) || !SendData(device, report, static_cast<size_t>(size))) {
      return false;
    }
    sent += size;
    // Paced from the report just sent, never from the start: a UART cannot
    // send faster than its rate, so a stream held up by a busy machine goes
    // on at that rate instead of catching up in a burst.
    due = std::max(due, Clock::now()) + std::chrono::microseconds(size * 1000000LL / rate);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  Log(device, "sent %ld bytes", sent);
  std::fprintf(stderr, "virtual_cp2110 %s: streamed %ld bytes in %.2f s\n", options.serial.c_str(),
               sent, seconds);
  return true;
}

uint32_t Step(uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

// One character at the setting the host wrote (report 0x50): a start bit,
// 5 to 8 data bits, a parity bit unless none, 1 or 2 stop bits.
std::chrono::nanoseconds CharacterTime(const Device& device) {
  const uint32_t baud = static_cast<uint32_t>(device.config[0]) << 24 |
                        static_cast<uint32_t>(device.config[1]) << 16 |
                        static_cast<uint32_t>(device.config[2]) << 8 | device.config[3];
  const uint32_t bits = 1 + (5 + (device.config[6] & 3u)) + (device.config[4] != 0 ? 1 : 0) +
                        (device.config[7] != 0 ? 2 : 1);
  return std::chrono::nanoseconds(1000000000LL * bits / std::max<uint32_t>(baud, 1));
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

bool Tags(Device& device, const Options& options, long count, long bytes, long minMs, long maxMs,
          uint32_t seed) {
  if (count < 0 || bytes < 1 || bytes > 1000 || minMs < 0 || maxMs < minMs || seed == 0) {
    std::fprintf(stderr, "bad tags\n");
    return false;
  }
  FILE* tagLog = options.tagLogPath.empty() ? nullptr : std::fopen(options.tagLogPath.c_str(), "w");
  const std::chrono::nanoseconds character = CharacterTime(device);
  uint32_t state = seed;
  Clock::time_point start = Clock::now();
  Clock::time_point lastSent{};
  Clock::duration widestInside{};
  Clock::duration narrowestBetween = Clock::duration::max();
  for (long t = 0; t < count; ++t) {
    std::string hex;
    for (long k = 0; k < bytes; ++k) {
      const auto byte = static_cast<uint8_t>(Step(state) & 0xFF);
      // Paced by deadlines from the tag's start, so that no drift builds up.
      if (!Pump(device, options, start + k * character) || !SendData(device, &byte, 1)) {
        return false;
      }
      const Clock::time_point sent = Clock::now();
      if (k > 0) {
        widestInside = std::max(widestInside, sent - lastSent);
      } else if (t > 0) {
        narrowestBetween = std::min(narrowestBetween, sent - lastSent);
      }
      lastSent = sent;
      char digits[3];
      std::snprintf(digits, sizeof digits, "%02X", byte);
      hex += digits;
    }
    if (tagLog != nullptr) {
      std::fprintf(tagLog, "%s\n", hex.c_str());
      std::fflush(tagLog);
    }
    const uint64_t u = Step(state);
    const auto rangeUs = static_cast<uint64_t>(maxMs - minMs + 1) * 1000;
    const auto spacing =
        std::chrono::microseconds(minMs * 1000 + static_cast<long>((u * rangeUs) >> 32));
    start += std::max<Clock::duration>(spacing, bytes * character);
  }
  if (tagLog != nullptr) {
    std::fclose(tagLog);
  }
  Log(device, "sent %ld tags", count);
  std::fprintf(stderr,
               "virtual_cp2110 %s: sent %ld tags of %ld bytes; widest gap inside a tag %.2f ms, "
               "narrowest silence between tags %.2f ms\n",
               options.serial.c_str(), count, bytes, Ms(widestInside),
               count > 1 ? Ms(narrowestBetween) : 0.0);
  return true;
}

bool WaitOpen(Device& device, const Options& options) {
  const auto giveUp = Clock::now() + std::chrono::seconds(300);
  const int before = device.timesEnabled;
  while (device.timesEnabled == before) {
    if (Clock::now() >= giveUp ||
        !Pump(device, options, Clock::now() + std::chrono::milliseconds(50))) {
      return false;
    }
  }
  return true;
}

bool RunSteps(Device& device, const Options& options) {
  const std::vector<std::string>& s = options.steps;
  for (size_t i = 0; i < s.size(); ++i) {
    const size_t args = s.size() - i - 1;
    if (s[i] == "wait-open") {
      if (!WaitOpen(device, options)) {
        return false;
      }
    } else if (s[i] == "sleep" && args >= 1) {
      const long ms = std::atol(s[++i].c_str());
      if (!Pump(device, options, Clock::now() + std::chrono::milliseconds(ms))) {
        return false;
      }
    } else if (s[i] == "frame" && args >= 1) {
      if (!Frame(device, s[++i])) {
        return false;
      }
    } else if (s[i] == "stream" && args >= 3) {
      const long total = std::atol(s[i + 1].c_str());
      const long rate = std::atol(s[i + 2].c_str());
      const long maxReport = std::atol(s[i + 3].c_str());
      i += 3;
      if (!Stream(device, options, total, rate, maxReport)) {
        return false;
      }
    } else if (s[i] == "tags" && args >= 5) {
      const long count = std::atol(s[i + 1].c_str());
      const long bytes = std::atol(s[i + 2].c_str());
      const long minMs = std::atol(s[i + 3].c_str());
      const long maxMs = std::atol(s[i + 4].c_str());
      const auto seed = static_cast<uint32_t>(std::strtoul(s[i + 5].c_str(), nullptr, 10));
      i += 5;
      if (!Tags(device, options, count, bytes, minMs, maxMs, seed)) {
        return false;
      }
    } else if (s[i] == "unplug") {
      break;
    } else {
      std::fprintf(stderr, "bad step: %s\n", s[i].c_str());
      return false;
    }
  }
  return true;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--serial" && hasValue) {
      options->serial = argv[++i];
    } else if (arg == "--name" && hasValue) {
      options->name = argv[++i];
    } else if (arg == "--readback-baud" && hasValue) {
      options->readbackBaud = std::atol(argv[++i]);
    } else if (arg == "--log-times") {
      options->logTimes = true;
    } else if (arg == "--log" && hasValue) {
      options->logPath = argv[++i];
    } else if (arg == "--record" && hasValue) {
      options->recordPath = argv[++i];
    } else if (arg == "--tag-log" && hasValue) {
      options->tagLogPath = argv[++i];
    } else if (arg.rfind("--", 0) == 0) {
      return false;
    } else {
      options->steps.push_back(arg);
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: virtual_cp2110 --serial S [--name N] [--readback-baud B] "
                 "[--log FILE] [--log-times] [--record FILE] [--tag-log FILE] STEP...\n");
    return 2;
  }
  Device device;
  if (!options.logPath.empty()) {
    device.log = std::fopen(options.logPath.c_str(), "w");
    device.logTimes = options.logTimes;
  }
  if (!options.recordPath.empty()) {
    device.record = std::fopen(options.recordPath.c_str(), "wb");
  }
  device.fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
  if (device.fd < 0) {
    std::perror("virtual_cp2110: /dev/uhid");
    return 1;
  }
  if (!Create(device, options)) {
    std::perror("virtual_cp2110: create");
    return 1;
  }
  const bool ok = RunSteps(device, options);
  Log(device, "unplug");
  close(device.fd);
  return ok ? 0 : 1;
}
