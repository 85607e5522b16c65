#include "mime_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "archive_reader.h"
#include "archive_stem.h"
#include "file_open.h"
#include "messages.h"
#include "part_names.h"
#include "progress.h"

// Bodies are read back by their offsets, so only a regular file will do.
FileDescriptor open_regular_file(const std::string& path) {
  const int fd = open_retrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return FileDescriptor();
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return FileDescriptor();
  }
  return FileDescriptor(fd);
}

namespace {

// Progress counts the structure's pass over the whole archive, then the
// bodies read back: until the structure is known, as much again.
std::uint64_t body_bytes(const std::vector<MimeLeaf>& leaves) {
  std::uint64_t total = 0;
  for (const MimeLeaf& leaf : leaves) total += leaf.body_length;
  return total;
}

std::uint64_t size_of(int fd) {
  struct stat status {};
  if (fd < 0 || ::fstat(fd, &status) != 0) return 0;
  return static_cast<std::uint64_t>(status.st_size);
}

}  // namespace

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

MimeSource::MimeSource(const std::string& path,
                       const PartNameAllocator::Taken& taken)
    : MimeSource(open_regular_file(path), path, taken) {}

MimeSource::MimeSource(FileDescriptor file, const std::string& path,
                       const PartNameAllocator::Taken& taken)
    : path_(path), file_(std::move(file)), size_(size_of(file_.get())) {
  if (file_.get() < 0) fail_cannot_open(path);
  progress_expect(2 * size_);
  mime_ = parse_mime_archive(file_.get());
  if (mime_.layout == MimeLayout::not_mime) fail_not_mime(path);
  progress_reach(size_);
  progress_expect(size_ + body_bytes(mime_.leaves));

  const std::string_view stem = archive_stem(path);
  const bool single = mime_.layout == MimeLayout::single;
  // Every name is known before the first part is handed out: a page may
  // refer to parts that come after it.
  names_.reserve(mime_.leaves.size());
  PartNameAllocator allocator(taken);
  for (const MimeLeaf& leaf : mime_.leaves) {
    const PartNaming naming{leaf.location,     leaf.base_location,
                            leaf.content_id,   leaf.content_type,
                            names_.size() + 1, leaf.filename};
    names_.push_back(allocator.allocate(part_path(naming, stem, single)));
  }
}

void MimeSource::keep_only(const TypeFilter& filter) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < mime_.leaves.size(); ++i) {
    if (!filter.keeps(mime_.leaves[i].content_type)) continue;
    if (kept != i) {
      mime_.leaves[kept] = std::move(mime_.leaves[i]);
      names_[kept] = std::move(names_[i]);
    }
    ++kept;
  }
  mime_.leaves.resize(kept);
  names_.resize(kept);
  progress_expect(size_ + body_bytes(mime_.leaves));
}

bool MimeSource::next(SourcePart& part) {
  if (next_ >= mime_.leaves.size()) return false;
  const std::size_t index = next_++;
  leaf_ = &mime_.leaves[index];
  done_ = 0;
  part.path = names_[index];
  const std::size_t slash = part.path.rfind('/');
  part.directory =
      slash == std::string::npos ? std::string() : part.path.substr(0, slash);
  part.encoding = encoding_named(leaf_->transfer_encoding);
  part.index = index;
  part.base64_input = rfc2045_ && part.encoding == Encoding::base64
                          ? Base64Input::rfc2045
                          : Base64Input::table;
  return true;
}

std::string_view MimeSource::read_body() {
  if (leaf_ == nullptr) return {};
  if (block_.capacity() == 0) block_.reserve_more(READ_BLOCK);
  for (;;) {
    // A file that shrank under us ends the body where it ends.
    if (done_ >= leaf_->body_length) return {};
    std::uint64_t count = leaf_->body_length - done_;
    if (count > READ_BLOCK) count = READ_BLOCK;
    const ssize_t got = ::pread(file_.get(), block_.data(), count,
                                static_cast<off_t>(leaf_->body_offset + done_));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) fail_cannot_open(path_);
    if (got == 0) {
      done_ = leaf_->body_length;
      return {};
    }
    done_ += static_cast<std::uint64_t>(got);
    progress_read(static_cast<std::uint64_t>(got));
    return {block_.data(), static_cast<std::size_t>(got)};
  }
}
