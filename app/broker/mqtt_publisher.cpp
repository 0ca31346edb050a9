// SPDX-License-Identifier: Apache-2.0
#include "broker/mqtt_publisher.h"

#include <mosquitto.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "broker/spool.h"
#include "platform/thread_signals.h"
#include "text/json_writer.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Messages sent and not yet acknowledged, at most: enough to fill a loopback
// or a long link, few enough that a reconnection sends little twice.
constexpr size_t kWindow = 64;
// How long the client waits for network activity, while messages wait for
// their acknowledgement, before it looks for new events again.
constexpr int kLoopWaitMs = 10;
// How often the spool writes down how far the broker has acknowledged.
constexpr std::chrono::milliseconds kSaveAcknowledgedEvery{250};
// How often an idle connection is looked after.
constexpr std::chrono::seconds kIdleLook{1};
constexpr int kKeepAliveSeconds = 30;
// A connection not made in this time is given up and tried again.
constexpr milliseconds kConnectTimeLimit{10000};
constexpr milliseconds kFirstRetry{500};
constexpr milliseconds kLongestRetry{4000};

// Where the operator is told; set before the client's thread starts, and
// never changed while it runs.
std::function<void(const std::string&)> tellOperator;

void Tell(const std::string& line) {
  if (tellOperator) {
    tellOperator(line);
  }
}

class Publisher {
 public:
  Publisher(const MqttSettings& settings, std::unique_ptr<Spool> spool)
      : settings_(settings),
        spool_(std::move(spool)),
        broker_(settings.url.host + ":" + std::to_string(settings.url.port)),
        nextSeq_(spool_->NextSeq()) {}

  ~Publisher() {
    if (mosq_ != nullptr) {
      mosquitto_destroy(mosq_);
    }
  }

  void Start() {
    thread_ = StartQuietThread([this] { Run(); });
  }

  const std::string& Queue(JsonLine& line, std::string_view suffix, bool retain) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t seq = nextSeq_++;
    line.Number("seq", static_cast<long long>(seq));
    const std::string& text = line.Finish();
    const size_t size = text.size() + suffix.size();
    if (queuedBytes_ + size > kMqttQueueBytes) {
      ++queueLeftOut_;
    } else {
      SpoolRecord record;
      record.seq = seq;
      record.retain = retain;
      record.topic = std::string(suffix);
      record.payload.assign(text.data(), text.size() - 1);  // without its LF
      queued_.push_back(std::move(record));
      queuedBytes_ += size;
      wake_.notify_one();
    }
    return text;
  }

  bool Refused() const { return refused_; }

  void Finish() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      finishing_ = true;
      wake_.notify_one();
    }
    if (thread_.joinable()) {
      thread_.join();
    }
    if (spoolFull_) {
      Tell("spool " + spool_->dir().string() + " was still full at the end; " +
           std::to_string(leftOut_) + " events were left out");
    }
  }

 private:
  enum class Link { kNone, kConnecting, kConnected };

  struct Sent {
    int mid;
    uint64_t seq;
    bool acknowledged;
  };

  void Run() {
    bool finishing = false;
    Clock::time_point stopBy{};
    for (;;) {
      std::deque<SpoolRecord> taken;
      uint64_t queueLeftOut = 0;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (link_ == Link::kNone && queued_.empty() && !finishing_) {
          const Clock::time_point until = refused_ ? Clock::now() + std::chrono::seconds(1)
                                                   : std::max(nextAttempt_, Clock::now());
          wake_.wait_until(lock, until, [this] { return !queued_.empty() || finishing_; });
        } else if (link_ == Link::kConnected && sent_.empty() && spool_->Waiting() == 0 &&
                   queued_.empty() && !finishing_) {
          // Nothing to send and nothing to hear of: the next event wakes the
          // thread at once, and the connection is looked after once a
          // second (its keep-alive, a broker that closed it), not a hundred
          // times.
          wake_.wait_for(lock, kIdleLook, [this] { return !queued_.empty() || finishing_; });
        }
        taken.swap(queued_);
        queuedBytes_ = 0;
        std::swap(queueLeftOut, queueLeftOut_);
        if (finishing_ && !finishing) {
          finishing = true;
          // A broker that is not there now is not waited for: what is left
          // stays in the spool for the next run.
          stopBy = link_ == Link::kConnected ? Clock::now() + milliseconds(kMqttStopWaitMs)
                                             : Clock::now();
        }
      }
      Store(taken, queueLeftOut);
      if (finishing && (spool_->Waiting() == 0 || Clock::now() >= stopBy)) {
        break;
      }
      if (link_ == Link::kNone && !refused_ && Clock::now() >= nextAttempt_ && !finishing) {
        Connect();
      }
      if (link_ == Link::kConnected) {
        Send();
      }
      if (link_ != Link::kNone) {
        Exchange(kLoopWaitMs);
      }
    }
    Disconnect();
  }

  // Writes what was queued to the spool, and makes it durable before any of
  // it is sent: a message the broker has, whose seq a power loss took from
  // the spool, would have its seq given again to another event.
  void Store(std::deque<SpoolRecord>& taken, uint64_t queueLeftOut) {
    if (queueLeftOut > 0) {
      Full(queueLeftOut);
    }
    bool stored = false;
    for (const SpoolRecord& record : taken) {
      if (spool_->Append(record)) {
        stored = true;
        if (spoolFull_) {
          Tell("spool " + spool_->dir().string() + " has room again; " + std::to_string(leftOut_) +
               " events were left out while it was full");
          spoolFull_ = false;
          leftOut_ = 0;
        }
      } else {
        Full(1);
      }
    }
    if (stored && !spool_->Sync() && !toldUnsynced_) {
      toldUnsynced_ = true;
      Tell("spool " + spool_->dir().string() +
           ": the system did not confirm that events reached the disk");
    }
  }

  void Full(uint64_t count) {
    if (!spoolFull_) {
      spoolFull_ = true;
      Tell("spool " + spool_->dir().string() + " is full (" + std::to_string(spool_->Bytes()) +
           " bytes wait for the broker); events are left out until it has room");
    }
    leftOut_ += count;
  }

  void Connect() {
    if (mosq_ == nullptr) {
      mosq_ = mosquitto_new(settings_.clientId.c_str(), true, this);
    } else {
      // Drops whatever the client still held from the last connection: the
      // spool sends it again, in order.
      mosquitto_reinitialise(mosq_, settings_.clientId.c_str(), true, this);
    }
    if (mosq_ == nullptr) {
      Lost("the client could not be made");
      return;
    }
    mosquitto_connect_callback_set(mosq_, OnConnect);
    mosquitto_disconnect_callback_set(mosq_, OnDisconnect);
    mosquitto_publish_callback_set(mosq_, OnPublish);
    mosquitto_max_inflight_messages_set(mosq_, kWindow + 2);
    const std::string status = settings_.url.topic + "/status";
    mosquitto_will_set(mosq_, status.c_str(), 7, "offline", 1, true);
    if (settings_.credentials) {
      mosquitto_username_pw_set(mosq_, settings_.credentials->user.c_str(),
                                settings_.credentials->password.c_str());
    }
#if defined(KESTRUNE_MQTT_TLS)
    if (settings_.url.tls) {
      mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
      mosquitto_tls_set(mosq_, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr);
    }
#endif
    errno = 0;
    const int rc = mosquitto_connect_async(mosq_, settings_.url.host.c_str(), settings_.url.port,
                                           kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
      Lost(Reason(rc));
      return;
    }
    link_ = Link::kConnecting;
    connectBy_ = Clock::now() + kConnectTimeLimit;
  }

  // "connection refused", as a clause of the program's own line.
  static std::string Reason(int rc) {
    std::string text = rc == MOSQ_ERR_ERRNO
                           ? (errno != 0 ? std::strerror(errno) : "a system call failed")
                           : mosquitto_strerror(rc);
    while (!text.empty() && (text.back() == '.' || text.back() == ' ')) {
      text.pop_back();
    }
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' &&
        (text.size() < 2 || text[1] < 'A' || text[1] > 'Z')) {
      text[0] = static_cast<char>(text[0] - 'A' + 'a');
    }
    return text;
  }

  // Runs the client once: reads, writes, keeps the connection alive, and
  // calls the callbacks below on this thread.
  void Exchange(int waitMs) {
    errno = 0;
    const int rc = mosquitto_loop(mosq_, waitMs, 1);
    if (refusal_ != 0) {
      Refuse();
      return;
    }
    if (rc != MOSQ_ERR_SUCCESS || lostInCallback_) {
      lostInCallback_ = false;
      Lost(rc != MOSQ_ERR_SUCCESS ? Reason(rc) : "the connection was closed");
      return;
    }
    if (link_ == Link::kConnecting && connected_) {
      link_ = Link::kConnected;
      retry_ = kFirstRetry;
      spool_->Rewind();
      sent_.clear();
      mosquitto_publish(mosq_, nullptr, (settings_.url.topic + "/status").c_str(), 6, "online", 1,
                        true);
      if (toldLost_) {
        Tell("MQTT broker " + broker_ + " is reached again; " + std::to_string(spool_->Waiting()) +
             " events wait in the spool");
        toldLost_ = false;
      }
    } else if (link_ == Link::kConnecting && Clock::now() >= connectBy_) {
      Lost("no answer within " + std::to_string(kConnectTimeLimit.count() / 1000) + " s");
    }
    Acknowledge();
  }

  void Lost(const std::string& reason) {
    const bool wasUp = link_ == Link::kConnected;
    link_ = Link::kNone;
    connected_ = false;
    sent_.clear();
    spool_->Rewind();
    if (!toldLost_) {
      toldLost_ = true;
      Tell("MQTT broker " + broker_ + " is lost (" + reason + "); " +
           std::to_string(spool_->Waiting()) + " events wait in the spool");
    }
    retry_ = wasUp ? kFirstRetry : std::min(retry_ * 2, kLongestRetry);
    nextAttempt_ = Clock::now() + (wasUp ? milliseconds(0) : retry_);
  }

  void Refuse() {
    std::string why = "refused the connection";
    switch (refusal_) {
      case 1:
        why = "does not speak MQTT 3.1.1";
        break;
      case 2:
        why = "refused the client id \"" + settings_.clientId + "\"";
        break;
      case 4:
        why = "refused the user name or password";
        break;
      case 5:
        why = "did not authorise the station (its user name or password)";
        break;
      default:
        break;
    }
    Tell("MQTT broker " + broker_ + " " + why + ": stopping; " + std::to_string(spool_->Waiting()) +
         " events stay in the spool");
    link_ = Link::kNone;
    refused_ = true;
  }

  void Send() {
    while (sent_.size() < kWindow) {
      std::optional<SpoolRecord> record = spool_->Next();
      if (!record) {
        return;
      }
      const std::string topic = settings_.url.topic + record->topic;
      int mid = 0;
      const int rc =
          mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(record->payload.size()),
                            record->payload.data(), 1, record->retain);
      if (rc != MOSQ_ERR_SUCCESS) {
        Lost(Reason(rc));
        return;
      }
      sent_.push_back(Sent{mid, record->seq, false});
    }
  }

  // What the broker acknowledged, in order, leaves the spool.
  void Acknowledge() {
    for (const int mid : acknowledgedMids_) {
      for (Sent& sent : sent_) {
        if (sent.mid == mid) {
          sent.acknowledged = true;
          break;
        }
      }
    }
    acknowledgedMids_.clear();
    uint64_t through = 0;
    while (!sent_.empty() && sent_.front().acknowledged) {
      through = sent_.front().seq;
      sent_.pop_front();
    }
    if (through != 0) {
      spool_->Acknowledge(through);
    }
    // Written down a few times a second, not once per message.
    if (Clock::now() >= saveBy_) {
      spool_->SaveAcknowledged();
      saveBy_ = Clock::now() + kSaveAcknowledgedEvery;
    }
  }

  void Disconnect() {
    if (link_ != Link::kConnected) {
      return;
    }
    int offline = 0;
    mosquitto_publish(mosq_, &offline, (settings_.url.topic + "/status").c_str(), 7, "offline", 1,
                      true);
    const Clock::time_point until = Clock::now() + milliseconds(1000);
    offlineMid_ = offline;
    while (link_ == Link::kConnected && !offlineAcknowledged_ && Clock::now() < until) {
      Exchange(kLoopWaitMs);
    }
    mosquitto_disconnect(mosq_);
    for (int i = 0; i < 3 && link_ == Link::kConnected; ++i) {
      mosquitto_loop(mosq_, kLoopWaitMs, 1);
    }
  }

  static Publisher& Of(void* self) { return *static_cast<Publisher*>(self); }
  static void OnConnect(mosquitto*, void* self, int rc) {
    if (rc == 0) {
      Of(self).connected_ = true;
    } else if (rc == 1 || rc == 2 || rc == 4 || rc == 5) {
      Of(self).refusal_ = rc;
    } else {
      Of(self).lostInCallback_ = true;
    }
  }
  static void OnDisconnect(mosquitto*, void* self, int) { Of(self).lostInCallback_ = true; }
  static void OnPublish(mosquitto*, void* self, int mid) {
    Publisher& publisher = Of(self);
    if (mid == publisher.offlineMid_) {
      publisher.offlineAcknowledged_ = true;
    }
    publisher.acknowledgedMids_.push_back(mid);
  }

  const MqttSettings settings_;
  std::unique_ptr<Spool> spool_;
  const std::string broker_;

  // Shared with the threads that queue events.
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<SpoolRecord> queued_;
  size_t queuedBytes_ = 0;
  uint64_t queueLeftOut_ = 0;
  uint64_t nextSeq_;
  bool finishing_ = false;
  std::atomic<bool> refused_{false};

  // The publisher's thread alone.
  std::thread thread_;
  mosquitto* mosq_ = nullptr;
  Link link_ = Link::kNone;
  bool connected_ = false;
  bool lostInCallback_ = false;
  int refusal_ = 0;
  Clock::time_point connectBy_{};
  Clock::time_point saveBy_{};
  Clock::time_point nextAttempt_{};
  milliseconds retry_ = kFirstRetry;
  bool toldLost_ = false;
  std::deque<Sent> sent_;
  std::vector<int> acknowledgedMids_;
  int offlineMid_ = -1;
  bool offlineAcknowledged_ = false;
  bool spoolFull_ = false;
  uint64_t leftOut_ = 0;
  bool toldUnsynced_ = false;
};

std::unique_ptr<Publisher> publisher;

}  // namespace

bool StartPublishing(const MqttSettings& settings, std::string& problem) {
  tellOperator = settings.tell;
  Spool::Opened opened = Spool::Open(settings.spool, settings.spoolBytes);
  if (!opened.spool) {
    problem = "spool " + settings.spool.string() + " cannot be used: " + opened.problem;
    return false;
  }
  for (const std::string& notice : opened.notices) {
    Tell("spool " + settings.spool.string() + ": " + notice);
  }
  mosquitto_lib_init();
  publisher = std::make_unique<Publisher>(settings, std::move(opened.spool));
  return true;
}

void BeginPublishing() {
  if (publisher) {
    publisher->Start();
  }
}

bool Publishing() { return publisher != nullptr; }

const std::string& PublishLine(JsonLine& line, std::string_view suffix, bool retain) {
  return publisher->Queue(line, suffix, retain);
}

bool PublishingRefused() { return publisher && publisher->Refused(); }

void FinishPublishing() {
  if (!publisher) {
    return;
  }
  publisher->Finish();
  publisher.reset();
  mosquitto_lib_cleanup();
}
