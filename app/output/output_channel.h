// SPDX-License-Identifier: Apache-2.0
// Standard output's lines on their way to the system, and what is done when
// the system stops taking them.
#ifndef KESTRUNE_APP_OUTPUT_CHANNEL_H
#define KESTRUNE_APP_OUTPUT_CHANNEL_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

enum class WriteFault {
  kNone,  // everything was taken
  kFull,  // no room now (a full disk, a quota): there may be later
  kGone,  // never again: a closed pipe, a device error
};

struct WriteAttempt {
  size_t written = 0;  // bytes the system took, from the start
  WriteFault fault = WriteFault::kNone;
  std::string reason;  // the system's words for the fault
};

/// Holds what is printed until it is flushed, then hands it to the system in
/// one write. When the system takes only part of it because there is no room,
/// the rest is written before anything else once there is, so that no line
/// is ever left cut short; what is flushed while that fails is left out, and
/// its lines counted. Once a write fails for good, everything is discarded.
/// Each change of state is told once, in one line, through notice.
class OutputChannel {
 public:
  /// writer writes all it is given, or says why it stopped; notice takes a
  /// line for standard error, without its line end.
  using Writer = std::function<WriteAttempt(const char* data, size_t size)>;
  using Notice = std::function<void(const std::string& line)>;
  OutputChannel(Writer writer, Notice notice);

  void Append(const char* data, size_t size);
  void Flush();
  /// Flushes, and tells how many lines were left out if there is still no
  /// room at the end.
  void Finish();
  /// Whether a write has failed for good.
  bool gone() const { return gone_; }

 private:
  // Writes text, erasing what the system took; false on a fault.
  bool WriteOut(std::string& text);
  void LeaveOut(std::string& text);

  Writer writer_;
  Notice notice_;
  // Printed since the last flush.
  std::string pending_;
  // The rest of a flush of which the system took only a part.
  std::string unfinished_;
  // Whether the system took part of its first line.
  bool cutMidLine_ = false;
  bool full_ = false;
  bool gone_ = false;
  uint64_t linesLeftOut_ = 0;
};

#endif
