#include "scan/SafeText.h"

namespace zn7qx::scan {

std::string EscapeText(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b == '\\') {
      out += "\\\\";
    } else if (b >= 0x20 && b < 0x7f) {
      out += c;
    } else {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 0xf];
    }
  }
  return out;
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

std::string EscapeJsonControls(std::string_view json) {
  static constexpr char kHex[] = "0123456789abcdef";
  const auto escape = [](std::string& out, unsigned code) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 0xf];
  };
  std::string out;
  out.reserve(json.size());
  bool inString = false;
  for (std::size_t i = 0; i < json.size(); ++i) {
    const auto b = static_cast<unsigned char>(json[i]);
    const auto next = [&](std::size_t k) { return i + k < json.size() ? static_cast<unsigned char>(json[i + k]) : 0u; };
    if (!inString) {
      inString = b == '"';
      out += json[i];
    } else if (b == '"') {
      inString = false;
      out += json[i];
    } else if (b == '\\') {
      // The short escapes of C0 controls; any other escape stays as it is.
      static constexpr std::string_view kShort = "btnfr";
      static constexpr unsigned kCode[] = {0x08, 0x09, 0x0a, 0x0c, 0x0d};
      const auto at = kShort.find(static_cast<char>(next(1)));
      if (next(1) != 0 && at != std::string_view::npos) {
        escape(out, kCode[at]);
      } else {
        out += json.substr(i, 2);
      }
      ++i;
    } else if (b < 0x20 || b == 0x7f) {
      escape(out, b);
    } else if (b == 0xc2 && next(1) >= 0x80 && next(1) <= 0x9f) {
      escape(out, next(1));
      ++i;
    } else if (b == 0xe2 && next(1) == 0x80 && (next(2) == 0xa8 || next(2) == 0xa9)) {
      escape(out, 0x2000 + next(2) - 0x80);  // U+2028, U+2029
      i += 2;
    } else {
      out += json[i];
    }
  }
  return out;
}

}  // namespace zn7qx::scan
