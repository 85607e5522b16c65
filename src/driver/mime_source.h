// --any-layout's parts: an archive read by its headers (GMime for the
// header blocks, the tool's own boundary scan), every part named before the
// first is handed out, bodies read back by their offsets in blocks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mime_archive.h"
#include "part_names.h"
#include "part_source.h"
#include "text.h"
#include "type_filter.h"

// An open file, closed with its owner.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
  }
  FileDescriptor& operator=(FileDescriptor&&) = delete;
  ~FileDescriptor();
  [[nodiscard]] int get() const { return fd_; }

 private:
  int fd_;
};

// The archive at `path` opened for reading by offsets: a regular file only,
// opened without waiting, so that a FIFO without a writer is refused at
// once rather than hanging the open. Not open (-1) otherwise.
FileDescriptor open_regular_file(const std::string& path);

class MimeSource final : public PartSource {
 public:
  // Opens and reads the structure of the archive at `path`; failures are
  // fatal, as in the default mode: a file that can't be opened or is no
  // regular file (-2), or has no MIME header at all (-3). Never waits for a
  // writer.
  // With `taken` (-n), a name that stands on disk is passed over.
  explicit MimeSource(const std::string& path,
                      const PartNameAllocator::Taken& taken = {});
  // The same for an archive already open at `file` (a regular file read
  // from its first byte; not open fails as above), `path` naming it in
  // messages and lending -d's and a single part's names their stem.
  MimeSource(FileDescriptor file, const std::string& path,
             const PartNameAllocator::Taken& taken = {});

  // Base64 bodies are read as MIME reads them (bytes outside the RFC 2045
  // alphabet skipped, padding ends the data): for a run that decodes with
  // that alphabet.
  void read_as_rfc2045(bool on) { rfc2045_ = on; }

  // --only: the parts whose type `filter` does not keep are left out, as
  // if the archive did not hold them; the others keep the names they had.
  // Before the first part is handed out.
  void keep_only(const TypeFilter& filter);

  bool next(SourcePart& part) override;
  std::string_view read_body() override;

  [[nodiscard]] const MimeArchive& archive() const { return mime_; }
  // The archive, open for reading bodies back by their offsets.
  [[nodiscard]] int file() const { return file_.get(); }
  [[nodiscard]] const std::string& path() const { return path_; }
  [[nodiscard]] bool reads_rfc2045() const { return rfc2045_; }
  // names()[i]: the file of archive().leaves[i].
  [[nodiscard]] const std::vector<std::string>& names() const { return names_; }

 private:
  std::string path_;
  FileDescriptor file_;
  std::uint64_t size_ = 0;  // the archive's, when opened
  MimeArchive mime_;
  std::vector<std::string> names_;
  bool rfc2045_ = false;

  std::size_t next_ = 0;            // the leaf next() hands out next
  const MimeLeaf* leaf_ = nullptr;  // the current one
  std::uint64_t done_ = 0;          // bytes of its body handed out
  Text block_;                      // bytes as read
};
