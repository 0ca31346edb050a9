#include "station.h"

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bridge_list.h"
#include "capture.h"
#include "connection.h"
#include "events.h"
#include "hid_uart.h"
#include "output.h"

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
  std::unique_ptr<Capture> capture;
  milliseconds readTimeout;
  // Connected again after its reads failed, and silent since.
  bool onProbation;
  // Its read failed during this round; closed, and dropped after the round.
  bool gone = false;
};

class Station {
 public:
  explicit Station(const StationOptions& options) : options_(options) {}
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  bool Stopping() const { return options_.stopRequested && options_.stopRequested(); }
  bool Idle() const { return watched_.empty(); }
  bool Pending() const {
    return std::any_of(watched_.begin(), watched_.end(), [](const Watched& bridge) {
      return !bridge.gone && bridge.capture->Pending();
    });
  }

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
        watched_.push_back(
            Watched{std::make_unique<Capture>(ConnectedDevice.handle, serial, options_.capture),
                    kLongestReadTimeout, lapsed_.count(serial) != 0});
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

  // One read of every connected bridge, and out of turn of each bridge whose
  // pending block is due: its proving read then ends when the gap does, not
  // up to a round later. Returns whether any read gave bytes.
  bool ReadRound() {
    bool delivered = false;
    for (size_t i = 0; i < watched_.size() && !Stopping(); ++i) {
      ReadDue(delivered);
      if (!watched_[i].gone && !Stopping()) {
        ReadOne(watched_[i], delivered);
      }
    }
    const auto gone = std::remove_if(watched_.begin(), watched_.end(),
                                     [](const Watched& bridge) { return bridge.gone; });
    if (gone != watched_.end()) {
      watched_.erase(gone, watched_.end());
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
      if (!bridge.gone) {
        bridge.capture->Flush();
        HidUart_Close(bridge.capture->handle());
      }
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
    return std::any_of(watched_.begin(), watched_.end(), [&serial](const Watched& bridge) {
      return bridge.capture->serial() == serial;
    });
  }

  // A read that fails reports what was pending, then the disconnection.
  void ReadOne(Watched& bridge, bool& delivered) {
    Capture& capture = *bridge.capture;
    switch (capture.Read()) {
      case Capture::Outcome::kQuiet:
        return;
      case Capture::Outcome::kBytes:
        delivered = true;
        if (bridge.onProbation) {
          lapsed_.erase(capture.serial());
          bridge.onProbation = false;
        }
        return;
      case Capture::Outcome::kFailed:
        break;
    }
    EmitDisconnected(capture.serial().c_str(), capture.status(), capture.TakeRepeats());
    HidUart_Close(capture.handle());
    if (!lapsed_.insert(capture.serial()).second) {
      held_.insert(capture.serial());
    }
    bridge.gone = true;
  }

  // Reads every bridge whose read, started now, would end once its gap has
  // passed. Each such read either reports the block or brings more bytes,
  // which puts the bridge's due time a gap later: no bridge is read out of
  // turn more than once a gap.
  void ReadDue(bool& delivered) {
    for (Watched& bridge : watched_) {
      if (bridge.gone || Stopping()) {
        continue;
      }
      const auto due = bridge.capture->DueAt();
      if (due && *due - bridge.readTimeout <= Now()) {
        ReadOne(bridge, delivered);
      }
    }
  }

  // The clock the captures measure gaps with.
  CaptureClock::time_point Now() const {
    return options_.capture.now ? options_.capture.now() : CaptureClock::now();
  }

  milliseconds ReadTimeout() const {
    const size_t bridges = std::max<size_t>(watched_.size(), 1);
    if (options_.capture.frameGap.count() > 0) {
      return FramingReadTimeout(options_.capture.frameGap, bridges);
    }
    const milliseconds share = options_.round / static_cast<milliseconds::rep>(bridges);
    return std::clamp<milliseconds>(share, kShortestReadTimeout, kLongestReadTimeout);
  }

  // Gives every bridge the read time-out for the number now connected. A
  // bridge whose time-out cannot be set keeps the one it had, at most the
  // connection's 200 ms: its reports are later, no more.
  void Retime() {
    const milliseconds timeout = ReadTimeout();
    for (Watched& bridge : watched_) {
      if (bridge.readTimeout != timeout) {
        HidUart_SetTimeouts(bridge.capture->handle(), static_cast<uint32_t>(timeout.count()),
                            kWriteTimeoutMs);
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
    // No bridge is read while they are listed, which takes tens of
    // milliseconds and more on a busy machine: a block still waiting for its
    // gap would take in what arrived after the gap as if it had come at once.
    // A listing waits for a moment with no block pending, at most another
    // interval, so that lines that are never quiet do not hold it off.
    const Clock::time_point now = Clock::now();
    if (now >= nextSurvey && (!station.Pending() || now >= nextSurvey + options.survey)) {
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
