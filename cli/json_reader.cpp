// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/json_reader.h"

#include <cctype>
#include <cstdint>

namespace norvo::cli {
namespace {

// Nesting deeper than this is refused rather than recursed into.
constexpr int kMaxDepth = 32;

class Flattener {
 public:
  explicit Flattener(std::string_view text) : text_(text) {}

  bool run(KeyValues* out) {
    out_ = out;
    space();
    if (!object("", 0)) return false;
    space();
    return pos_ == text_.size() || fail("text after the end");
  }
  const std::string& error() const { return error_; }

 private:
  bool fail(const std::string& why) {
    if (error_.empty()) error_ = why + " at character " + std::to_string(pos_ + 1);
    return false;
  }
  void space() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  bool take(char c) {
    space();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  static void AppendUtf8(std::string& s, std::uint32_t cp) {
    if (cp < 0x80) {
      s += static_cast<char>(cp);
    } else if (cp < 0x800) {
      s += static_cast<char>(0xC0 | (cp >> 6));
      s += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      s += static_cast<char>(0xE0 | (cp >> 12));
      s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      s += static_cast<char>(0xF0 | (cp >> 18));
      s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      s += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  bool hex4(std::uint32_t* v) {
    if (text_.size() - pos_ < 4) return fail("a short \\u escape");
    *v = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text_[pos_++];
      int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
              : (c >= 'a' && c <= 'f')                    ? c - 'a' + 10
              : (c >= 'A' && c <= 'F')                    ? c - 'A' + 10
                                                          : -1;
      if (d < 0) return fail("a bad \\u escape");
      *v = *v * 16 + static_cast<std::uint32_t>(d);
    }
    return true;
  }

  bool string(std::string* s) {
    if (!take('"')) return fail("a string was expected");
    while (pos_ < text_.size()) {
      char c = text_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return fail("a control character in a string");
      if (c != '\\') {
        *s += c;
        continue;
      }
      if (pos_ >= text_.size()) break;
      char e = text_[pos_++];
      switch (e) {
        case '"': case '\\': case '/': *s += e; break;
        case 'b': *s += '\b'; break;
        case 'f': *s += '\f'; break;
        case 'n': *s += '\n'; break;
        case 'r': *s += '\r'; break;
        case 't': *s += '\t'; break;
        case 'u': {
          std::uint32_t cp = 0;
          if (!hex4(&cp)) return false;
          if (cp >= 0xD800 && cp < 0xDC00 && text_.substr(pos_, 2) == "\\u") {
            pos_ += 2;
            std::uint32_t low = 0;
            if (!hex4(&low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return fail("a lone surrogate");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            return fail("a lone surrogate");
          }
          AppendUtf8(*s, cp);
          break;
        }
        default: return fail("an unknown escape");
      }
    }
    return fail("an unterminated string");
  }

  // A number, true, false or null, as its text.
  bool scalar(std::string* s) {
    space();
    std::size_t start = pos_;
    while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '-' ||
                                   text_[pos_] == '+' || text_[pos_] == '.')) {
      ++pos_;
    }
    *s = std::string(text_.substr(start, pos_ - start));
    if (s->empty()) return fail("a value was expected");
    return true;
  }

  bool plain(std::string* s) {
    space();
    if (pos_ < text_.size() && text_[pos_] == '"') return string(s);
    return scalar(s);
  }

  bool value(const std::string& key, int depth) {
    space();
    if (pos_ >= text_.size()) return fail("a value was expected");
    if (text_[pos_] == '{') return object(key, depth + 1);
    if (text_[pos_] == '[') {
      ++pos_;
      std::string joined;
      if (!take(']')) {
        do {
          space();
          if (pos_ < text_.size() && (text_[pos_] == '{' || text_[pos_] == '[')) {
            return fail("an array may hold only plain values");
          }
          std::string item;
          if (!plain(&item)) return false;
          if (!joined.empty()) joined += ',';
          joined += item;
        } while (take(','));
        if (!take(']')) return fail("']' was expected");
      }
      out_->emplace_back(key, joined);
      return true;
    }
    std::string s;
    if (!plain(&s)) return false;
    out_->emplace_back(key, s);
    return true;
  }

  bool object(const std::string& prefix, int depth) {
    if (depth > kMaxDepth) return fail("nesting too deep");
    if (!take('{')) return fail("'{' was expected");
    if (take('}')) return true;
    do {
      std::string name;
      space();
      if (!string(&name)) return false;
      if (!take(':')) return fail("':' was expected");
      if (!value(prefix.empty() ? name : prefix + "." + name, depth)) return false;
    } while (take(','));
    if (!take('}')) return fail("'}' was expected");
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::string error_;
  KeyValues* out_ = nullptr;
};

}  // namespace

std::optional<KeyValues> FlattenJson(std::string_view text, std::string* error) {
  Flattener f(text);
  KeyValues out;
  if (!f.run(&out)) {
    if (error != nullptr) *error = f.error();
    return std::nullopt;
  }
  return out;
}

}  // namespace norvo::cli
