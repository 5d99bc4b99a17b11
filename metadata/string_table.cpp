// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/string_table.h"

#include <span>

namespace norvo::metadata {
namespace {

// A run of texts of one list, the first at `first_index`. A list may be given
// in several runs when only some of its indexes hold texts.
struct ListRun {
  int list;
  int first_index;
  std::span<const char* const> texts;
};

// Field labels; the field table refers to them by index.
constexpr const char* kFieldLabelTexts[] = {
    "Caption",         // 1
    "Title",           // 2
    "Product",         // 3
    "Keywords",        // 4
    "Categories",      // 5
    "Genre",           // 6
    "Status",          // 7
    "Instructions",    // 8
    "Author",          // 9
    "Author Title",    // 10
    "Credit",          // 11
    "Source",          // 12
    "Copyright",       // 13
    "Transmission",    // 14
    "URL",             // 15
    "Location",        // 16
    "City",            // 17
    "State",           // 18
    "Country",         // 19
    "Writer",          // 20
    "File Name",       // 21
    "Path",            // 22
    "Volume Name",     // 23
    "Media Type",      // 24
    "File Size",       // 25
    "File Type",       // 26
    "Encoding",        // 27
    "Date Finder",     // 28
    "Import Device",   // 29
    "Orientation",     // 30
    "Dimensions",      // 31
    "Width",           // 32
    "Height",          // 33
    "Resolution",      // 34
    "Depth",           // 35
    "Pages",           // 36
    "Sample Color",    // 37
    "Poster",          // 38
    "Tracks",          // 39
    "Duration",        // 40
    "Audio Channels",  // 41
    "Audio Rate",      // 42
    "Audio Bit Size",  // 43
    "Data Rate",       // 44
    "Frame Rate",      // 45
    "Spatial Quality", // 46
    "Color Space",     // 47
    "Color Profile",   // 48
    "Characters",      // 49
    "Paragraphs",      // 50
    "Compression",     // 51
    "Created",         // 52
    "Modified",        // 53
    "Archived",        // 54
    "Annotated",       // 55
    "Labels",          // 56
    "Thumbnail Size",  // 57
    "Annotations Size",// 58
    "Recording Size",  // 59
    "Catalog Sets",    // 60
    "Metadata Size",   // 61
    "URL Size",        // 62
    "Maker",           // 63
    "Model",           // 64
    "Software",        // 65
    "Format",          // 66
    "EXIF Vers.",      // 67
    "FlashPix Vers.",  // 68
    "Capture Date",    // 69
    "Aperture",        // 70
    "Shutter Speed",   // 71
    "Exposure Bias",   // 72
    "Exposure Prg.",   // 73
    "Focal Length",    // 74
    "Focus Distance",  // 75
    "Sensing",         // 76
    "Light Source",    // 77
    "Flash",           // 78
    "Metering",        // 79
    "ISO Speed",       // 80
    "Ratio",           // 81
    "Noise Reduction", // 82
    "Lens",            // 83
    "Latitude",        // 84
    "Longitude",       // 85
    "Altitude",        // 86
    "",                // 87
    "",                // 88
    "",                // 89
    "",                // 90
    "",                // 91
    "Event",           // 92
    "Event Date",      // 93
    "People",          // 94
    "",                // 95
};

// Units 1..16: the unit byte of a field, and the document and resolution
// units of the display settings (resolution unit + 6, document unit + 8).
constexpr const char* kUnitTexts[] = {
    "sec",    "bits/pixel", "mm",     "m",      "bits",   "Hz",    "pixels/inch", "pixels/cm",
    "pixels", "inches",     "cm",     "points", "picas",  "bytes", "FPS",         "/sec",
};

constexpr const char* kByteSizeUnitTexts[] = {"bytes", "KB", "MB", "GB", "TB"};

// Info panel sections; only these three carry fields.
constexpr const char* kSectionMediaInfo[] = {"Media Info"};
constexpr const char* kSectionAnnotations[] = {"Annotations"};
constexpr const char* kSectionPhotoExif[] = {"Photo EXIF"};

// Choice lists: the name of value v is at index v + 1.
constexpr const char* kMediaTypeNames[] = {"Image", "Audio", "Video", "Illustration",
                                           "DTP",   "Font",  "Text",  "HTML"};

constexpr const char* kLightSourceNames[] = {
    "Auto",                    // 0
    "Daylight",                // 1
    "Fluorescent",             // 2
    "Tungsten",                // 3
    "Flash",                   // 4
    "", "", "", "",            // 5..8 unused
    "Sunny",                   // 9
    "Cloudy",                  // 10
    "Shade",                   // 11
    "Daylight fluorescent",    // 12
    "Day white fluorescent",   // 13
    "Cool white fluorescent",  // 14
    "White fluorescent",       // 15
    "Warm white fluorescent",  // 16
    "Standard light A",        // 17
    "Standard light B",        // 18
    "Standard light C",        // 19
    "D55",                     // 20
    "D65",                     // 21
    "D75",                     // 22
    "D50",                     // 23
    "ISO studio tungsten",     // 24
    "", "", "", "", "",        // 25..29 unused
    "Preset",                  // 30
};

constexpr const char* kMeteringNames[] = {
    "Unknown", "Average", "Center-weighted average", "Spot", "Multi-spot", "Pattern", "Partial",
};

constexpr const char* kExposureProgramNames[] = {
    "Not Defined",        // 0
    "Manual",             // 1
    "Normal Program",     // 2
    "Aperture Priority",  // 3
    "Shutter Priority",   // 4
    "Creative Program",   // 5
    "Action Program",     // 6
    "Portrait Mode",      // 7
    "Landscape Mode",     // 8
    "", "", "", "", "", "", "", "", "", "",  // 9..18 unused
    "M-DEP",              // 19
    "A-DEP",              // 20
    "Auto",               // 21
    "Night Mode",         // 22
    "Black & White Mode", // 23
    "Sepia Mode",         // 24
    "Sports Mode",        // 25
    "Close-Up Mode",      // 26
    "Panoramic Mode",     // 27
};

constexpr const char* kAudioChannelNames[] = {"-", "Mono", "Stereo"};

// Quality levels 1..6 (the scan maps the video track's spatial quality).
constexpr const char* kQualityTexts[] = {"Minimum", "Low", "Normal", "High", "Maximum", "Lossless"};

constexpr const char* kSensingNames[] = {
    "",                                // 0 unused
    "Not defined",                     // 1
    "One-chip color area sensor",      // 2
    "Two-chip color area sensor",      // 3
    "Three-chip color area sensor",    // 4
    "Color sequential area sensor",    // 5
    "",                                // 6 unused
    "Trilinear sensor",                // 7
    "Color sequential linear sensor",  // 8
};

// Flash: "OFF", then one name per value of the flash value list (in that
// order). Noise reduction reads the same list: 0 "OFF", 1 "ON".
constexpr const char* kFlashTexts[] = {
    "OFF",                                                     // 0
    "ON",                                                      // 1
    "ON - Return not detected",                                // 5
    "ON - Return detected",                                    // 7
    "ON - Compulsory",                                         // 9
    "ON - Compulsory, return not detected",                    // 13
    "ON - Compulsory, return detected",                        // 15
    "OFF - Compulsory",                                        // 16
    "OFF - Auto mode",                                         // 24
    "ON - Auto mode",                                          // 25
    "ON - Auto mode, return not detected",                     // 29
    "ON - Auto mode, return detected",                         // 31
    "No flash function",                                       // 32
    "ON - Red-eye reduction",                                  // 65
    "ON - Red-eye reduction, return not detected",             // 69
    "ON - Red-eye reduction, return detected",                 // 71
    "ON - Compulsory, red-eye reduction",                      // 73
    "ON - Compulsory, red-eye reduction, return not detected", // 77
    "ON - Compulsory, red-eye reduction, return detected",     // 79
    "ON - Auto mode, red-eye reduction",                       // 89
    "ON - Auto mode, red-eye reduction, return not detected",  // 93
    "ON - Auto mode, red-eye reduction, return detected",      // 95
};

// Orientation names from index 2, in the order of the orientation codes
// HV, CF, CW, "H ", "V ", "W ", WF and then any other code. Byte 0xB0 is the
// degree sign.
constexpr const char* kOrientationTexts[] = {
    "180\xB0",           "90\xB0 CCW + flipped", "90\xB0 CCW", "Flipped horizontally", "Flipped vertically",
    "90\xB0 CW",         "90\xB0 CW + flipped",  "Default",
};

constexpr const char* kColourLabelTexts[] = {"None",    "Red",    "Green",  "Blue", "Brown",
                                             "Magenta", "Orange", "Yellow", "Cyan", "Gray"};

constexpr const char* kRemoveFieldText[] = {
    "Remove selected field?\nThis will erase the selected field and its associated data from all items in the "
    "catalog."};
constexpr const char* kCustomFieldTexts[] = {
    "A field with that name already exists.\nPlease choose another name.",
    "The field couldn't be added, because a catalog can contain a maximum of 16 custom fields with unique names.",
};

constexpr ListRun kRuns[] = {
    {strings::kFieldLabels, 1, kFieldLabelTexts},
    {strings::kUnits, 1, kUnitTexts},
    {strings::kByteSizeUnits, 1, kByteSizeUnitTexts},
    {strings::kSections, 2, kSectionMediaInfo},
    {strings::kSections, 4, kSectionAnnotations},
    {strings::kSections, 9, kSectionPhotoExif},
    {strings::kChoiceListBase + 1, 1, kMediaTypeNames},
    {strings::kChoiceListBase + 2, 1, kLightSourceNames},
    {strings::kChoiceListBase + 3, 1, kMeteringNames},
    {strings::kChoiceListBase + 4, 1, kExposureProgramNames},
    {strings::kChoiceListBase + 5, 1, kAudioChannelNames},
    {strings::kQualityNames, 1, kQualityTexts},
    {strings::kChoiceListBase + 7, 1, kSensingNames},
    {strings::kChoiceListBase + 8, 1, kFlashTexts},
    {strings::kOrientationNames, 2, kOrientationTexts},
    {strings::kColourLabels, 1, kColourLabelTexts},
    {strings::kMessages, 22, kRemoveFieldText},
    {strings::kMessages, 59, kCustomFieldTexts},
};

}  // namespace

std::string_view ListText(int list, int index) {
  for (const ListRun& run : kRuns) {
    if (run.list != list || index < run.first_index) continue;
    auto offset = static_cast<std::size_t>(index - run.first_index);
    if (offset < run.texts.size()) return run.texts[offset];
  }
  return {};
}

std::string_view StringText(int number) {
  if (number <= 0) return {};
  return ListText(number / 100, number % 100);
}

int ListLength(int list) {
  int length = 0;
  for (const ListRun& run : kRuns) {
    if (run.list != list) continue;
    for (std::size_t i = run.texts.size(); i > 0; --i) {
      if (run.texts[i - 1][0] != '\0') {
        int last = run.first_index + static_cast<int>(i) - 1;
        if (last > length) length = last;
        break;
      }
    }
  }
  return length;
}

}  // namespace norvo::metadata
