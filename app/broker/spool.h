// SPDX-License-Identifier: Apache-2.0
// The station's spool: every event meant for the broker, on disk until the
// broker has acknowledged it, so that neither an outage nor a restart (a
// kill, a power loss) loses what was written.
#ifndef KESTRUNE_APP_SPOOL_H
#define KESTRUNE_APP_SPOOL_H

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

/// One message for the broker, numbered by the station.
struct SpoolRecord {
  uint64_t seq = 0;
  bool retain = false;
  /// Below the station's topic: "" for its events, "/readers/..." for a
  /// reader's state.
  std::string topic;
  std::string payload;
};

class SpoolFile;

/// A folder of segment files, each a run of records in order of seq (a length,
/// a CRC-32, the seq, the topic and the payload), and a file that says which
/// seq the broker has acknowledged up to. Records are only ever appended; a
/// segment is deleted once all its records are acknowledged, except the
/// newest, which keeps the highest seq ever written. Not thread-safe: one
/// thread owns it.
class Spool {
 public:
  struct Opened {
    std::unique_ptr<Spool> spool;  // empty when it cannot be used
    std::string problem;           // why not
    /// Damage found and left out (a record cut short by a power loss):
    /// one line each, for standard error.
    std::vector<std::string> notices;
  };
  /// Opens dir, creating it (and its parents) when missing, and takes it
  /// for this process alone (another station on the same folder is
  /// refused). bound: the most bytes its segments may hold.
  static Opened Open(const std::filesystem::path& dir, uint64_t bound);
  ~Spool();
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  /// The seq the next event takes: above every seq ever written here.
  uint64_t NextSeq() const { return nextSeq_; }

  /// Appends one record (its seq above every one before it). Returns false,
  /// writing nothing, when the bound leaves no room for it or the disk is
  /// full; the record is then left out.
  bool Append(const SpoolRecord& record);
  /// Makes every record appended so far durable (survives a power loss).
  /// Returns false when the system says it could not.
  bool Sync();

  /// The next record not yet handed out since the last Rewind, oldest first,
  /// or nothing when every waiting record has been handed out.
  std::optional<SpoolRecord> Next();
  /// Hands out the waiting records again from the oldest: after a broker
  /// was lost, what it never acknowledged is sent again.
  void Rewind();
  /// The broker has every record up to seq: they stop waiting, and segments
  /// that hold nothing else are deleted. It is written down by
  /// SaveAcknowledged (and when the spool is closed).
  void Acknowledge(uint64_t seq);
  /// Writes down how far the broker has acknowledged, if that changed; not
  /// synced: after a power loss an older value only sends some records
  /// twice, which their seq tells apart.
  void SaveAcknowledged();

  /// Records not yet acknowledged.
  size_t Waiting() const { return waiting_.size(); }
  /// Bytes its segment files hold.
  uint64_t Bytes() const { return bytes_; }
  const std::filesystem::path& dir() const { return dir_; }

 private:
  struct Segment;
  struct Entry {
    uint64_t seq;
    Segment* segment;
    uint64_t offset;
  };
  Spool(std::filesystem::path dir, uint64_t bound);
  bool Load(std::vector<std::string>& notices, std::string& problem);
  Segment* StartSegment(uint64_t firstSeq);
  void DropAcknowledgedSegments();

  std::filesystem::path dir_;
  uint64_t bound_;
  uint64_t segmentLimit_;
  std::unique_ptr<SpoolFile> lock_;
  std::unique_ptr<SpoolFile> acknowledgedFile_;
  std::deque<std::unique_ptr<Segment>> segments_;
  // Records not yet acknowledged, oldest first, and the next to hand out.
  std::deque<Entry> waiting_;
  size_t cursor_ = 0;
  uint64_t acknowledged_ = 0;
  uint64_t saved_ = 0;  // the acknowledgement on disk
  uint64_t nextSeq_ = 1;
  uint64_t bytes_ = 0;
  bool unsynced_ = false;
};

/// The CRC-32 of bytes (as zip and Ethernet compute it).
uint32_t Crc32(const void* bytes, size_t size, uint32_t crc = 0);

#endif
