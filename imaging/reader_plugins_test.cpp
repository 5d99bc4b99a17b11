// SPDX-License-Identifier: GPL-3.0-or-later
// The reader plug-ins: finding and opening modules, refusing what is not
// one, the component lists the registry reads instead of opening them, and
// pictures read through a module matching the same reader run in-process.
#include "platform/reader_plugins.h"

#include <gtest/gtest.h>
#include <libheif/heif.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "imaging/readers.h"
#include "platform/plugin_module.h"
#include "imaging/test_pictures.h"
#include "platform/byte_io.h"

extern "C" const NorvoReaderPlugin* norvo_reader_plugin_v1();  // the HEIF reader, built into this test

// The HEVC encoder that writes the test's HEIC samples (x265, under libheif)
// keeps about 1 KB per encoder it never frees; the leak checker of the
// sanitizer build would fail the test for it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx265.so\n"; }

namespace norvo::imaging {
namespace {

namespace fs = std::filesystem;
using namespace plugins;
using testing::MeanDifference;
using testing::PatternPicture;

std::string BuiltModule(std::string_view family) {
  return ExecutableFolder() + "/../plugins/" + PluginFileName(family);
}

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "norvo-plugins-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string write(const std::string& name, const std::string& text) const {
    const std::string path = path_ + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Points the search at one folder for the length of a test, then back.
class PluginFolderOverride {
 public:
  explicit PluginFolderOverride(const std::string& folder) {
    const char* old = std::getenv(kPluginDirVariable);
    had_ = old != nullptr;
    if (had_) old_ = old;
    ::setenv(kPluginDirVariable, folder.c_str(), 1);
    ResetReaderPluginsForTest();
  }
  ~PluginFolderOverride() {
    if (had_) {
      ::setenv(kPluginDirVariable, old_.c_str(), 1);
    } else {
      ::unsetenv(kPluginDirVariable);
    }
    ResetReaderPluginsForTest();
  }

 private:
  bool had_ = false;
  std::string old_;
};

TEST(ReaderPlugins, OpeningRefusesWhatIsNotAModuleOfTheFamily) {
  ScratchFolder dir;
  const std::string text_file = dir.write("norvo-heif.so", "this is not a shared object\n");
  const struct {
    const char* what;
    std::string path;
    std::string_view family;
    std::uint32_t layout;
    ErrorCode code;
    const char* reason;  // part of the message
  } cases[] = {
      {"missing file", dir.path() + "/none.so", kHeifFamily, 0, err::kFileNotFound, "none.so"},
      {"not a shared object", text_file, kHeifFamily, 0, err::kNoReaderForFormat, "norvo-heif.so"},
      {"module of another family", BuiltModule(kRawFamily), kHeifFamily, 0, err::kNoReaderForFormat,
       "not a module of the heif readers"},
      {"other type layout", BuiltModule(kHeifFamily), kHeifFamily, kStillImageLayout + 1, err::kNoReaderForFormat,
       "other sources"},
  };
  static const NorvoReaderPlugin kLeftOver{};
  for (const auto& c : cases) {
    const NorvoReaderPlugin* plugin = &kLeftOver;
    std::string error;
    EXPECT_EQ(OpenReaderPlugin(c.path, c.family, c.layout, &plugin, &error), c.code) << c.what;
    EXPECT_EQ(plugin, nullptr) << c.what;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
  }
  // A shared object without the entry point: the loader names the symbol.
  const NorvoReaderPlugin* plugin = nullptr;
  std::string error;
  EXPECT_EQ(OpenReaderPlugin("/proc/self/exe", kHeifFamily, 0, &plugin, &error), err::kNoReaderForFormat);
  EXPECT_FALSE(error.empty());
}

TEST(PluginModule, SystemLibrariesOpenBySonameAndFailuresAreNamed) {
  PluginModule zlib;
  std::string error;
  ASSERT_EQ(PluginModule::Open("libz.so.1", &zlib, &error), err::kNone) << error;
  EXPECT_NE(zlib.symbol("zlibVersion", &error), nullptr);
  EXPECT_EQ(zlib.symbol("norvo_no_such_symbol", &error), nullptr);
  EXPECT_NE(error.find("norvo_no_such_symbol"), std::string::npos) << error;

  PluginModule none;
  EXPECT_EQ(PluginModule::Open("libnorvo-none.so.9", &none, &error), err::kNoReaderForFormat);
  EXPECT_FALSE(none.isOpen());
  EXPECT_NE(error.find("libnorvo-none.so.9"), std::string::npos) << error;
  EXPECT_EQ(none.symbol("zlibVersion", &error), nullptr);
}

TEST(ReaderPlugins, EveryBuiltModuleOpensWithItsOwnTable) {
  for (std::string_view family : kPluginFamilies) {
    if (!fs::exists(BuiltModule(family))) {
      EXPECT_EQ(family, kDocumentsFamily) << "only the PDF module is optional";
      continue;
    }
    const NorvoReaderPlugin* plugin = nullptr;
    std::string error;
    ASSERT_EQ(OpenReaderPlugin(BuiltModule(family), family, 0, &plugin, &error), err::kNone) << error;
    EXPECT_EQ(plugin->abi, kNorvoReaderPluginAbi);
    EXPECT_EQ(std::string_view(plugin->family), family);
    EXPECT_NE(plugin->library, nullptr);
    const bool still = family == kHeifFamily || family == kRawFamily;
    EXPECT_EQ(plugin->read_still_image != nullptr, still) << family;
    EXPECT_EQ(plugin->read_movie_file != nullptr, family == kMoviesFamily) << family;
    EXPECT_EQ(plugin->read_pdf != nullptr, family == kDocumentsFamily) << family;
    EXPECT_EQ(plugin->encode_media != nullptr, family == kEncoderFamily) << family;
    if (still) {
      EXPECT_EQ(plugin->layout, kStillImageLayout) << family;
    }
  }
}

// A missing or broken module is the error of a format without a reader,
// with the loader's reason kept, and never more than that.
TEST(ReaderPlugins, ReadsWithoutAUsableModuleFailAsFormatsWithoutAReader) {
  ScratchFolder dir;
  const std::vector<std::uint8_t> heif_head = {0, 0, 0, 24, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c', 0, 0, 0, 0};
  {
    PluginFolderOverride folder(dir.path());
    DecodedImage image;
    EXPECT_EQ(ReadStillImage(heif_head, 0, 96, &image), err::kNoReaderForFormat);
    EXPECT_NE(ReaderPluginError(kHeifFamily).find("norvo-heif.so"), std::string::npos);
    EXPECT_FALSE(DescribeReaderPlugin(kHeifFamily).found);
  }
  dir.write("norvo-heif.so", std::string(4096, 'x'));
  {
    PluginFolderOverride folder(dir.path());
    DecodedImage image;
    EXPECT_EQ(ReadStillImage(heif_head, kFormatHeif, 0, &image), err::kNoReaderForFormat);
    EXPECT_TRUE(image.picture.empty());
    EXPECT_FALSE(ReaderPluginError(kHeifFamily).empty());
    // Found but unusable: it offers nothing, and asking did not crash.
    const PluginDescription d = DescribeReaderPlugin(kHeifFamily);
    EXPECT_TRUE(d.found);
    EXPECT_TRUE(d.components.empty());
  }
}

TEST(ReaderPlugins, ComponentListsReadBackAndRefuseDamage) {
  PluginDescription d;
  d.found = true;
  d.features = kNorvoFeatureVideoPlayback | kNorvoFeaturePdfDocuments;
  d.components = {{FourCC("grip"), FourCC("CR2 "), FourCC("lraw"), 0, "Canon CR2 Raw"},
                  {FourCC("eat "), FourCC("mp4 "), FourCC("ffmp"), 0x4802, "MPEG-4 Movie Importer"},
                  {FourCC("eat "), FourCC("wav "), FourCC("soun"), 0xFFFFFFFF, ""}};
  const std::string text = FormatPluginDescription(d, 123456);
  PluginDescription back;
  ASSERT_TRUE(ParsePluginDescription(text, 123456, &back));
  EXPECT_EQ(back.features, d.features);
  EXPECT_EQ(back.components, d.components);

  const std::size_t first_component = text.find("component");
  const struct {
    const char* what;
    std::string text;
    std::uint64_t size;
  } refused[] = {
      {"module of another size", text, 123457},
      {"cut short", text.substr(0, text.size() - 1), 123456},
      {"no header", text.substr(text.find('\n') + 1), 123456},
      {"no features line", text.substr(0, text.find("features")) + text.substr(first_component), 123456},
      {"bad number", text.substr(0, first_component) + "component 67z26970 1 2 3 x\n", 123456},
      {"too few numbers", text.substr(0, first_component) + "component 1 2 3\n", 123456},
      {"number too large", text.substr(0, first_component) + "component 100000000 1 2 3 x\n", 123456},
      {"unknown line", text + "colour blue\n", 123456},
      {"empty", "", 123456},
  };
  for (const auto& c : refused) {
    PluginDescription out;
    out.features = 77;
    EXPECT_FALSE(ParsePluginDescription(c.text, c.size, &out)) << c.what;
    EXPECT_EQ(out.features, 77u) << c.what << ": left as it was";
  }
}

// The registry's view from the lists written by the build is what the
// modules say when asked, and without a list the module is asked.
TEST(ReaderPlugins, ComponentListsAgreeWithTheModules) {
  for (std::string_view family : kPluginFamilies) {
    if (!fs::exists(BuiltModule(family))) continue;
    const PluginDescription listed = DescribeReaderPlugin(family);
    const NorvoReaderPlugin* plugin = nullptr;
    std::string error;
    ASSERT_EQ(OpenReaderPlugin(BuiltModule(family), family, 0, &plugin, &error), err::kNone) << error;
    const PluginDescription asked = DescribeOpenPlugin(*plugin);
    EXPECT_TRUE(listed.found);
    EXPECT_EQ(listed.features, asked.features) << family;
    EXPECT_EQ(listed.components, asked.components) << family;
  }
  // A module copied without its list, and one whose list is stale.
  ScratchFolder dir;
  fs::copy_file(BuiltModule(kRawFamily), dir.path() + "/" + PluginFileName(kRawFamily));
  PluginFolderOverride folder(dir.path());
  const PluginDescription without_list = DescribeReaderPlugin(kRawFamily);
  dir.write(PluginComponentsFileName(kRawFamily), FormatPluginDescription(PluginDescription{true, 0, {}}, 1));
  const PluginDescription stale_list = DescribeReaderPlugin(kRawFamily);
  EXPECT_FALSE(without_list.components.empty());
  EXPECT_EQ(stale_list.components, without_list.components);
}

// --- a HEIF picture read through the module ------------------------------------------

heif_error AppendBytes(heif_context*, const void* data, size_t size, void* userdata) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(userdata);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
  return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
}

// The picture as a HEIC file, with Exif and XMP items when given, or empty
// when libheif has no HEVC encoder.
std::vector<std::uint8_t> EncodeHeic(const PixelBuffer& picture, const std::vector<std::uint8_t>& exif = {},
                                     const std::string& xmp = {}) {
  std::vector<std::uint8_t> file;
  heif_init(nullptr);
  std::unique_ptr<heif_context, void (*)(heif_context*)> context(heif_context_alloc(), heif_context_free);
  heif_encoder* raw_encoder = nullptr;
  if (heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &raw_encoder).code != heif_error_Ok) {
    return file;
  }
  std::unique_ptr<heif_encoder, void (*)(heif_encoder*)> encoder(raw_encoder, heif_encoder_release);
  heif_encoder_set_lossy_quality(encoder.get(), 95);
  heif_image* raw_image = nullptr;
  const int w = picture.width();
  const int h = picture.height();
  if (heif_image_create(w, h, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &raw_image).code != heif_error_Ok) {
    return file;
  }
  std::unique_ptr<heif_image, void (*)(const heif_image*)> image(raw_image, heif_image_release);
  heif_image_add_plane(image.get(), heif_channel_interleaved, w, h, 8);
  int stride = 0;
  std::uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const std::uint8_t* s = picture.row(y) + x * kBytesPerPixel;
      std::uint8_t* d = plane + y * stride + x * 3;
      d[0] = s[1];
      d[1] = s[2];
      d[2] = s[3];
    }
  }
  heif_image_handle* raw_handle = nullptr;
  if (heif_context_encode_image(context.get(), image.get(), encoder.get(), nullptr, &raw_handle).code !=
      heif_error_Ok) {
    return file;
  }
  std::unique_ptr<heif_image_handle, void (*)(const heif_image_handle*)> handle(raw_handle,
                                                                                heif_image_handle_release);
  if (!exif.empty()) heif_context_add_exif_metadata(context.get(), handle.get(), exif.data(), static_cast<int>(exif.size()));
  if (!xmp.empty()) heif_context_add_XMP_metadata(context.get(), handle.get(), xmp.data(), static_cast<int>(xmp.size()));
  heif_writer writer{1, AppendBytes};
  if (heif_context_write(context.get(), &writer, &file).code != heif_error_Ok) file.clear();
  return file;
}

TEST(ReaderPlugins, HeifThroughTheModuleMatchesTheReaderInProcess) {
  const PixelBuffer source = PatternPicture(96, 64);
  const std::vector<std::uint8_t> heic = EncodeHeic(source);
  if (heic.empty()) GTEST_SKIP() << "libheif has no HEVC encoder";
  ASSERT_EQ(SniffImageFormat(heic), kFormatHeif);

  for (int box : {0, 48}) {
    DecodedImage through_module;
    ASSERT_EQ(ReadStillImage(heic, 0, box, &through_module), err::kNone) << ReaderPluginError(kHeifFamily);
    DecodedImage in_process;
    ASSERT_EQ(norvo_reader_plugin_v1()->read_still_image(heic.data(), heic.size(), kFormatHeif, box, &in_process),
              err::kNone);
    EXPECT_EQ(through_module.facts.width, 96);
    EXPECT_EQ(through_module.facts.height, 64);
    EXPECT_EQ(through_module.facts.compressor, "HEIF");
    EXPECT_EQ(through_module.facts.depth, in_process.facts.depth);
    EXPECT_EQ(through_module.facts.colour_space, kColourRgb);
    EXPECT_EQ(MeanDifference(through_module.picture, in_process.picture), 0.0) << "box " << box;
    // Lossy, but the pattern is there.
    EXPECT_LT(MeanDifference(through_module.picture, source), 6.0) << "box " << box;
  }
}

struct Block {
  std::string type;
  std::string content_type;
  std::vector<std::uint8_t> bytes;
};

void KeepBlock(void* context, const char* type, const char* content_type, const std::uint8_t* bytes, std::size_t size) {
  static_cast<std::vector<Block>*>(context)->push_back(Block{type, content_type, {bytes, bytes + size}});
}

int ReadFromVector(void* context, std::uint64_t offset, void* buffer, std::size_t length) {
  const auto& file = *static_cast<const std::vector<std::uint8_t>*>(context);
  if (offset > file.size() || length > file.size() - offset) return 1;
  std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(offset), length, static_cast<std::uint8_t*>(buffer));
  return 0;
}

TEST(ReaderPlugins, HeifMetadataItemsComeThroughTheModule) {
  // libheif puts the offset to the TIFF header in front of the Exif data.
  const std::vector<std::uint8_t> exif = {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0};
  const std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF/></x:xmpmeta>";
  std::vector<std::uint8_t> heic = EncodeHeic(PatternPicture(32, 32), exif, xmp);
  if (heic.empty()) GTEST_SKIP() << "libheif has no HEVC encoder";
  const NorvoReaderPlugin* plugin = ReaderPlugin(kHeifFamily, kStillImageLayout);
  ASSERT_NE(plugin, nullptr) << ReaderPluginError(kHeifFamily);
  ASSERT_NE(plugin->read_heif_metadata, nullptr);

  NorvoByteSource source{&heic, heic.size(), ReadFromVector};
  std::vector<Block> blocks;
  ASSERT_EQ(plugin->read_heif_metadata(&source, 1 << 20, &blocks, KeepBlock), err::kNone);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].type, "Exif");
  ASSERT_EQ(blocks[0].bytes.size(), exif.size() + 4);
  EXPECT_TRUE(std::equal(exif.begin(), exif.end(), blocks[0].bytes.begin() + 4));
  EXPECT_EQ(blocks[1].type, "mime");
  EXPECT_EQ(blocks[1].content_type, "application/rdf+xml");
  EXPECT_EQ(std::string(blocks[1].bytes.begin(), blocks[1].bytes.end()), xmp);

  // Blocks above the limit are left out; a cut file is refused.
  blocks.clear();
  ASSERT_EQ(plugin->read_heif_metadata(&source, exif.size(), &blocks, KeepBlock), err::kNone);
  EXPECT_TRUE(blocks.empty());
  NorvoByteSource cut{&heic, 40, ReadFromVector};
  EXPECT_EQ(plugin->read_heif_metadata(&cut, 1 << 20, &blocks, KeepBlock), kBadImageData);
}

}  // namespace
}  // namespace norvo::imaging
