#include "part_decoder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include "base64_decoder.h"
#include "base64_table.h"
#include "messages.h"
#include "qp_decoder.h"

namespace {

// The process's decoding state besides base64table itself: the decoder's
// lookup tables, prepared whenever the table is loaded or set, and the room
// every block is decoded into (a Text, so that its pages come in at once and
// no memory ends the run).
std::optional<Base64Decoder> prepared_decoder;
Text output_room;

// An output file written in large blocks; any failure to write is fatal.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path) : path_(path) {
    do {
      fd_ =
          ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd_ < 0 && errno == EINTR);
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
  }

  [[nodiscard]] bool is_open() const { return fd_ >= 0; }

  void write(const void* bytes, std::size_t count) {
    const char* p = static_cast<const char*>(bytes);
    while (count > 0) {
      const ssize_t done = ::write(fd_, p, count);
      if (done < 0 && errno == EINTR) continue;
      if (done <= 0) fail_write(path_);
      p += done;
      count -= static_cast<std::size_t>(done);
    }
  }

  void close() {
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0 && errno != EINTR) fail_write(path_);
  }

 private:
  const std::string& path_;
  int fd_ = -1;
};

// Room for a block of decoded bytes and the word store past its end.
unsigned char* output_block() {
  if (output_room.capacity() == 0) output_room.reserve_more(DECODE_BLOCK + 8);
  return reinterpret_cast<unsigned char*>(output_room.data());
}

void write_base64(std::string_view body, OutputFile& file) {
  const Base64Decoder& decoder = *prepared_decoder;
  unsigned char* out = output_block();
  const Base64Split split = split_base64_body(body);
  constexpr std::size_t groups_per_block = DECODE_BLOCK / 4;
  std::size_t done = 0;
  while (done < split.whole_groups) {
    std::size_t groups = split.whole_groups - done;
    if (groups > groups_per_block) groups = groups_per_block;
    decode_base64_groups(decoder, body.data() + done * 4, groups, out);
    file.write(out, groups * 3);
    done += groups;
  }
  if (!body.empty()) {
    const std::size_t count =
        decode_base64_final(decoder, body.substr(done * 4), split.padding, out);
    file.write(out, count);
  }
}

void write_quoted_printable(std::string_view body, OutputFile& file) {
  char* out = reinterpret_cast<char*>(output_block());
  std::size_t position = 0;
  while (position < body.size()) {
    const std::size_t stop = body.size() - position > DECODE_BLOCK
                                 ? position + DECODE_BLOCK
                                 : body.size();
    file.write(out, decode_quoted_printable(body, position, stop, out));
  }
}

// Decodes the body over itself, block by block through the output room:
// decoded bytes never outrun the encoded ones they come from (three per four
// in base64, at most one per byte in quoted-printable), so a block is copied
// back only over input already read.
void decode_in_place(PartDecoder& decoder) {
  Text& content = decoder.content;
  const std::string_view body = content.view();
  unsigned char* out = output_block();
  std::size_t written = 0;
  const auto keep = [&](std::size_t count) {
    if (count > 0) std::memcpy(content.data() + written, out, count);
    written += count;
  };
  if (decoder.is_base64 == 1) {
    const Base64Decoder& table = *prepared_decoder;
    const Base64Split split = split_base64_body(body);
    constexpr std::size_t groups_per_block = DECODE_BLOCK / 4;
    std::size_t done = 0;
    while (done < split.whole_groups) {
      std::size_t groups = split.whole_groups - done;
      if (groups > groups_per_block) groups = groups_per_block;
      decode_base64_groups(table, body.data() + done * 4, groups, out);
      keep(groups * 3);
      done += groups;
    }
    if (!body.empty())
      keep(decode_base64_final(table, body.substr(done * 4), split.padding,
                               out));
  } else if (decoder.is_base64 == 0) {
    char* room = reinterpret_cast<char*>(out);
    std::size_t position = 0;
    while (position < body.size()) {
      const std::size_t stop = body.size() - position > DECODE_BLOCK
                                   ? position + DECODE_BLOCK
                                   : body.size();
      keep(decode_quoted_printable(body, position, stop, room));
    }
  } else {
    return;  // written as it stands
  }
  content.shrink_to(written);
}

// Gathers small pieces in the output room so that the file sees large
// writes; a large piece goes straight through.
class GatheredWriter {
 public:
  explicit GatheredWriter(OutputFile& file)
      : file_(file), room_(reinterpret_cast<char*>(output_block())) {}

  void write(std::string_view bytes) {
    if (bytes.size() >= DECODE_BLOCK / 4) {
      flush();
      file_.write(bytes.data(), bytes.size());
      return;
    }
    if (used_ + bytes.size() > DECODE_BLOCK) flush();
    std::memcpy(room_ + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
  }

  void flush() {
    if (used_ > 0) file_.write(room_, used_);
    used_ = 0;
  }

 private:
  OutputFile& file_;
  char* room_;
  std::size_t used_ = 0;
};

}  // namespace

PartDecoder::PartDecoder(Text body, int base64)
    : content(std::move(body)), is_base64(base64) {
  if (!base64table.table_loaded) {
    load_base64table();
    prepared_decoder.emplace(base64table);
  }
}

void set_base64table(const Base64table& table) {
  base64table = table;
  base64table.table_loaded = true;
  prepared_decoder.emplace(base64table);
}

int write_part(const PartDecoder& decoder, const std::string& path) {
  say_writing(path, decoder.is_base64);
  OutputFile file(path);
  if (!file.is_open()) return -1;
  if (decoder.is_base64 == 1)
    write_base64(decoder.content.view(), file);
  else if (decoder.is_base64 == 0)
    write_quoted_printable(decoder.content.view(), file);
  else
    file.write(decoder.content.data(), decoder.content.size());
  file.close();
  return 0;
}

int write_part_filtered(PartDecoder& decoder, const std::string& path,
                        const PartFilter& filter) {
  say_writing(path, decoder.is_base64);
  OutputFile file(path);
  if (!file.is_open()) return -1;
  decode_in_place(decoder);
  GatheredWriter gathered(file);
  filter(decoder.content.view(),
         [&gathered](std::string_view bytes) { gathered.write(bytes); });
  gathered.flush();
  file.close();
  return 0;
}
