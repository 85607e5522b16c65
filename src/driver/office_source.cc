#include "office_source.h"

#include <optional>
#include <utility>

OfficeSource::OfficeSource(ArchiveReader reader) : reader_(std::move(reader)) {}

bool OfficeSource::next(SourcePart& part) {
  if (!started_) {
    started_ = true;
    if (!skip_to_first_boundary(reader_)) {
      reader_.closed = true;
      return false;
    }
  }
  const std::optional<PartBody> body = read_part(reader_);
  if (!body) {
    reader_.closed = true;
    return false;
  }
  part.path = std::move(*reader_.part_name);
  part.directory = std::move(*reader_.part_dir);
  part.encoding = body->encoding;
  part.index = count_++;
  return true;
}
