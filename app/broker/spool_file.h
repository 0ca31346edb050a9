// SPDX-License-Identifier: Apache-2.0
// A file of the spool, by the system's own calls: the C library's streams
// buffer, and a spool must know when bytes have reached the disk.
#ifndef KESTRUNE_APP_BROKER_SPOOL_FILE_H
#define KESTRUNE_APP_BROKER_SPOOL_FILE_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

class SpoolFile {
 public:
  enum class Open {
    kShared,  // others may read it
    kAlone,   // no other station may hold it (the spool's lock)
  };
  /// Opens path, making it when missing; nullptr, with why in problem, when
  /// it cannot be opened or, for kAlone, is held already.
  static std::unique_ptr<SpoolFile> Create(const std::filesystem::path& path, Open how,
                                           std::string& problem);

  ~SpoolFile();
  SpoolFile(const SpoolFile&) = delete;
  SpoolFile& operator=(const SpoolFile&) = delete;

  /// Reads size bytes at offset; false unless all of them were there.
  bool ReadAt(uint64_t offset, void* data, size_t size);
  /// Writes every byte at offset; false when it could not.
  bool WriteAt(uint64_t offset, const void* data, size_t size);
  /// The file's size; 0 when the system cannot say.
  uint64_t Size();
  void Truncate(uint64_t size);
  /// Whether the system confirms that what was written has reached the disk.
  bool Sync();

 private:
  // One positioned read or write of every byte, resumed after a partial one.
  bool Transfer(uint64_t offset, char* bytes, size_t size, bool write);

#if defined(_WIN32)
  explicit SpoolFile(void* handle) : handle_(handle) {}
  void* handle_;  // the system's HANDLE
#else
  explicit SpoolFile(int fd) : fd_(fd) {}
  int fd_;
#endif
};

/// Makes a file just created in dir last through a power loss (nothing on
/// Windows, whose file system keeps its folders itself).
void SyncFolder(const std::filesystem::path& dir);

#endif
