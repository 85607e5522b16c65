#include "decode_table.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "file_open.h"
#include "messages.h"

namespace {

// Opened without waiting for a writer, as an archive is: a FIFO by that
// name gives what it holds, and nothing when no one writes to it.
std::FILE* open_conf(const std::string& path) {
  const int fd = open_retrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) ::close(fd);
  return file;
}

}  // namespace

DecodeTable::DecodeTable(std::string file)
    : file_(std::move(file)), bytes_(nullptr, &std::free) {}

// Reads the whole file into bytes_: `missing` when it can't be opened or
// read, `no_memory` when its bytes don't fit (that failure waits too).
DecodeTable::Preload DecodeTable::read_file() {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(open_conf(file_),
                                                       &std::fclose);
  if (!file) return Preload::missing;
  std::size_t capacity = 0;
  size_ = 0;
  for (;;) {
    if (capacity - size_ < 4096) {
      capacity = capacity == 0 ? 4096 : capacity * 2;
      void* grown = std::realloc(bytes_.get(), capacity);
      if (grown == nullptr) {
        bytes_.reset();
        return Preload::no_memory;
      }
      (void)bytes_.release();
      bytes_.reset(static_cast<char*>(grown));
    }
    const std::size_t got =
        std::fread(bytes_.get() + size_, 1, 4096, file.get());
    size_ += got;
    if (got < 4096) break;
  }
  // A directory by that name opens but can't be read: it is no table.
  if (std::ferror(file.get())) return Preload::missing;
  return Preload::read;
}

bool DecodeTable::preload() {
  if (loaded()) return true;
  if (preload_ == Preload::none) {
    preload_ = read_file();
    usable_ = preload_ == Preload::read &&
              parse_base64conf_quietly({bytes_.get(), size_}, table_);
    if (usable_) prepared_.emplace(table_);
  }
  return usable_;
}

void DecodeTable::announce() {
  const Preload outcome = preload_;
  preload_ = Preload::none;
  if (outcome == Preload::none) return;
  const std::unique_ptr<char, void (*)(void*)> bytes = std::move(bytes_);
  bytes_.reset();
  switch (outcome) {
    case Preload::missing:
      fail_table_missing(file_);
    case Preload::no_memory: {
      const NoMemoryScope scope(NoMemoryMessage::table);
      fail_no_memory();
    }
    case Preload::none:
    case Preload::read:
      break;
  }
  // The same bytes again, said this time: the echo, or the fault.
  parse_base64conf({bytes.get(), size_}, table_, file_);
  table_.table_loaded = true;
  if (!prepared_) prepared_.emplace(table_);
  say_table_loaded();
}

void DecodeTable::load() {
  preload();
  announce();
}

void DecodeTable::use(const Base64table& table) {
  table_ = table;
  table_.table_loaded = true;
  prepared_.emplace(table_);
  preload_ = Preload::none;
}
