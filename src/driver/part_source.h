// Where an archive's parts come from, whatever its layout: each part's
// path, its directory and its encoding, then its body in runs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "stream_decoder.h"
#include "transfer_encoding.h"

struct SourcePart {
  std::string path;       // beneath the output directory
  std::string directory;  // the path's directory ("" for none)
  Encoding encoding = Encoding::quoted_printable;
  std::size_t index = 0;  // the part's place among those handed out, from 0
  // How a base64 body's bytes are read: by the table alone, or as MIME
  // reads them.
  Base64Input base64_input = Base64Input::table;
};

class PartSource {
 public:
  PartSource() = default;
  PartSource(const PartSource&) = delete;
  PartSource& operator=(const PartSource&) = delete;
  virtual ~PartSource() = default;

  // The next part, up to its body; false when no part is left. A body not
  // read through is skipped.
  virtual bool next(SourcePart& part) = 0;
  // The next run of the current part's body, as it stands in the archive;
  // empty once all of it has been handed out. Valid until the next call.
  virtual std::string_view read_body() = 0;
};
