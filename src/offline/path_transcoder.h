// A page in a legacy charset names files by its own bytes, but a browser
// asks for the path of such a URL in UTF-8 (the query keeps the page's
// bytes), and an archive locates each part by the URL that was asked for.
#pragma once

#include <iconv.h>

#include <string>
#include <string_view>

class PathTranscoder {
 public:
  // `charset` as the page's label or <meta> named it. UTF-8, none, or one
  // this system cannot convert leaves the transcoder inactive.
  explicit PathTranscoder(std::string_view charset);
  PathTranscoder(const PathTranscoder&) = delete;
  PathTranscoder& operator=(const PathTranscoder&) = delete;
  PathTranscoder(PathTranscoder&&) = delete;
  PathTranscoder& operator=(PathTranscoder&&) = delete;
  ~PathTranscoder();

  [[nodiscard]] bool active() const { return active_; }

  // `bytes` of the page's charset appended to `out` in UTF-8; false, with
  // `out` as it was, when they are no characters of that charset.
  bool append_utf8(std::string& out, std::string_view bytes);

 private:
  iconv_t handle_{};
  bool active_ = false;
};
