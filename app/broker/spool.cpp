// SPDX-License-Identifier: Apache-2.0
#include "broker/spool.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "broker/spool_file.h"

namespace fs = std::filesystem;

struct Spool::Segment {
  fs::path path;
  std::unique_ptr<SpoolFile> file;
  uint64_t lastSeq = 0;
  uint64_t size = 0;
};

namespace {

// A record: a little-endian header of the body's length and its CRC-32, then
// the body: seq (8 bytes), flags (1), the topic's length (2), topic, payload.
constexpr size_t kHeaderSize = 8;
constexpr size_t kBodyFixedSize = 11;
constexpr uint8_t kRetainFlag = 1;
// Far above any event; a length beyond it is damage, not a record.
constexpr uint32_t kLongestBody = 1u << 24;
constexpr uint64_t kLongestSegment = uint64_t{1} << 20;
constexpr uint64_t kShortestSegment = uint64_t{4} << 10;
constexpr const char* kSegmentSuffix = ".seg";
constexpr const char* kAcknowledgedName = "acknowledged";
constexpr const char* kLockName = "lock";

void Put(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    out += static_cast<char>((value >> (8 * i)) & 0xFF);
  }
}

uint64_t Get(const uint8_t* in, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) {
    value = (value << 8) | in[i];
  }
  return value;
}

std::string Encode(const SpoolRecord& record) {
  std::string body;
  body.reserve(kBodyFixedSize + record.topic.size() + record.payload.size());
  Put(body, record.seq, 8);
  Put(body, record.retain ? kRetainFlag : 0, 1);
  Put(body, record.topic.size(), 2);
  body += record.topic;
  body += record.payload;
  std::string out;
  out.reserve(kHeaderSize + body.size());
  Put(out, body.size(), 4);
  Put(out, Crc32(body.data(), body.size()), 4);
  out += body;
  return out;
}

// A body that passed its CRC check.
bool Decode(const uint8_t* body, size_t size, SpoolRecord& record) {
  if (size < kBodyFixedSize) {
    return false;
  }
  const size_t topic = Get(body + 9, 2);
  if (topic > size - kBodyFixedSize) {
    return false;
  }
  record.seq = Get(body, 8);
  record.retain = (body[8] & kRetainFlag) != 0;
  record.topic.assign(reinterpret_cast<const char*>(body) + kBodyFixedSize, topic);
  record.payload.assign(reinterpret_cast<const char*>(body) + kBodyFixedSize + topic,
                        size - kBodyFixedSize - topic);
  return true;
}

// "00000000000000000042.seg": names sort as their first seq.
std::string SegmentName(uint64_t firstSeq) {
  std::string digits = std::to_string(firstSeq);
  return std::string(20 - std::min<size_t>(20, digits.size()), '0') + digits + kSegmentSuffix;
}

bool IsSegmentName(const std::string& name) {
  if (name.size() != 20 + std::strlen(kSegmentSuffix) || name.substr(20) != kSegmentSuffix) {
    return false;
  }
  return std::all_of(name.begin(), name.begin() + 20, [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

uint32_t Crc32(const void* bytes, size_t size, uint32_t crc) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> entries{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t value = i;
      for (int bit = 0; bit < 8; ++bit) {
        value = (value & 1) != 0 ? 0xEDB88320u ^ (value >> 1) : value >> 1;
      }
      entries[i] = value;
    }
    return entries;
  }();
  crc = ~crc;
  const auto* in = static_cast<const uint8_t*>(bytes);
  for (size_t i = 0; i < size; ++i) {
    crc = table[(crc ^ in[i]) & 0xFF] ^ (crc >> 8);
  }
  return ~crc;
}

Spool::Spool(fs::path dir, uint64_t bound)
    : dir_(std::move(dir)),
      bound_(bound),
      segmentLimit_(std::clamp(bound / 8, kShortestSegment, kLongestSegment)) {}

Spool::~Spool() {
  if (acknowledgedFile_) {
    SaveAcknowledged();
  }
}

Spool::Opened Spool::Open(const fs::path& dir, uint64_t bound) {
  Opened opened;
  std::error_code error;
  fs::create_directories(dir, error);
  if (error || !fs::is_directory(dir, error)) {
    opened.problem = "it cannot be made a folder" +
                     (error ? " (" + error.message() + ")" : std::string(" (a file is there)"));
    return opened;
  }
  std::unique_ptr<Spool> spool(new Spool(dir, bound));
  if (!spool->Load(opened.notices, opened.problem)) {
    return opened;
  }
  opened.spool = std::move(spool);
  return opened;
}

bool Spool::Load(std::vector<std::string>& notices, std::string& problem) {
  lock_ = SpoolFile::Create(dir_ / kLockName, SpoolFile::Open::kAlone, problem);
  if (!lock_) {
    return false;
  }
  acknowledgedFile_ =
      SpoolFile::Create(dir_ / kAcknowledgedName, SpoolFile::Open::kShared, problem);
  if (!acknowledgedFile_) {
    return false;
  }
  uint8_t saved[12];
  if (acknowledgedFile_->ReadAt(0, saved, sizeof saved) && Get(saved + 8, 4) == Crc32(saved, 8)) {
    acknowledged_ = Get(saved, 8);
  }
  saved_ = acknowledged_;

  std::vector<std::string> names;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir_, error)) {
    const std::string name = entry.path().filename().string();
    if (IsSegmentName(name)) {
      names.push_back(name);
    }
  }
  if (error) {
    problem = "its files cannot be listed (" + error.message() + ")";
    return false;
  }
  std::sort(names.begin(), names.end());

  uint64_t lastWritten = 0;
  for (size_t n = 0; n < names.size(); ++n) {
    auto segment = std::make_unique<Segment>();
    segment->path = dir_ / names[n];
    segment->file = SpoolFile::Create(segment->path, SpoolFile::Open::kShared, problem);
    if (!segment->file) {
      problem = names[n] + " cannot be opened (" + problem + ")";
      return false;
    }
    const uint64_t size = segment->file->Size();
    uint64_t offset = 0;
    std::string body;
    while (offset < size) {
      uint8_t header[kHeaderSize];
      bool whole =
          size - offset >= kHeaderSize && segment->file->ReadAt(offset, header, kHeaderSize);
      const uint64_t length = whole ? Get(header, 4) : 0;
      whole = whole && length <= kLongestBody && length <= size - offset - kHeaderSize;
      SpoolRecord record;
      if (whole) {
        body.resize(length);
        whole = segment->file->ReadAt(offset + kHeaderSize, body.data(), length) &&
                Crc32(body.data(), length) == Get(header + 4, 4) &&
                Decode(reinterpret_cast<const uint8_t*>(body.data()), length, record) &&
                record.seq > lastWritten;
      }
      if (!whole) {
        const bool newest = n + 1 == names.size();
        notices.push_back(names[n] + (newest ? " ends in a record cut short" : " is damaged") +
                          " after " + std::to_string(offset) + " of its " + std::to_string(size) +
                          " bytes; the rest of it is left out");
        if (newest) {
          segment->file->Truncate(offset);
        }
        break;
      }
      lastWritten = record.seq;
      segment->lastSeq = record.seq;
      if (record.seq > acknowledged_) {
        waiting_.push_back(Entry{record.seq, segment.get(), offset});
      }
      offset += kHeaderSize + length;
    }
    segment->size = segment->file->Size();
    bytes_ += segment->size;
    segments_.push_back(std::move(segment));
  }
  nextSeq_ = std::max(lastWritten, acknowledged_) + 1;
  DropAcknowledgedSegments();
  return true;
}

Spool::Segment* Spool::StartSegment(uint64_t firstSeq) {
  if (!segments_.empty() && unsynced_) {
    segments_.back()->file->Sync();
  }
  auto segment = std::make_unique<Segment>();
  segment->path = dir_ / SegmentName(firstSeq);
  std::string problem;
  segment->file = SpoolFile::Create(segment->path, SpoolFile::Open::kShared, problem);
  if (!segment->file) {
    return nullptr;
  }
  segment->file->Truncate(0);
  SyncFolder(dir_);
  segments_.push_back(std::move(segment));
  DropAcknowledgedSegments();
  return segments_.back().get();
}

bool Spool::Append(const SpoolRecord& record) {
  const std::string bytes = Encode(record);
  if (bytes_ + bytes.size() > bound_ || record.seq < nextSeq_) {
    return false;
  }
  Segment* segment = segments_.empty() ? nullptr : segments_.back().get();
  if (segment == nullptr || segment->size >= segmentLimit_) {
    segment = StartSegment(record.seq);
    if (segment == nullptr) {
      return false;
    }
  }
  if (!segment->file->WriteAt(segment->size, bytes.data(), bytes.size())) {
    // A full disk: what was written of the record goes, so that the
    // segment still ends in a whole record.
    segment->file->Truncate(segment->size);
    return false;
  }
  waiting_.push_back(Entry{record.seq, segment, segment->size});
  segment->size += bytes.size();
  segment->lastSeq = record.seq;
  bytes_ += bytes.size();
  nextSeq_ = record.seq + 1;
  unsynced_ = true;
  return true;
}

bool Spool::Sync() {
  if (!unsynced_ || segments_.empty()) {
    return true;
  }
  unsynced_ = false;
  return segments_.back()->file->Sync();
}

std::optional<SpoolRecord> Spool::Next() {
  while (cursor_ < waiting_.size()) {
    const Entry& entry = waiting_[cursor_++];
    uint8_t header[kHeaderSize];
    if (!entry.segment->file->ReadAt(entry.offset, header, kHeaderSize)) {
      continue;
    }
    std::string body(Get(header, 4), '\0');
    SpoolRecord record;
    if (body.size() <= kLongestBody &&
        entry.segment->file->ReadAt(entry.offset + kHeaderSize, body.data(), body.size()) &&
        Decode(reinterpret_cast<const uint8_t*>(body.data()), body.size(), record)) {
      return record;
    }
  }
  return std::nullopt;
}

void Spool::Rewind() { cursor_ = 0; }

void Spool::Acknowledge(uint64_t seq) {
  if (seq <= acknowledged_) {
    return;
  }
  acknowledged_ = seq;
  while (!waiting_.empty() && waiting_.front().seq <= seq) {
    waiting_.pop_front();
    cursor_ = cursor_ > 0 ? cursor_ - 1 : 0;
  }
  DropAcknowledgedSegments();
}

void Spool::SaveAcknowledged() {
  if (saved_ == acknowledged_) {
    return;
  }
  saved_ = acknowledged_;
  std::string saved;
  Put(saved, acknowledged_, 8);
  Put(saved, Crc32(saved.data(), 8), 4);
  acknowledgedFile_->WriteAt(0, saved.data(), saved.size());
}

void Spool::DropAcknowledgedSegments() {
  // The highest seq ever written must stay on disk, or a restart would give
  // it again: a segment goes only once a later one holds a record (a new
  // segment is empty until its first write has succeeded).
  const auto laterHoldsARecord = [this] {
    return std::any_of(segments_.begin() + 1, segments_.end(),
                       [](const std::unique_ptr<Segment>& later) { return later->lastSeq != 0; });
  };
  while (segments_.size() > 1 && segments_.front()->lastSeq <= acknowledged_ &&
         (waiting_.empty() || waiting_.front().segment != segments_.front().get()) &&
         laterHoldsARecord()) {
    std::error_code error;
    bytes_ -= segments_.front()->size;
    segments_.front()->file.reset();
    fs::remove(segments_.front()->path, error);
    segments_.pop_front();
  }
}
