#include "line.h"

#include <algorithm>

namespace sim {

Line::Line(std::vector<Frame> frames, const std::vector<Stream>& streams)
    : frames_(std::move(frames)) {
  std::stable_sort(frames_.begin(), frames_.end(),
                   [](const Frame& a, const Frame& b) { return a.at < b.at; });
  // Empty frames would stall the cursor; they carry nothing anyway.
  frames_.erase(std::remove_if(frames_.begin(), frames_.end(),
                               [](const Frame& frame) { return frame.bytes.empty(); }),
                frames_.end());
  for (const Frame& frame : frames_) {
    frameStart_.push_back(frameTotal_);
    frameTotal_ += frame.bytes.size();
  }
  total_ = frameTotal_;
  for (const Stream& stream : streams) {
    streams_.push_back(StreamCursor{stream, 0, StreamGenerator(stream.seed)});
    total_ += stream.bytes;
  }
}

Nanos Line::ArrivalOf(const Stream& stream, std::uint64_t index) {
  if (stream.rate == 0) return stream.at;
  // index < 2^32 and the rate is nonzero, so neither step overflows.
  const std::uint64_t offset =
      (index * static_cast<std::uint64_t>(kNanosPerSecond) + stream.rate - 1) / stream.rate;
  return stream.at + static_cast<Nanos>(offset);
}

std::uint64_t Line::ArrivedBy(const Stream& stream, Nanos now) {
  if (now < stream.at) return 0;
  if (stream.rate == 0) return stream.bytes;
  // Byte k has arrived when k <= elapsed * rate, elapsed in seconds; split the
  // product so that it cannot overflow for any elapsed time.
  const auto elapsed = static_cast<std::uint64_t>(now - stream.at);
  const auto perSecond = static_cast<std::uint64_t>(kNanosPerSecond);
  const std::uint64_t seconds = elapsed / perSecond;
  if (seconds >= stream.bytes) return stream.bytes;
  const std::uint64_t last =
      seconds * stream.rate + (elapsed % perSecond) * stream.rate / perSecond;
  return std::min<std::uint64_t>(last + 1, stream.bytes);
}

std::uint64_t Line::FrameBytesArrivedBy(Nanos now) const {
  const auto next = std::upper_bound(frames_.begin(), frames_.end(), now,
                                     [](Nanos t, const Frame& frame) { return t < frame.at; });
  const auto index = static_cast<std::size_t>(next - frames_.begin());
  return index == frames_.size() ? frameTotal_ : frameStart_[index];
}

std::uint64_t Line::FrameBytesTaken() const {
  return frame_ < frames_.size() ? frameStart_[frame_] + frameOffset_ : frameTotal_;
}

std::uint64_t Line::Available(Nanos now) const {
  std::uint64_t available = FrameBytesArrivedBy(now) - FrameBytesTaken();
  for (const StreamCursor& cursor : streams_) {
    available += ArrivedBy(cursor.stream, now) - cursor.taken;
  }
  return available;
}

std::optional<Nanos> Line::NextArrival(Nanos now) const {
  std::optional<Nanos> next;
  const auto later = [&next](Nanos t) {
    if (!next || t < *next) next = t;
  };
  const auto frame = std::upper_bound(frames_.begin(), frames_.end(), now,
                                      [](Nanos t, const Frame& f) { return t < f.at; });
  if (frame != frames_.end()) later(frame->at);
  for (const StreamCursor& cursor : streams_) {
    const std::uint64_t arrived = ArrivedBy(cursor.stream, now);
    if (arrived < cursor.stream.bytes) later(ArrivalOf(cursor.stream, arrived));
  }
  return next;
}

std::uint32_t Line::Take(Nanos now, std::uint8_t* out, std::uint32_t max) {
  std::uint32_t count = 0;
  while (count < max) {
    // The source whose next byte arrived first; frames win ties.
    std::optional<Nanos> best;
    StreamCursor* from = nullptr;
    if (frame_ < frames_.size() && frames_[frame_].at <= now) best = frames_[frame_].at;
    for (StreamCursor& cursor : streams_) {
      if (cursor.taken >= cursor.stream.bytes) continue;
      const Nanos at = ArrivalOf(cursor.stream, cursor.taken);
      if (at <= now && (!best || at < *best)) {
        best = at;
        from = &cursor;
      }
    }
    if (!best) break;
    if (from != nullptr) {
      out[count] = from->generator.Next();
      ++from->taken;
    } else {
      out[count] = frames_[frame_].bytes[frameOffset_];
      if (++frameOffset_ == frames_[frame_].bytes.size()) {
        ++frame_;
        frameOffset_ = 0;
      }
    }
    ++count;
  }
  delivered_ += count;
  return count;
}

}  // namespace sim
