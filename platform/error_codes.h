// SPDX-License-Identifier: GPL-3.0-or-later
// The 16-bit error codes returned by every engine operation. 0 is success.
// The document layer (app/messages) turns them into the user's message texts.
#pragma once

#include <cstdint>

namespace norvo {

// An engine result. Calling code must look at it: the compiler refuses a
// call whose ErrorCode is dropped. A result ignored on purpose is cast to
// void with a comment saying why. It converts to and from the 16-bit value
// so that comparisons, switches and the stored forms stay plain integers.
class [[nodiscard]] ErrorCode {
 public:
  constexpr ErrorCode() = default;
  constexpr ErrorCode(std::int16_t value) : value_(value) {}  // NOLINT: implicit on purpose
  constexpr operator std::int16_t() const { return value_; }  // NOLINT: implicit on purpose
  constexpr std::int16_t value() const { return value_; }
  constexpr bool ok() const { return value_ == 0; }

 private:
  std::int16_t value_ = 0;
};

namespace err {
inline constexpr ErrorCode kNone = 0;
inline constexpr ErrorCode kWriteFailedDuringSave = -27;  // a write during a save failed
inline constexpr ErrorCode kDiskFull = -34;
inline constexpr ErrorCode kNoSuchVolume = -35;
inline constexpr ErrorCode kIo = -36;
inline constexpr ErrorCode kBadName = -37;
inline constexpr ErrorCode kEndOfFile = -39;       // read past the end of a file
inline constexpr ErrorCode kBadPosition = -40;     // position before the start of a file
inline constexpr ErrorCode kCatalogFull = -41;     // no free cell in the catalog
inline constexpr ErrorCode kFileNotFound = -43;
inline constexpr ErrorCode kFileLocked = -45;      // the file is read-only (no write permission bit)
inline constexpr ErrorCode kFileBusy = -47;        // delete of a file that is open
inline constexpr ErrorCode kDuplicateName = -48;
inline constexpr ErrorCode kOpenForWriting = -49;  // already open for writing elsewhere
inline constexpr ErrorCode kParam = -50;
inline constexpr ErrorCode kBadFileNumber = -51;
inline constexpr ErrorCode kPermission = -54;      // write refused or locked
inline constexpr ErrorCode kWritePermission = -61; // the file, its folder or its disk cannot be written
inline constexpr ErrorCode kOutOfMemory = -108;
inline constexpr ErrorCode kFolderNotFound = -120;
inline constexpr ErrorCode kUserCancelled = -128;
inline constexpr ErrorCode kNoDocumentPicture = -192;  // a document reader made no page picture
inline constexpr ErrorCode kUnreadableCatalog = -812;
inline constexpr ErrorCode kNotAFile = -1302;     // a folder, FIFO, device or socket where a file was expected
inline constexpr ErrorCode kFileTooLarge = -1310;  // catalog and scratch reach 2 GB
inline constexpr ErrorCode kNoReaderForType = -2008;     // the preview of a type that no reader shows
inline constexpr ErrorCode kBadMovieData = -2010;        // a movie whose data cannot be decoded, or
                                                         // that used up its read budget
inline constexpr ErrorCode kXmpUnreadable = -2041;       // no XMP packet could be parsed
inline constexpr ErrorCode kXmpPacketTooSmall = -2042;   // a rewritten packet outgrew its padding
inline constexpr ErrorCode kNoMovieData = -2048;         // no container format fits the file, or it
                                                         // holds no picture or sound stream
inline constexpr ErrorCode kNoReaderForFormat = -2053;   // a file that no reader here reads (scan, metadata)
inline constexpr ErrorCode kNoSound = -2059;             // a sound export of a movie without a sound track
inline constexpr ErrorCode kBadJpeg = -8969;             // not a JPEG, or a damaged one
inline constexpr ErrorCode kWrongPassword = -10004;
inline constexpr ErrorCode kCustomFieldNameTaken = -13059;
inline constexpr ErrorCode kTooManyCustomFields = -13060;
}  // namespace err

// Maps an errno value of a failed system call to the nearest engine code.
ErrorCode ErrorFromErrno(int errno_value);

}  // namespace norvo
