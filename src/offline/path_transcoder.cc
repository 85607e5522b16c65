#include "path_transcoder.h"

#include <cstddef>

namespace {

bool names_utf8(std::string_view charset) {
  std::string name;
  for (const char c : charset)
    if (c != '-' && c != '_' && c != '"' && c != '\'' && c != ' ')
      name += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return name == "utf8" || name == "unicode11utf8";
}

}  // namespace

PathTranscoder::PathTranscoder(std::string_view charset) {
  if (charset.empty() || names_utf8(charset)) return;
  handle_ = ::iconv_open("UTF-8", std::string(charset).c_str());
  // iconv_open answers (iconv_t)-1 for a charset it does not know.
  active_ = handle_ != iconv_t(-1);  // NOLINT(performance-no-int-to-ptr)
}

PathTranscoder::~PathTranscoder() {
  if (active()) ::iconv_close(handle_);
}

bool PathTranscoder::append_utf8(std::string& out, std::string_view bytes) {
  if (!active()) return false;
  const std::size_t before = out.size();
  // A character of any charset iconv knows is at most 4 bytes of UTF-8.
  out.resize(before + 4 * bytes.size() + 4);
  // iconv's input is not const in its declaration only.
  char* in = const_cast<char*>(bytes.data());
  std::size_t in_left = bytes.size();
  char* at = out.data() + before;
  std::size_t out_left = out.size() - before;
  ::iconv(handle_, nullptr, nullptr, nullptr, nullptr);
  const bool done = ::iconv(handle_, &in, &in_left, &at, &out_left) !=
                        static_cast<size_t>(-1) &&
                    in_left == 0 &&
                    ::iconv(handle_, nullptr, nullptr, &at, &out_left) !=
                        static_cast<size_t>(-1);
  out.resize(done ? static_cast<std::size_t>(at - out.data()) : before);
  return done;
}
