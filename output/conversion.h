// SPDX-License-Identifier: GPL-3.0-or-later
// Converting catalog items' files into another format: images through the
// still-image writers (imaging/image_writer.h), movies and sounds through
// the movie encoder. One run takes the items in catalog order (all of them,
// or those named), writes one new file per item, and logs what became of
// each.
//
// For each image item:
//  1. a missing file is logged and the run goes on;
//  2. only images, movies' still pictures, illustrations and DTP documents
//     are taken (media classes 0, 2, 3 and 4); others are logged;
//  3. the new name is the file name with its extension replaced, in the
//     destination folder or, without one, beside the source. A file of that
//     name is replaced only with the user's word (the question's answers:
//     replace, skip, replace all); the source itself is written over
//     without a question;
//  4. an RGB source's embedded colour profile goes with the picture when
//     the options keep profiles;
//  5. the resolution is the custom one, else the item's own;
//  6. with the metadata option the source's EXIF goes with it, its
//     Orientation set to 1 (the picture is written upright) and its
//     resolution set as in 5;
//  7. the picture is rendered as the item is shown (its viewing rotation)
//     and, with "scale to fit", scaled to fit inside the box;
//  8. the file is written under the temporary name "~Norvo Temporary File"
//     in the target folder and renamed into place once complete. Without a
//     destination folder ("Replace original files") the item is then
//     pointed at the new file, and the old file is deleted when its name
//     differs. A failure removes the temporary file.
//
// Pictures are decoded, scaled and encoded on a pool of worker threads; the
// catalog is read and changed, the question asked and files written only on
// the calling thread. A cancel (the progress callback answering non-zero)
// ends the run after the current item; no temporary file is ever left.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog.h"
#include "output/conversion_options.h"
#include "platform/error_codes.h"
#include "platform/progress.h"

namespace norvo::output {

inline constexpr std::string_view kConversionTemporaryName = "~Norvo Temporary File";
inline constexpr std::string_view kConvertingText = "Converting media file:";

// The replace question and its answers.
enum class ReplaceAnswer { kReplace, kSkip, kReplaceAll };
// Asked with the new file's name and its folder; unset: every clash is skipped.
using ReplaceQuestion = std::function<ReplaceAnswer(const std::string& file_name, const std::string& folder)>;
// "Replace file?\nFile 'NAME' already exists in the destination folder 'FOLDER'."
std::string ReplaceQuestionText(const std::string& file_name, const std::string& folder);

enum class LogKind { kConverted, kWarning, kSkipped, kFailed };

// One entry of the action log.
struct ConversionLogEntry {
  std::uint32_t item_id = 0;
  LogKind kind = LogKind::kConverted;
  ErrorCode error = err::kNone;  // why it failed or was skipped
  std::string text;              // for the user
  std::string source;            // the item's file (UTF-8)
  std::string output;            // the new file, when one was written
};

// Progress: kStart (0, total) first, kStep (n, total) after item n, kEnd
// last; `text` is kConvertingText and the file name. A non-zero answer
// cancels after the current item.
using ConversionProgress = std::function<int(ProgressPhase phase, int done, int total, std::string_view text)>;

struct ConversionRequest {
  ConversionOptions options = DefaultConversionOptions(ConversionKind::kImage);
  ImageWriterSettings image_settings;
  AvWriterSettings av_settings;
  // The output file's extension ("jpg", "mp4" ...); empty: the one of the
  // options' format code.
  std::string extension;
  std::vector<std::uint32_t> item_ids;  // empty: every item; taken in catalog order
  // Where the new files go. Empty: "Replace original files": each beside its
  // source, the item pointed at it.
  std::string destination;
  ReplaceQuestion ask;
  ConversionProgress progress;
  int jobs = 0;  // picture workers; 0: one per processor
};

struct ConversionOutcome {
  // 0, err::kUserCancelled after a cancel, or what stopped the whole run
  // (err::kParam: a format this machine cannot write; err::kFolderNotFound:
  // no destination folder).
  ErrorCode result = err::kNone;
  int converted = 0;  // warnings included
  int skipped = 0;
  int failed = 0;
  bool catalog_changed = false;  // items were pointed at new files
  std::vector<ConversionLogEntry> log;
};

ConversionOutcome RunConversion(catalog::Catalog& catalog, const ConversionRequest& request);

// The new file's name: `file_name` with its extension (after the last dot,
// when that dot is not the first character) replaced by `extension`.
std::string ConvertedName(const std::string& file_name, std::string_view extension);

}  // namespace norvo::output
