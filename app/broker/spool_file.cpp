// SPDX-License-Identifier: Apache-2.0
#include "broker/spool_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

std::unique_ptr<SpoolFile> SpoolFile::Create(const fs::path& path, Open how, std::string& problem) {
#if defined(_WIN32)
  const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    how == Open::kAlone ? 0 : FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    problem = error == ERROR_SHARING_VIOLATION
                  ? std::string("it is in use by another station")
                  : std::system_category().message(static_cast<int>(error));
    return nullptr;
  }
  return std::unique_ptr<SpoolFile>(new SpoolFile(handle));
#else
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    problem = std::strerror(errno);
    return nullptr;
  }
  if (how == Open::kAlone && flock(fd, LOCK_EX | LOCK_NB) != 0) {
    problem = errno == EWOULDBLOCK ? "it is in use by another station" : std::strerror(errno);
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<SpoolFile>(new SpoolFile(fd));
#endif
}

SpoolFile::~SpoolFile() {
#if defined(_WIN32)
  CloseHandle(static_cast<HANDLE>(handle_));
#else
  close(fd_);
#endif
}

bool SpoolFile::ReadAt(uint64_t offset, void* data, size_t size) {
  return Transfer(offset, static_cast<char*>(data), size, false);
}

bool SpoolFile::WriteAt(uint64_t offset, const void* data, size_t size) {
  // Not written through: the pointer only carries the bytes to the call.
  return Transfer(offset, static_cast<char*>(const_cast<void*>(data)), size, true);
}

uint64_t SpoolFile::Size() {
#if defined(_WIN32)
  LARGE_INTEGER size{};
  return GetFileSizeEx(static_cast<HANDLE>(handle_), &size) ? static_cast<uint64_t>(size.QuadPart)
                                                            : 0;
#else
  struct stat status {};
  return fstat(fd_, &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
#endif
}

void SpoolFile::Truncate(uint64_t size) {
#if defined(_WIN32)
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(size);
  if (SetFilePointerEx(static_cast<HANDLE>(handle_), at, nullptr, FILE_BEGIN)) {
    SetEndOfFile(static_cast<HANDLE>(handle_));
  }
#else
  while (ftruncate(fd_, static_cast<off_t>(size)) != 0 && errno == EINTR) {
  }
#endif
}

bool SpoolFile::Sync() {
#if defined(_WIN32)
  return FlushFileBuffers(static_cast<HANDLE>(handle_)) != 0;
#else
  return fdatasync(fd_) == 0;
#endif
}

bool SpoolFile::Transfer(uint64_t offset, char* bytes, size_t size, bool write) {
  size_t done = 0;
  while (done < size) {
#if defined(_WIN32)
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset + done);
    at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    DWORD count = 0;
    const auto part = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
    const BOOL ok = write ? WriteFile(static_cast<HANDLE>(handle_), bytes + done, part, &count, &at)
                          : ReadFile(static_cast<HANDLE>(handle_), bytes + done, part, &count, &at);
    if (!ok || count == 0) {
      return false;
    }
#else
    const auto at = static_cast<off_t>(offset + done);
    const ssize_t count = write ? pwrite(fd_, bytes + done, size - done, at)
                                : pread(fd_, bytes + done, size - done, at);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      return false;
    }
#endif
    done += static_cast<size_t>(count);
  }
  return true;
}

// So that a segment just created is still found after a power loss.
void SyncFolder(const fs::path& dir) {
#if !defined(_WIN32)
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
#else
  (void)dir;
#endif
}
