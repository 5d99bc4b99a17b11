// SPDX-License-Identifier: GPL-3.0-or-later
// The encoder's side in the program: every call is handed to the encoder
// plug-in (FFmpeg), opened on the first call, so that a program that never
// encodes never maps FFmpeg.
#include "output/media_encoder.h"

#include "output/encoder_plugin_layout.h"

namespace norvo::output {
namespace {

const NorvoReaderPlugin* EncoderPlugin() { return plugins::ReaderPlugin(plugins::kEncoderFamily, kEncoderLayout); }

int CallKeepGoing(void* context, double done_fraction) {
  const auto& keep_going = *static_cast<const std::function<bool(double)>*>(context);
  return keep_going(done_fraction) ? 1 : 0;
}

}  // namespace

std::vector<AvFormat> EncodableAvFormats() {
  std::vector<AvFormat> out;
  const NorvoReaderPlugin* plugin = EncoderPlugin();
  if (plugin != nullptr && plugin->encodable_formats != nullptr) plugin->encodable_formats(&out);
  return out;
}

std::string MediaEncoderError() {
  return EncoderPlugin() != nullptr ? std::string() : plugins::ReaderPluginError(plugins::kEncoderFamily);
}

ErrorCode EncodeMedia(const std::string& source, const std::string& destination, const std::string& extension,
                      const AvEncodeSettings& settings, const std::function<bool(double done_fraction)>& keep_going,
                      std::string* log_text) {
  if (log_text) log_text->clear();
  const NorvoReaderPlugin* plugin = EncoderPlugin();
  if (plugin == nullptr || plugin->encode_media == nullptr) {
    if (log_text) *log_text = "no movie encoder: " + plugins::ReaderPluginError(plugins::kEncoderFamily);
    return err::kNoReaderForFormat;
  }
  // The callback is passed as the context of a plain function, and not at
  // all when there is none.
  return plugin->encode_media(source.c_str(), destination.c_str(), extension.c_str(), &settings,
                              const_cast<std::function<bool(double)>*>(&keep_going),
                              keep_going ? CallKeepGoing : nullptr, log_text);
}

std::vector<AvCodecChoice> AvCodecChoices(const std::string& extension, bool video) {
  std::vector<AvCodecChoice> out;
  const NorvoReaderPlugin* plugin = EncoderPlugin();
  if (plugin != nullptr && plugin->codec_choices != nullptr) plugin->codec_choices(extension.c_str(), video ? 1 : 0, &out);
  return out;
}

std::vector<int> AvEncoderSampleRates(const std::string& encoder) {
  std::vector<int> out;
  const NorvoReaderPlugin* plugin = EncoderPlugin();
  if (plugin != nullptr && plugin->encoder_sample_rates != nullptr) plugin->encoder_sample_rates(encoder.c_str(), &out);
  return out;
}

int AvEncoderMaxChannels(const std::string& encoder) {
  const NorvoReaderPlugin* plugin = EncoderPlugin();
  return plugin != nullptr && plugin->encoder_max_channels != nullptr ? plugin->encoder_max_channels(encoder.c_str())
                                                                      : 0;
}

}  // namespace norvo::output
