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

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_lower(std::string_view text, std::string_view word) {
  return text.size() == word.size() &&
         std::equal(text.begin(), text.end(), word.begin(),
                    [](char a, char b) { return lower(a) == b; });
}

// The charset named after "charset=" in a content attribute, or empty.
std::string_view charset_in_content(std::string_view content) {
  for (std::size_t i = 0; i + 7 <= content.size(); ++i) {
    if (!same_lower(content.substr(i, 7), "charset")) continue;
    std::size_t k = i + 7;
    while (k < content.size() && is_space(content[k])) ++k;
    if (k >= content.size() || content[k] != '=') continue;
    ++k;
    while (k < content.size() && is_space(content[k])) ++k;
    if (k < content.size() && (content[k] == '"' || content[k] == '\'')) {
      const std::size_t close = content.find(content[k], k + 1);
      if (close == std::string_view::npos) return {};
      return content.substr(k + 1, close - k - 1);
    }
    std::size_t end = k;
    while (end < content.size() && !is_space(content[end]) &&
           content[end] != ';')
      ++end;
    return content.substr(k, end - k);
  }
  return {};
}

}  // namespace

PageCharset detect_page_charset(std::string_view bytes, std::string_view label,
                                bool html) {
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

  std::string name = normalise_label(label);
  result.name = label;
  bool from_meta = false;
  if (name.empty() && html) {
    result.name = meta_charset(bytes);
    name = normalise_label(result.name);
    from_meta = !name.empty();
  }
  if (from_meta && name.starts_with("utf-16")) {
    // A page that could read its own <meta> is not UTF-16: browsers take
    // it for UTF-8.
  } else if (name == "utf-16be" || name == "unicodefffe") {
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

std::string meta_charset(std::string_view bytes) {
  bytes = bytes.substr(0, 1024);
  std::size_t i = 0;
  while ((i = bytes.find('<', i)) != std::string_view::npos) {
    if (bytes.substr(i, 4) == "<!--") {
      const std::size_t close = bytes.find("-->", i + 2);
      if (close == std::string_view::npos) return {};
      i = close + 3;
      continue;
    }
    const bool meta = same_lower(bytes.substr(i + 1, 4), "meta") &&
                      i + 5 < bytes.size() &&
                      (is_space(bytes[i + 5]) || bytes[i + 5] == '/');
    i += 1;
    if (!meta) continue;
    i += 4;
    std::string_view charset;
    std::string_view content;
    bool content_type = false;
    // Attributes up to the ">"; a value may be quoted.
    while (i < bytes.size() && bytes[i] != '>') {
      if (is_space(bytes[i]) || bytes[i] == '/') {
        ++i;
        continue;
      }
      const std::size_t name_begin = i;
      while (i < bytes.size() && !is_space(bytes[i]) && bytes[i] != '=' &&
             bytes[i] != '>' && bytes[i] != '/')
        ++i;
      const std::string_view name = bytes.substr(name_begin, i - name_begin);
      while (i < bytes.size() && is_space(bytes[i])) ++i;
      std::string_view value;
      if (i < bytes.size() && bytes[i] == '=') {
        ++i;
        while (i < bytes.size() && is_space(bytes[i])) ++i;
        if (i < bytes.size() && (bytes[i] == '"' || bytes[i] == '\'')) {
          const std::size_t close = bytes.find(bytes[i], i + 1);
          if (close == std::string_view::npos) return {};
          value = bytes.substr(i + 1, close - i - 1);
          i = close + 1;
        } else {
          const std::size_t begin = i;
          while (i < bytes.size() && !is_space(bytes[i]) && bytes[i] != '>')
            ++i;
          value = bytes.substr(begin, i - begin);
        }
      }
      if (same_lower(name, "charset") && charset.empty()) charset = value;
      if (same_lower(name, "content") && content.empty()) content = value;
      if (same_lower(name, "http-equiv"))
        content_type = same_lower(value, "content-type");
    }
    if (!charset.empty()) return std::string(charset);
    if (content_type) {
      const std::string_view named = charset_in_content(content);
      if (!named.empty()) return std::string(named);
    }
  }
  return {};
}
