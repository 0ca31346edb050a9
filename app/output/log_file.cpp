// SPDX-License-Identifier: Apache-2.0
#include "output/log_file.h"

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

LogFile::LogFile(fs::path path, uint64_t size, int keep)
    : path_(std::move(path)), limit_(size), keep_(keep) {}

LogFile::~LogFile() {
  if (file_ != nullptr) {
    std::fclose(file_);
  }
}

bool LogFile::Open(std::string& problem) {
  std::error_code error;
  if (path_.has_parent_path()) {
    fs::create_directories(path_.parent_path(), error);
  }
  // Binary: the program writes its own line ends.
  file_ = std::fopen(path_.string().c_str(), "ab");
  if (file_ == nullptr) {
    problem = std::strerror(errno);
    return false;
  }
  // Unbuffered: each write reaches the system as it is made, whole.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  size_ = fs::file_size(path_, error);
  if (error) {
    size_ = 0;
  }
  return true;
}

fs::path LogFile::Older(int n) const {
  fs::path older = path_;
  older += "." + std::to_string(n);
  return older;
}

void LogFile::Rotate() {
  std::fclose(file_);
  file_ = nullptr;
  std::error_code ignored;
  if (keep_ > 0) {
    fs::remove(Older(keep_), ignored);
    for (int n = keep_ - 1; n >= 1; --n) {
      fs::rename(Older(n), Older(n + 1), ignored);
    }
    fs::rename(path_, Older(1), ignored);
  }
  // With nothing kept, or a rename the system refused, the file starts
  // again empty rather than grow past its size.
  file_ = std::fopen(path_.string().c_str(), "wb");
  if (file_ != nullptr) {
    std::setvbuf(file_, nullptr, _IONBF, 0);
  }
  size_ = 0;
}

WriteAttempt LogFile::Write(const char* data, size_t size) {
  if (!cut_ && size_ > 0 && size_ + size > limit_) {
    Rotate();
  }
  if (file_ == nullptr) {
    return WriteAttempt{0, WriteFault::kGone, "the log file could not be opened again"};
  }
  errno = 0;
  const size_t written = std::fwrite(data, 1, size, file_);
  size_ += written;
  cut_ = written < size;
  if (!cut_) {
    return WriteAttempt{written, WriteFault::kNone, {}};
  }
  const int error = errno != 0 ? errno : EIO;
  std::clearerr(file_);
  const bool full = error == ENOSPC
#if defined(EDQUOT)
                    || error == EDQUOT
#endif
      ;
  return WriteAttempt{written, full ? WriteFault::kFull : WriteFault::kGone, std::strerror(error)};
}
