// How the bytes of an HTML or CSS part are read when references in it are
// rewritten: as bytes (every ASCII-compatible charset), as UTF-16 in either
// byte order, or not at all.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

enum class PageEncoding {
  bytes,  // an ASCII byte is always that ASCII character
  utf16le,
  utf16be,
  unsupported,  // UTF-32, UTF-7, ISO-2022, EBCDIC: left as they are
};

struct PageCharset {
  PageEncoding encoding = PageEncoding::bytes;
  // The legacy double-byte charsets (Shift_JIS, GBK, Big5) have 0x5C among
  // their second bytes: there a backslash is not taken for a CSS escape.
  bool backslash_is_text = false;
  std::size_t bom_size = 0;  // bytes of byte order mark at the start
  // The charset as the label or the <meta> named it; empty for a byte
  // order mark or when nothing named one.
  std::string name;
};

// Decided as browsers do: a byte order mark, else the label (the charset
// parameter of the part's Content-Type; may be empty, quoted or in any
// case), else, in an HTML page (`html`), a <meta charset> or <meta
// http-equiv=Content-Type content="...charset=..."> within the first
// 1,024 bytes. An unknown label is read as bytes, as browsers fall back to
// an ASCII-compatible charset for it.
PageCharset detect_page_charset(std::string_view bytes, std::string_view label,
                                bool html = false);

// The charset a <meta> in the first 1,024 bytes of an HTML page declares,
// as it stands; empty when none does.
std::string meta_charset(std::string_view bytes);
