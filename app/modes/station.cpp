// SPDX-License-Identifier: Apache-2.0
#include "modes/station.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "capture/bridge_reader.h"
#include "hid_uart.h"
#include "library/bridge_list.h"
#include "library/connection.h"
#include "output/events.h"
#include "output/output.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kShortestRound{1};

struct Watched {
  std::unique_ptr<BridgeReader> reader;
  // Connected again after its reads failed.
  bool onProbation;
};

class Station {
 public:
  explicit Station(const StationOptions& options) : options_(options) {
    readers_.capture = options.capture;
    readers_.unframedTimeout = std::clamp(options.round, kShortestRound, kConnectionReadTimeout);
    readers_.tellDisconnection = true;
    readers_.silentAfter = options.silentAfter;
  }
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  bool Stopping() const { return options_.stopRequested && options_.stopRequested(); }

  // Connects, in order, every serial string that is neither read nor held,
  // and starts its reader.
  void ConnectNew(const std::vector<std::string>& serials) {
    TellShared(serials);
    for (const std::string& serial : serials) {
      if (Stopping()) {
        break;
      }
      if (IsWatched(serial) || held_.count(serial) != 0) {
        continue;
      }
      ConnectedDeviceRecord device{};
      if (!ConnectBySerial(serial.c_str(), device)) {
        held_.insert(serial);
        continue;
      }
      watched_.push_back(Watched{std::make_unique<BridgeReader>(device.handle, serial, readers_),
                                 lapsed_.count(serial) != 0});
      watched_.back().reader->Start();
    }
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

  // Bridges are connected by serial string, so of bridges that share one
  // only the first listed is read: each such string is told once, and again
  // should it be shared again after a listing in which it was not.
  void TellShared(const std::vector<std::string>& serials) {
    std::map<std::string, uint32_t> counts;
    for (const std::string& serial : serials) {
      ++counts[serial];
    }
    for (auto told = toldShared_.begin(); told != toldShared_.end();) {
      told = counts[*told] > 1 ? std::next(told) : toldShared_.erase(told);
    }
    for (const auto& [serial, count] : counts) {
      if (count > 1 && toldShared_.insert(serial).second) {
        EmitSharedSerial(serial.c_str(), count);
      }
    }
  }

  // Closes the bridges whose reads failed, their readers having ended.
  void Reap() {
    for (auto bridge = watched_.begin(); bridge != watched_.end();) {
      BridgeReader& reader = *bridge->reader;
      if (!reader.Ended()) {
        ++bridge;
        continue;
      }
      reader.Join();
      HidUart_Close(reader.handle());
      if (bridge->onProbation && reader.Delivered()) {
        lapsed_.erase(reader.serial());
      }
      if (!lapsed_.insert(reader.serial()).second) {
        held_.insert(reader.serial());
      }
      bridge = watched_.erase(bridge);
    }
  }

  // Stops every reader; once they have all ended, closes their bridges.
  void CloseAll() {
    for (const Watched& bridge : watched_) {
      bridge.reader->Stop();
    }
    for (const Watched& bridge : watched_) {
      bridge.reader->Join();
    }
    for (const Watched& bridge : watched_) {
      HidUart_Close(bridge.reader->handle());
      EmitClosed(bridge.reader->serial().c_str());
    }
    watched_.clear();
  }

  // Sleeps until the deadline, at least 1 ms and at most kReaderLookInterval.
  static void Wait(Clock::time_point deadline) {
    std::this_thread::sleep_for(
        std::clamp<Clock::duration>(deadline - Clock::now(), kShortestRound, kReaderLookInterval));
  }

 private:
  bool IsWatched(const std::string& serial) const {
    return std::any_of(watched_.begin(), watched_.end(), [&serial](const Watched& bridge) {
      return bridge.reader->serial() == serial;
    });
  }

  const StationOptions& options_;
  ReaderOptions readers_;
  std::vector<Watched> watched_;
  // Serial strings not tried again until a listing no longer shows them:
  // their connection failed, or their reads failed twice with no byte in
  // between.
  std::set<std::string> held_;
  // Serial strings whose reads failed while they may still be listed (a
  // bridge plugged in again within a listing's interval, or a faulty one):
  // connected again once; a byte read clears them.
  std::set<std::string> lapsed_;
  // Serial strings told to be shared by several attached bridges.
  std::set<std::string> toldShared_;
};

// Station mode's forms of the lines about one bridge, for as long as it runs.
struct StationLines {
  explicit StationLines(bool timestamps) { SetStationLines(true, timestamps); }
  ~StationLines() { SetStationLines(false, false); }
  StationLines(const StationLines&) = delete;
  StationLines& operator=(const StationLines&) = delete;
};

}  // namespace

void WatchStation(const StationOptions& options) {
  const StationLines lines(options.capture.timestamps);
  ReportLibraryVersions();
  Station station(options);

  uint32_t count = 0;
  if (HidUart_GetNumDevices(&count, 0, 0) == HID_UART_SUCCESS) {
    EmitCount(count);
    station.ConnectNew(CollectSerials(count));
  }

  Clock::time_point nextSurvey = Clock::now() + options.survey;
  while (!station.Stopping()) {
    station.Reap();
    if (Clock::now() >= nextSurvey) {
      station.Survey();
      nextSurvey = Clock::now() + options.survey;
    }
    Station::Wait(nextSurvey);
  }
  station.CloseAll();
  FlushOutput();
}
