#include "page_charset.h"

#include <algorithm>
#include <initializer_list>
#include <string>

namespace {

std::string normalise_label(std::string_view label) {
  while (!label.empty() && (label.front() == ' ' || label.front() == '\t' ||
                            label.front() == '"' || label.front() == '\''))
    label.remove_prefix(1);
  while (!label.empty() && (label.back() == ' ' || label.back() == '\t' ||
                            label.back() == '"' || label.back() == '\''))
    label.remove_suffix(1);
  std::string name;
  name.reserve(label.size());
  for (const char c : label) {
    if (c >= 'A' && c <= 'Z') {
      name += static_cast<char>(c - 'A' + 'a');
    } else if (c != '_') {  // shift_jis and shift-jis are one charset
      name += c;
    } else {
      name += '-';
    }
  }
  return name;
}

bool starts_with_any(std::string_view name,
                     std::initializer_list<std::string_view> prefixes) {
  return std::any_of(prefixes.begin(), prefixes.end(),
                     [name](std::string_view prefix) {
                       return name.substr(0, prefix.size()) == prefix;
                     });
}

bool has_prefix(std::string_view bytes, std::string_view prefix) {
  return bytes.substr(0, prefix.size()) == prefix;
}

}  // namespace

PageCharset detect_page_charset(std::string_view bytes,
                                std::string_view label) {
  using namespace std::string_view_literals;
  PageCharset result;
  if (has_prefix(bytes, "\x00\x00\xFE\xFF"sv) ||
      has_prefix(bytes, "\xFF\xFE\x00\x00"sv)) {
    result.encoding = PageEncoding::unsupported;
    return result;
  }
  if (has_prefix(bytes, "\xEF\xBB\xBF"sv)) {
    result.bom_size = 3;
    return result;
  }
  if (has_prefix(bytes, "\xFF\xFE"sv)) {
    result.encoding = PageEncoding::utf16le;
    result.bom_size = 2;
    return result;
  }
  if (has_prefix(bytes, "\xFE\xFF"sv)) {
    result.encoding = PageEncoding::utf16be;
    result.bom_size = 2;
    return result;
  }

  const std::string name = normalise_label(label);
  if (name == "utf-16be" || name == "unicodefffe") {
    result.encoding = PageEncoding::utf16be;
  } else if (name == "utf-16" || name == "utf-16le" || name == "unicode" ||
             name == "ucs-2" || name == "iso-10646-ucs-2" ||
             name == "csunicode") {
    // Without a byte order mark browsers read "utf-16" as little-endian.
    result.encoding = PageEncoding::utf16le;
  } else if (starts_with_any(name, {"utf-32",
                                    "ucs-4",
                                    "iso-10646-ucs-4",
                                    "utf-7",
                                    "unicode-1-1-utf-7",
                                    "iso-2022",
                                    "csiso2022",
                                    "hz-gb",
                                    "ebcdic",
                                    "cp037",
                                    "ibm037",
                                    "ibm-037",
                                    "cp500",
                                    "ibm500",
                                    "cp875",
                                    "cp1026",
                                    "ibm1026",
                                    "cp1047",
                                    "ibm1047",
                                    "cp114",
                                    "ibm114",
                                    "ibm0114",
                                    "x-ebcdic"})) {
    result.encoding = PageEncoding::unsupported;
  } else if (starts_with_any(
                 name, {"shift-jis",  "sjis",        "x-sjis",   "ms-kanji",
                        "csshiftjis", "windows-31j", "cp932",    "ms932",
                        "gbk",        "gb18030",     "gb2312",   "cp936",
                        "ms936",      "windows-936", "x-gbk",    "csgb2312",
                        "big5",       "cn-big5",     "x-x-big5", "csbig5",
                        "cp950",      "ms950"})) {
    result.backslash_is_text = true;
  } else if (name.empty() && bytes.size() >= 2) {
    // An unlabelled page that opens with an ASCII character and a NUL byte
    // can only be UTF-16; no ASCII-compatible text looks like that.
    const auto b0 = static_cast<unsigned char>(bytes[0]);
    const auto b1 = static_cast<unsigned char>(bytes[1]);
    if (b0 != 0 && b0 < 0x80 && b1 == 0)
      result.encoding = PageEncoding::utf16le;
    if (b0 == 0 && b1 != 0 && b1 < 0x80)
      result.encoding = PageEncoding::utf16be;
  }
  return result;
}
