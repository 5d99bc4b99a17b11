// SPDX-License-Identifier: GPL-3.0-or-later
// The still-image readers that live in plug-ins (HEIF through libheif,
// camera raw through LibRaw): each is a stand-in in the reader table that
// opens its module on the first read and hands the read on.
#include <string_view>

#include "imaging/readers.h"
#include "platform/reader_plugins.h"

namespace norvo::imaging {
namespace {

class PluginStillImageReader final : public StillImageReader {
 public:
  explicit PluginStillImageReader(std::string_view family) : family_(family) {}

  ErrorCode read(std::span<const std::uint8_t> bytes, int box, DecodedImage* out) const override {
    const NorvoReaderPlugin* plugin = plugins::ReaderPlugin(family_, kStillImageLayout);
    if (plugin == nullptr || plugin->read_still_image == nullptr) return err::kNoReaderForFormat;
    return plugin->read_still_image(bytes.data(), bytes.size(), 0, box, out);
  }

 private:
  std::string_view family_;
};

}  // namespace

const StillImageReader& HeifReader() {
  static const PluginStillImageReader reader(plugins::kHeifFamily);
  return reader;
}

const StillImageReader& CameraRawReader() {
  static const PluginStillImageReader reader(plugins::kRawFamily);
  return reader;
}

}  // namespace norvo::imaging
