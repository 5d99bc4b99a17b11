// SPDX-License-Identifier: GPL-3.0-or-later
// File services: open with read or read-write permission, read, write,
// position, end of file, create with type and creator codes, delete.
//
// Semantics the callers rely on:
// - several read openers coexist with one write opener; a second write opener
//   of the same file in this process gets err::kOpenForWriting;
// - reading past the end reads what is there and returns err::kEndOfFile;
// - a larger end of file pre-sizes the file, a smaller one truncates it;
// - deleting a file that this process holds open fails with err::kFileBusy.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/error_codes.h"
#include "platform/file_spec.h"

namespace norvo {

enum class Permission : std::uint8_t { kRead = 1, kReadWrite = 3 };
enum class SeekMode : std::uint8_t { kFromStart = 1, kFromEnd = 2, kFromCurrent = 3 };

class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  ErrorCode open(const FileSpec& spec, Permission permission);
  void close();
  bool isOpen() const { return fd_ >= 0; }
  Permission permission() const { return permission_; }
  const std::string& path() const { return path_; }

  // Reads up to *count bytes at the current position; *count returns what was
  // read. Fewer bytes than asked is err::kEndOfFile.
  ErrorCode read(std::int64_t* count, void* buffer);
  // Reads exactly out.size() bytes or fails.
  ErrorCode readExact(std::span<std::uint8_t> out);
  // Reads at an offset without using or moving the position.
  ErrorCode readAt(std::int64_t offset, std::span<std::uint8_t> out) const;

  // Writes at the current position, extending the file as needed.
  ErrorCode write(std::span<const std::uint8_t> data);
  ErrorCode writeAt(std::int64_t offset, std::span<const std::uint8_t> data);

  // Copies `count` bytes from `source` at `source_offset` to this file's
  // current position (in the kernel where it can); the position advances.
  ErrorCode copyFrom(const File& source, std::int64_t source_offset, std::int64_t count);

  ErrorCode position(std::int64_t* out) const;
  ErrorCode setPosition(SeekMode mode, std::int64_t offset);
  ErrorCode endOfFile(std::int64_t* out) const;
  ErrorCode setEndOfFile(std::int64_t length);
  ErrorCode flush();

  int descriptor() const { return fd_; }

 private:
  void forget();

  int fd_ = -1;
  Permission permission_ = Permission::kRead;
  std::int64_t pos_ = 0;
  std::string path_;
  std::uint64_t device_ = 0;
  std::uint64_t inode_ = 0;
};

// Creates an empty file carrying the given type and creator codes (kept in
// extended attributes where the file system has them; best-effort).
// An existing file is err::kDuplicateName.
ErrorCode CreateFile(const FileSpec& spec, std::uint32_t creator, std::uint32_t type);
// Gives an existing file the type and creator codes (best-effort, as above).
void SetFileTypeAndCreator(const FileSpec& spec, std::uint32_t creator, std::uint32_t type);
// Reads back the codes written by CreateFile; 0 when none are kept.
void GetFileTypeAndCreator(const FileSpec& spec, std::uint32_t* type, std::uint32_t* creator);
// Deletes a file; err::kFileNotFound when it does not exist, err::kFileBusy while this process has it open.
ErrorCode DeleteFile(const FileSpec& spec);

// Bytes free to the caller on the volume holding `path` (a file or folder).
ErrorCode FreeBytes(const std::string& path, std::uint64_t* out);

}  // namespace norvo
