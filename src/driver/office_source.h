// The default mode's parts: read by their position in the archive (the
// location line, the encoding line, two more, then the body).
#pragma once

#include <string_view>

#include "archive_reader.h"
#include "part_source.h"

class OfficeSource final : public PartSource {
 public:
  // Takes a freshly opened archive (open_archive).
  explicit OfficeSource(ArchiveReader reader);

  bool next(SourcePart& part) override;
  std::string_view read_body() override { return ::read_body(reader_); }

 private:
  ArchiveReader reader_;
  bool started_ = false;  // the first boundary has been looked for
  std::size_t count_ = 0;
};
