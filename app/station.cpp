#include "station.h"

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "connection.h"
#include "device_text.h"
#include "hid_uart.h"
#include "output.h"
#include "status_text.h"
#include "sweep.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// What a connection sets; the station only shortens it.
constexpr milliseconds kLongestReadTimeout{200};
constexpr milliseconds kShortestReadTimeout{1};
constexpr uint32_t kWriteTimeoutMs = 2000;
// The longest sleep before the stop request is looked at again.
constexpr milliseconds kSleepSlice{100};

struct Watched {
  std::string serial;
  HID_UART_DEVICE handle;
  milliseconds readTimeout;
  // Connected again after its reads failed, and silent since.
  bool onProbation;
  // Kept from one read of this bridge to the next, as in the sweep.
  std::unique_ptr<uint8_t[]> buffer;
};

class Station {
 public:
  explicit Station(const StationOptions& options) : options_(options) {}
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  bool Stopping() const { return options_.stopRequested && options_.stopRequested(); }
  bool Idle() const { return watched_.empty(); }

  // Connects, in order, every serial string that is neither read nor held.
  void ConnectNew(const std::vector<std::string>& serials) {
    for (const std::string& serial : serials) {
      if (Stopping()) {
        break;
      }
      if (IsWatched(serial) || held_.count(serial) != 0) {
        continue;
      }
      if (ConnectBySerial(serial.c_str())) {
        watched_.push_back(Watched{serial, ConnectedDevice.handle, kLongestReadTimeout,
                                   lapsed_.count(serial) != 0,
                                   std::make_unique<uint8_t[]>(kReadSize)});
      } else {
        held_.insert(serial);
      }
    }
    Retime();
  }

  // Lists the attached bridges: a held serial string that is no longer
  // listed is let go, and new ones are connected.
  void Survey() {
    uint32_t count = 0;
    if (HidUart_GetNumDevices(&count, 0, 0) != HID_UART_SUCCESS) {
      return;
    }
    const std::vector<std::string> serials = CollectSerials(count);
    const std::set<std::string> listed(serials.begin(), serials.end());
    for (std::set<std::string>* gone : {&held_, &lapsed_}) {
      for (auto serial = gone->begin(); serial != gone->end();) {
        serial = listed.count(*serial) != 0 ? std::next(serial) : gone->erase(serial);
      }
    }
    ConnectNew(serials);
  }

  // One read of every connected bridge. Returns whether any read gave bytes.
  bool ReadRound() {
    bool delivered = false;
    bool lost = false;
    for (size_t i = 0; i < watched_.size() && !Stopping();) {
      Watched& bridge = watched_[i];
      HID_UART_STATUS status = HID_UART_SUCCESS;
      const int count = ReadAndReport(bridge.handle, bridge.serial.c_str(), bridge.buffer.get(),
                                      options_.timestamps, &status);
      if (count >= 0) {
        if (count > 0) {
          delivered = true;
          if (bridge.onProbation) {
            lapsed_.erase(bridge.serial);
            bridge.onProbation = false;
          }
        }
        ++i;
        continue;
      }
      Print("Disconnected from %s: %s\n", Printable(bridge.serial.c_str()).text,
            StatusText(status).c_str());
      FlushOutput();
      HidUart_Close(bridge.handle);
      if (!lapsed_.insert(bridge.serial).second) {
        held_.insert(bridge.serial);
      }
      watched_.erase(watched_.begin() + static_cast<std::ptrdiff_t>(i));
      lost = true;
    }
    if (lost) {
      Retime();
    }
    return delivered;
  }

  // How long a round takes when every read waits out its time-out.
  milliseconds QuietRound() const {
    return ReadTimeout() * static_cast<milliseconds::rep>(watched_.size());
  }

  void CloseAll() {
    for (const Watched& bridge : watched_) {
      HidUart_Close(bridge.handle);
    }
    watched_.clear();
  }

  // Sleeps until the deadline, or less when a stop is requested meanwhile.
  void SleepUntil(Clock::time_point deadline) const {
    for (Clock::time_point now = Clock::now(); now < deadline && !Stopping(); now = Clock::now()) {
      std::this_thread::sleep_for(std::min<Clock::duration>(deadline - now, kSleepSlice));
    }
  }

 private:
  bool IsWatched(const std::string& serial) const {
    return std::any_of(watched_.begin(), watched_.end(),
                       [&serial](const Watched& bridge) { return bridge.serial == serial; });
  }

  milliseconds ReadTimeout() const {
    const milliseconds share =
        options_.round / static_cast<milliseconds::rep>(std::max<size_t>(watched_.size(), 1));
    return std::clamp<milliseconds>(share, kShortestReadTimeout, kLongestReadTimeout);
  }

  // Gives every bridge the read time-out for the number now connected. A
  // bridge whose time-out cannot be set keeps the one it had, at most the
  // connection's 200 ms: its reports are later, no more.
  void Retime() {
    const milliseconds timeout = ReadTimeout();
    for (Watched& bridge : watched_) {
      if (bridge.readTimeout != timeout) {
        HidUart_SetTimeouts(bridge.handle, static_cast<uint32_t>(timeout.count()), kWriteTimeoutMs);
        bridge.readTimeout = timeout;
      }
    }
  }

  const StationOptions& options_;
  std::vector<Watched> watched_;
  // Serial strings not tried again until a listing no longer shows them:
  // their connection failed, or their reads failed twice with no byte in
  // between.
  std::set<std::string> held_;
  // Serial strings whose reads failed while they may still be listed (a
  // bridge plugged in again within a listing's interval, or a faulty one):
  // connected again once; a byte read clears them.
  std::set<std::string> lapsed_;
};

}  // namespace

void WatchStation(const StationOptions& options) {
  ReportLibraryVersions();
  Station station(options);

  uint32_t count = 0;
  if (HidUart_GetNumDevices(&count, 0, 0) == HID_UART_SUCCESS) {
    Print("Number of connected CP2110 HID devices = %u\n", count);
    FlushOutput();
    station.ConnectNew(CollectSerials(count));
  }

  Clock::time_point nextSurvey = Clock::now() + options.survey;
  while (!station.Stopping()) {
    if (Clock::now() >= nextSurvey) {
      station.Survey();
      nextSurvey = Clock::now() + options.survey;
    }
    if (station.Idle()) {
      station.SleepUntil(nextSurvey);
      continue;
    }
    const Clock::time_point start = Clock::now();
    const milliseconds quietRound = station.QuietRound();
    // A library whose reads return at once with nothing would make this a
    // busy loop: a round that was much shorter than its reads' time-outs
    // and gave nothing is stretched to its due length.
    if (!station.ReadRound() && Clock::now() - start < quietRound / 2) {
      station.SleepUntil(std::min(start + quietRound, nextSurvey));
    }
  }
  station.CloseAll();
  FlushOutput();
}
