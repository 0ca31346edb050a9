// SPDX-License-Identifier: Apache-2.0
#include "broker/spool.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#endif

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class SpoolFolder {
 public:
  // One folder per test: ctest runs the tests of this file side by side.
  SpoolFolder()
      : path_(fs::path(testing::TempDir()) /
              (std::string("kestrune-spool-") +
               testing::UnitTest::GetInstance()->current_test_info()->name())) {
    fs::remove_all(path_);
  }
  ~SpoolFolder() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }
  std::vector<fs::path> Segments() const {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(path_)) {
      if (entry.path().extension() == ".seg") {
        found.push_back(entry.path());
      }
    }
    std::sort(found.begin(), found.end());
    return found;
  }

 private:
  fs::path path_;
};

SpoolRecord Record(uint64_t seq, std::string payload = {}) {
  SpoolRecord record;
  record.seq = seq;
  record.payload = payload.empty() ? "{\"seq\":" + std::to_string(seq) + "}" : payload;
  return record;
}

// The seqs still handed out, from the oldest.
std::vector<uint64_t> HandedOut(Spool& spool) {
  std::vector<uint64_t> seqs;
  spool.Rewind();
  while (const std::optional<SpoolRecord> record = spool.Next()) {
    seqs.push_back(record->seq);
  }
  return seqs;
}

std::vector<uint64_t> Range(uint64_t first, uint64_t last) {
  std::vector<uint64_t> seqs;
  for (uint64_t seq = first; seq <= last; ++seq) {
    seqs.push_back(seq);
  }
  return seqs;
}

void Damage(const fs::path& file, std::function<void(std::string&)> change) {
  std::string bytes;
  {
    std::ifstream in(file, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  change(bytes);
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// What a stop, a kill or a power loss leaves, and what the next run makes of
// it: the records that wait, the seq the next event takes, and whether the
// damage is told.
TEST(Spool, WhatARunLeavesIsWhatTheNextOneSends) {
  struct RestartCase {
    const char* name;
    int records;  // 1 to N appended, 60-byte payloads, 4 KiB segments
    uint64_t acknowledged;
    std::function<void(const SpoolFolder&)> damage;
    std::vector<uint64_t> waiting;
    uint64_t nextSeq;
    bool told;
  };
  const std::string payload(60, 'x');
  const RestartCase cases[] = {
      {"a clean stop", 10, 0, nullptr, Range(1, 10), 11, false},
      {"acknowledged records are not sent again", 10, 6, nullptr, Range(7, 10), 11, false},
      {"everything acknowledged: numbering goes on", 200, 200, nullptr, {}, 201, false},
      {"a record cut short by a power loss is left out, the rest kept", 10, 0,
       [](const SpoolFolder& folder) {
         Damage(folder.Segments().back(),
                [](std::string& bytes) { bytes.resize(bytes.size() - 5); });
       },
       Range(1, 9), 10, true},
      {"a header cut short", 10, 0,
       [](const SpoolFolder& folder) {
         Damage(folder.Segments().back(), [](std::string& bytes) { bytes += "\x05\x00"; });
       },
       Range(1, 10), 11, true},
      {"a flipped byte in an older segment leaves out the rest of that segment",
       200,
       0,
       [](const SpoolFolder& folder) {
         Damage(folder.Segments().front(), [](std::string& bytes) { bytes[200] ^= 0x40; });
       },
       {},
       201,
       true},
      {"a damaged acknowledgement sends everything again, never less", 10, 8,
       [](const SpoolFolder& folder) {
         Damage(folder.path() / "acknowledged", [](std::string& bytes) { bytes[0] ^= 1; });
       },
       Range(1, 10), 11, false},
      {"an acknowledgement file cut short", 10, 8,
       [](const SpoolFolder& folder) {
         Damage(folder.path() / "acknowledged", [](std::string& bytes) { bytes.resize(3); });
       },
       Range(1, 10), 11, false},
  };
  for (const RestartCase& c : cases) {
    SCOPED_TRACE(c.name);
    const SpoolFolder folder;
    {
      Spool::Opened opened = Spool::Open(folder.path(), 32 << 10);
      ASSERT_TRUE(opened.spool) << opened.problem;
      for (int seq = 1; seq <= c.records; ++seq) {
        ASSERT_TRUE(opened.spool->Append(Record(static_cast<uint64_t>(seq), payload)));
      }
      ASSERT_TRUE(opened.spool->Sync());
      opened.spool->Acknowledge(c.acknowledged);
    }
    if (c.damage) {
      c.damage(folder);
    }
    Spool::Opened again = Spool::Open(folder.path(), 32 << 10);
    ASSERT_TRUE(again.spool) << again.problem;
    std::vector<uint64_t> waiting = HandedOut(*again.spool);
    if (std::string(c.name).find("older segment") != std::string::npos) {
      // Only the records before the flipped byte, and every later segment.
      ASSERT_FALSE(waiting.empty());
      EXPECT_EQ(waiting.front(), 1u);
      EXPECT_EQ(waiting.back(), 200u);
      EXPECT_LT(waiting.size(), 200u);
    } else {
      EXPECT_EQ(waiting, c.waiting);
    }
    EXPECT_EQ(again.spool->Waiting(), waiting.size());
    EXPECT_EQ(again.spool->NextSeq(), c.nextSeq);
    EXPECT_EQ(again.notices.empty(), !c.told);
    // What comes next is kept behind what was there.
    ASSERT_TRUE(again.spool->Append(Record(c.nextSeq)));
    EXPECT_EQ(HandedOut(*again.spool).back(), c.nextSeq);
  }
}

TEST(Spool, BoundedHandedOutInOrderAndFreedAsTheBrokerAcknowledges) {
  const SpoolFolder folder;
  const uint64_t bound = 64 << 10;  // 8 KiB segments
  Spool::Opened opened = Spool::Open(folder.path(), bound);
  ASSERT_TRUE(opened.spool) << opened.problem;
  Spool& spool = *opened.spool;
  const std::string payload(100, 'p');

  // Appends until the bound refuses, leaving nothing half written.
  uint64_t seq = spool.NextSeq();
  while (spool.Append(Record(seq, payload))) {
    ++seq;
  }
  const uint64_t kept = seq - 1;
  EXPECT_LE(spool.Bytes(), bound);
  EXPECT_GT(spool.Bytes(), bound - 200);
  EXPECT_FALSE(spool.Append(Record(seq + 1, payload)));
  // A seq below one written is never taken: the order on disk is the order sent.
  EXPECT_FALSE(spool.Append(Record(kept, payload)));

  // Handed out oldest first, a window at a time; a lost broker gets them again.
  for (uint64_t expected = 1; expected <= 5; ++expected) {
    EXPECT_EQ(spool.Next()->seq, expected);
  }
  spool.Rewind();
  EXPECT_EQ(spool.Next()->seq, 1u);
  spool.Acknowledge(3);
  EXPECT_EQ(spool.Next()->seq, 4u);
  spool.Rewind();
  EXPECT_EQ(spool.Next()->seq, 4u);

  // Acknowledged segments are deleted and make room; the newest is kept.
  spool.Acknowledge(kept - 10);
  EXPECT_EQ(spool.Waiting(), 10u);
  EXPECT_LT(spool.Bytes(), bound / 4);
  EXPECT_TRUE(spool.Append(Record(seq, payload)));
  spool.Acknowledge(seq);
  EXPECT_EQ(spool.Waiting(), 0u);
  EXPECT_EQ(folder.Segments().size(), 1u);
  EXPECT_FALSE(spool.Next().has_value());
  spool.Acknowledge(2);  // an old acknowledgement changes nothing
  EXPECT_EQ(spool.NextSeq(), seq + 1);

  // Topic and retain survive the disk.
  SpoolRecord reader = Record(seq + 1, "{\"connected\":true}");
  reader.topic = "/readers/R%2F1";
  reader.retain = true;
  ASSERT_TRUE(spool.Append(reader));
  const std::optional<SpoolRecord> back = spool.Next();
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->topic, reader.topic);
  EXPECT_TRUE(back->retain);
  EXPECT_EQ(back->payload, reader.payload);
}

#if !defined(_WIN32)
// A new segment whose first write fails (a full disk) must not cost the
// segment that holds the highest seq, even when all of it is acknowledged:
// after a kill the next run would give that seq again.
TEST(Spool, AFailedWriteIntoANewSegmentKeepsTheNumbering) {
  const SpoolFolder folder;
  const std::string payload(100, 'p');
  uint64_t written = 0;
  signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit unlimited = limit;
  {
    Spool::Opened opened = Spool::Open(folder.path(), 64 << 10);  // 8 KiB segments
    ASSERT_TRUE(opened.spool) << opened.problem;
    Spool& spool = *opened.spool;
    // Two segments, the newer one full: the next record starts a third.
    while (folder.Segments().size() < 2 || fs::file_size(folder.Segments().back()) < (8 << 10)) {
      ASSERT_TRUE(spool.Append(Record(++written, payload)));
    }
    // On disk the acknowledgement lags, as it may at a kill.
    spool.Acknowledge(1);
    spool.SaveAcknowledged();
    spool.Acknowledge(written);
    // Every write that would make a file grow now fails, as on a full disk.
    limit.rlim_cur = 0;
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_FALSE(spool.Append(Record(written + 1, payload)));
    // A kill now: the spool's last words cannot be written either.
  }
  setrlimit(RLIMIT_FSIZE, &unlimited);
  const Spool::Opened again = Spool::Open(folder.path(), 64 << 10);
  ASSERT_TRUE(again.spool) << again.problem;
  EXPECT_GT(again.spool->NextSeq(), written);
}
#endif

TEST(Spool, OneStationAtATimeAndAFolderThatCannotBeOne) {
  const SpoolFolder folder;
  Spool::Opened first = Spool::Open(folder.path(), 1 << 20);
  ASSERT_TRUE(first.spool) << first.problem;
  const Spool::Opened second = Spool::Open(folder.path(), 1 << 20);
  EXPECT_FALSE(second.spool);
  EXPECT_NE(second.problem.find("in use by another station"), std::string::npos) << second.problem;
  first.spool.reset();
  EXPECT_TRUE(Spool::Open(folder.path(), 1 << 20).spool);

  std::ofstream(folder.path() / "a-file") << "x";
  const Spool::Opened onAFile = Spool::Open(folder.path() / "a-file", 1 << 20);
  EXPECT_FALSE(onAFile.spool);
  EXPECT_FALSE(onAFile.problem.empty());
}

TEST(Spool, Crc32IsTheCommonOne) {
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32("", 0), 0u);
}

}  // namespace
