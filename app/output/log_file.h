// SPDX-License-Identifier: Apache-2.0
// --log: the lines of a run written to a file that is rotated by size, so
// that an unattended station's log never fills the disk.
#ifndef KESTRUNE_APP_LOG_FILE_H
#define KESTRUNE_APP_LOG_FILE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "output/output_channel.h"

/// The log's size before it is rotated, unless --log-size says otherwise,
/// and how many older files are kept, unless --log-keep does.
constexpr uint64_t kDefaultLogBytes = uint64_t{4} << 20;
constexpr int kDefaultLogKeep = 5;
constexpr int kMostLogKeep = 100;

/// FILE, and FILE.1 (the newest older one) to FILE.N. Writes go to FILE, as
/// they come, each whole; before a write that would take FILE past its size,
/// FILE becomes FILE.1, FILE.1 becomes FILE.2 and so on, FILE.N is deleted
/// (with N 0, FILE is only emptied), and a new FILE is started. A write is
/// never split across two files: the program writes whole events, so no
/// report is ever cut by a rotation; and the rest of a write the disk took
/// only in part goes to the same file before any rotation.
class LogFile {
 public:
  LogFile(std::filesystem::path path, uint64_t size, int keep);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  /// Opens FILE for appending (creating it and its folder when missing).
  /// Returns false, with the system's words in problem, when it cannot.
  bool Open(std::string& problem);

  /// Writes every byte, rotating first when they would not fit. A full disk
  /// gives WriteFault::kFull with what was written; a file that cannot be
  /// written for another reason gives kGone.
  WriteAttempt Write(const char* data, size_t size);

  uint64_t size() const { return size_; }

 private:
  void Rotate();
  std::filesystem::path Older(int n) const;

  std::filesystem::path path_;
  uint64_t limit_;
  int keep_;
  std::FILE* file_ = nullptr;
  uint64_t size_ = 0;
  // The last write was cut short by a full disk: its rest comes next, to
  // the same file.
  bool cut_ = false;
};

#endif
