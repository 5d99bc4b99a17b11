// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/media_types.h"

#include <array>

namespace norvo::media {
namespace {

struct ClassLabels {
  std::string_view name;
  std::string_view short_label;
  std::string_view long_label;
};

constexpr std::array<ClassLabels, kMediaClassCount> kClassLabels = {{
    {"Image", "Image", "Images"},
    {"Audio", "Audio", "Audio files"},
    {"Video", "Video", "Animations, Movies"},
    {"Illustration", "Illustration", "Illustrations, EPS"},
    {"DTP", "DTP", "DTP documents"},
    {"Font", "Font", "Fonts"},
    {"Text", "Text", "Text documents"},
    {"HTML", "HTML", "HTML documents"},
}};

const ClassLabels* LabelsOf(MediaClass media_class) {
  auto index = static_cast<std::size_t>(media_class);
  return index < kClassLabels.size() ? &kClassLabels[index] : nullptr;
}

}  // namespace

std::string_view MediaClassName(MediaClass media_class) {
  const ClassLabels* labels = LabelsOf(media_class);
  return labels ? labels->name : std::string_view();
}

std::string_view MediaClassShortLabel(MediaClass media_class) {
  const ClassLabels* labels = LabelsOf(media_class);
  return labels ? labels->short_label : std::string_view();
}

std::string_view MediaClassLongLabel(MediaClass media_class) {
  const ClassLabels* labels = LabelsOf(media_class);
  return labels ? labels->long_label : std::string_view();
}

}  // namespace norvo::media
