// SPDX-License-Identifier: Apache-2.0
#include "line.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "tags.h"

namespace sim {

Sender Sender::Frames(std::vector<Frame> frames, CharTime c) {
  Sender sender;
  sender.queued_ = c.num != 0;
  sender.c_ = c;
  sender.frames_.reserve(frames.size());
  for (Frame& frame : frames) {
    sender.due_.push_back(frame.at);
    sender.frames_.push_back(std::move(frame.bytes));
    sender.Queue(static_cast<std::uint32_t>(sender.frames_.size() - 1),
                 sender.frames_.back().size());
  }
  return sender;
}

Sender Sender::Tags(const TagSeries& series, CharTime c) {
  Sender sender;
  sender.queued_ = true;
  sender.relative_ = true;
  sender.c_ = c;
  const std::vector<TagDraw> draws = DrawTags(series);
  sender.runs_.reserve(draws.size());
  sender.due_.reserve(draws.size());
  sender.states_.reserve(draws.size());
  for (std::size_t i = 0; i < draws.size(); ++i) {
    sender.due_.push_back(i == 0 ? series.at : draws[i - 1].spacing);
    sender.states_.push_back(draws[i].state);
    sender.Queue(static_cast<std::uint32_t>(i), series.bytes);
  }
  return sender;
}

Sender Sender::Generated(const Stream& stream) {
  Sender sender;
  sender.c_ = RateCharTime(stream.rate);
  sender.due_.push_back(stream.at);
  sender.states_.push_back(stream.seed);
  sender.Queue(0, stream.bytes);
  return sender;
}

void Sender::Queue(std::uint32_t unit, std::uint64_t count) {
  // Units without bytes would stall the cursor; they carry nothing anyway.
  if (count == 0) return;
  runs_.push_back(Run{0, 0, total_, count, 0, unit, c_});
  runs_.back().start = runs_.back().unitStart = QueuedStart(runs_.size() - 1);
  total_ += count;
}

Nanos Sender::QueuedStart(std::size_t r) const {
  const Run& run = runs_[r];
  if (r == 0) return due_[run.unit];
  const Run& previous = runs_[r - 1];
  const Nanos due = relative_ ? previous.unitStart + due_[run.unit] : due_[run.unit];
  if (!queued_) return due;
  // The previous run's end: one character after its last byte.
  return std::max(due, previous.start + Offset(previous.c, previous.count));
}

std::size_t Sender::RunOf(std::uint64_t index) const {
  const auto after =
      std::upper_bound(runs_.begin(), runs_.end(), index,
                       [](std::uint64_t i, const Run& run) { return i < run.before; });
  return static_cast<std::size_t>(after - runs_.begin()) - 1;
}

std::uint64_t Sender::ArrivedBy(Nanos now) const {
  // Every byte of the runs before the last one begun by `now` has arrived:
  // runs never overlap, and instant ones arrive whole.
  const auto after = std::upper_bound(runs_.begin(), runs_.end(), now,
                                      [](Nanos t, const Run& run) { return t < run.start; });
  if (after == runs_.begin()) return 0;
  const Run& run = *(after - 1);
  return run.before + ArrivedWithin(run.c, now - run.start, run.count);
}

Nanos Sender::ArrivalOf(std::uint64_t index) const {
  const Run& run = runs_[RunOf(index)];
  return run.start + Offset(run.c, index - run.before);
}

void Sender::Bytes(std::uint32_t unit, std::uint64_t index, std::uint8_t* out,
                   std::uint64_t count) {
  if (!frames_.empty()) {
    std::copy_n(frames_[unit].begin() + static_cast<std::ptrdiff_t>(index), count, out);
    return;
  }
  if (unit != generatorUnit_ || index != generatorIndex_) {
    generator_ = StreamGenerator(states_[unit]);
    for (std::uint64_t i = 0; i < index; ++i) generator_.Next();
    generatorUnit_ = unit;
  }
  for (std::uint64_t i = 0; i < count; ++i) out[i] = generator_.Next();
  generatorIndex_ = index + count;
}

Nanos Sender::NextArrival() const {
  const Run& run = runs_[run_];
  return run.start + Offset(run.c, taken_ - run.before);
}

void Sender::Take(std::uint8_t* out, std::uint64_t count) {
  while (count > 0) {
    const Run& run = runs_[run_];
    const std::uint64_t inRun = taken_ - run.before;
    const std::uint64_t part = std::min(count, run.count - inRun);
    Bytes(run.unit, run.first + inRun, out, part);
    out += part;
    count -= part;
    taken_ += part;
    if (taken_ == run.before + run.count && run_ + 1 < runs_.size()) ++run_;
  }
}

void Sender::Retime(Nanos now, CharTime c) {
  if (!queued_ || c == c_) return;
  c_ = c;
  // The first run not wholly arrived by `now`.
  const std::uint64_t arrived = ArrivedBy(now);
  if (arrived == total_) return;
  std::size_t r = RunOf(arrived);
  Run& run = runs_[r];
  const std::uint64_t k = arrived - run.before;
  if (k > 0 || run.first > 0) {
    // In the middle of a unit: what is left of the character under way is
    // finished at the new rate, and the rest follows at it.
    const Nanos due = run.start + Offset(run.c, k);
    const Nanos start = now + Rescale(due - now, run.c, c);
    if (k > 0) {
      Run rest = run;
      rest.start = start;
      rest.before += k;
      rest.count -= k;
      rest.first += k;
      rest.c = c;
      run.count = k;
      runs_.insert(runs_.begin() + static_cast<std::ptrdiff_t>(r) + 1, rest);
      ++r;
    } else {
      run.start = start;
      run.c = c;
    }
    ++r;
  }
  for (; r < runs_.size(); ++r) {
    Run& later = runs_[r];
    later.c = c;
    if (later.first == 0) {
      later.start = later.unitStart = QueuedStart(r);
    } else {
      // Only when told of an earlier change after a later one: the rest of
      // a unit follows what came before it.
      const Run& previous = runs_[r - 1];
      later.start = previous.start + Offset(previous.c, previous.count);
    }
  }
  if (taken_ < total_) run_ = RunOf(taken_);
}

Line::Line(const std::vector<Frame>& frames, const std::vector<Stream>& streams,
           const std::vector<TagSeries>& tags, CharTime characterTime) {
  std::vector<Frame> instant;
  std::vector<Frame> timed;
  for (const Frame& frame : frames) (frame.instant ? instant : timed).push_back(frame);
  const auto byTime = [](const Frame& a, const Frame& b) { return a.at < b.at; };
  std::stable_sort(instant.begin(), instant.end(), byTime);
  std::stable_sort(timed.begin(), timed.end(), byTime);
  senders_.push_back(Sender::Frames(std::move(instant), kInstant));
  senders_.push_back(Sender::Frames(std::move(timed), characterTime));
  for (const TagSeries& series : tags) senders_.push_back(Sender::Tags(series, characterTime));
  for (const Stream& stream : streams) senders_.push_back(Sender::Generated(stream));
  for (const Sender& sender : senders_) total_ += sender.Total();
}

std::uint64_t Line::Available(Nanos now) const {
  std::uint64_t available = 0;
  for (const Sender& sender : senders_) {
    available += std::max(sender.ArrivedBy(now), sender.Taken()) - sender.Taken();
  }
  return available;
}

std::optional<Nanos> Line::PendingArrival(std::uint64_t n) const {
  if (n == 0 || n > total_ - delivered_) return std::nullopt;
  // The count of arrived bytes only grows with time: the first moment it
  // reaches n is found by halving, at a few dozen binary searches per call.
  Nanos low = 0;
  Nanos high = 0;
  for (const Sender& sender : senders_) {
    if (sender.Taken() < sender.Total()) {
      high = std::max(high, sender.ArrivalOf(sender.Total() - 1));
    }
  }
  if (Available(low) >= n) return low;
  while (high - low > 1) {
    const Nanos middle = low + (high - low) / 2;
    (Available(middle) >= n ? high : low) = middle;
  }
  return high;
}

std::optional<Nanos> Line::NextArrival(Nanos now) const {
  return PendingArrival(Available(now) + 1);
}

std::uint32_t Line::Take(Nanos now, std::uint8_t* out, std::uint32_t max) {
  std::uint32_t count = 0;
  while (count < max) {
    // The sender whose next byte arrived first; earlier senders win ties.
    Sender* from = nullptr;
    Nanos best = std::numeric_limits<Nanos>::max();
    for (Sender& sender : senders_) {
      if (sender.Taken() == sender.Total()) continue;
      const Nanos at = sender.NextArrival();
      if (at <= now && at < best) {
        best = at;
        from = &sender;
      }
    }
    if (from == nullptr) break;
    // It keeps the turn for every byte that arrived before any other
    // sender's next one, so that a long run is taken in one piece.
    Nanos until = now;
    for (const Sender& sender : senders_) {
      if (&sender == from || sender.Taken() == sender.Total()) continue;
      until = std::min(until, sender.NextArrival() - 1);
    }
    const std::uint64_t run =
        std::max<std::uint64_t>(1, std::max(from->ArrivedBy(until), from->Taken()) - from->Taken());
    const auto part = static_cast<std::uint32_t>(std::min<std::uint64_t>(run, max - count));
    from->Take(out + count, part);
    count += part;
  }
  delivered_ += count;
  return count;
}

void Line::SetCharacterTime(Nanos now, CharTime characterTime) {
  for (Sender& sender : senders_) sender.Retime(now, characterTime);
}

}  // namespace sim
