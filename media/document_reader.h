// SPDX-License-Identifier: GPL-3.0-or-later
// The document reader: a picture of the first page of a PDF file (Poppler)
// or of an office document (LibreOffice run headless to convert it to PNG,
// when it is installed), with the page's facts. Any thread may call it, one
// file per call; LibreOffice runs get their own profile folder, so several
// may run at once.
//
// Errors: err::kFileNotFound and the other file errors; err::kNoDocumentPicture when no page picture can be
// made (a damaged or locked PDF, no PDF plug-in (norvo-documents.so, the
// Poppler side, opened on the first read), no LibreOffice, a conversion
// that failed or ran out of time); err::kOutOfMemory.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/pixel_buffer.h"
#include "platform/error_codes.h"

namespace norvo::media {

struct DocumentFacts {
  std::int32_t pages = 0;       // 0 when unknown (office documents)
  std::int32_t width = 0;       // the first page in pixels at `resolution`
  std::int32_t height = 0;
  std::int32_t resolution = 72; // pixels per inch of width and height
  std::int32_t depth = 32;
  std::uint32_t colour_space = 0;  // 'RGB '
};

// Side of the square a preview of a document asks for, by the extension
// code of its file name: 'PDF ' 600, 'DOC '/'DOT ' 1123, 'XLS '/'XLT ' 347,
// 'PPT '/'POT ' 815, any other 800.
int DocumentPreviewSize(std::uint32_t extension_code);

// How office documents are converted.
struct OfficeConverter {
  std::string program;       // the LibreOffice program; empty: `soffice` found on $PATH
  int timeout_ms = 120000;   // a conversion still running then is stopped
};

// The LibreOffice program on $PATH (`soffice`, else `libreoffice`), or "".
std::string FindOfficeProgram();

// Whether this build reads PDF files.
bool HavePdfReader();

// A PDF's page count and its first page, rendered to fit `box` (0: the page
// at 72 dpi, within the pixel limit). Width and height are the page's size
// at 72 dpi (the crop box, turned as the page asks).
ErrorCode ReadPdfDocument(const std::string& path, int box, DocumentFacts* facts, imaging::PixelBuffer* picture);

// An office document's first page through LibreOffice, fitted into `box`
// (0: as converted). Width and height are the converted page's.
ErrorCode ReadOfficeDocument(const std::string& path, int box, const OfficeConverter& converter,
                             DocumentFacts* facts, imaging::PixelBuffer* picture);

// Either of the two, by the file's first bytes: a file beginning with
// "%PDF" within its first 1024 bytes is a PDF. A null `picture` gives the
// facts only where that is cheaper (PDF).
ErrorCode ReadDocument(const std::string& path, int box, DocumentFacts* facts, imaging::PixelBuffer* picture);

}  // namespace norvo::media
