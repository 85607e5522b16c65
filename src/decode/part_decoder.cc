#include "part_decoder.h"

#include <cstring>
#include <optional>
#include <utility>

#include "base64_decoder.h"
#include "base64_table.h"
#include "messages.h"
#include "output_dir.h"
#include "output_file.h"
#include "qp_decoder.h"

namespace {

// The process's decoding state besides base64table itself: the decoder's
// lookup tables, prepared whenever the table is loaded or set, and the room
// every block is decoded into (a Text, so that its pages come in at once and
// no memory ends the run).
std::optional<Base64Decoder> prepared_decoder;
Text output_room;

// An output file written in large blocks under a temporary name; any
// failure to write is fatal, and leaves what stood at the final name.
class OutputFile {
 public:
  OutputFile(const std::string& path, int dir) : path_(path), file_(dir) {}

  [[nodiscard]] bool is_open() const { return file_.is_open(); }

  void write(const void* bytes, std::size_t count) {
    if (!file_.write(bytes, count)) {
      file_.discard();
      fail_write(path_);
    }
  }

  // False when the final name can't be replaced (a directory stands there).
  bool close(const char* name) {
    const PendingFile::Commit done = file_.commit(name);
    if (done == PendingFile::Commit::write_failed) fail_write(path_);
    return done == PendingFile::Commit::done;
  }

 private:
  const std::string& path_;
  PendingFile file_;
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
  ensure_base64table();
}

void ensure_base64table() {
  if (base64table.table_loaded) return;
  load_base64table();
  prepared_decoder.emplace(base64table);
}

void set_base64table(const Base64table& table) {
  base64table = table;
  base64table.table_loaded = true;
  prepared_decoder.emplace(base64table);
}

int write_part(const PartDecoder& decoder, const std::string& path) {
  const DirectoryFd root = open_output_root(".");
  const ReachedDirectory reached =
      reach_directory(root.get(), path.substr(0, path.rfind('/') + 1), false);
  return write_part(decoder, path, reached.dir.get());
}

int write_part(const PartDecoder& decoder, const std::string& path, int dir) {
  say_writing(path, decoder.is_base64);
  if (dir < 0) return -1;
  OutputFile file(path, dir);
  if (!file.is_open()) return -1;
  if (decoder.is_base64 == 1)
    write_base64(decoder.content.view(), file);
  else if (decoder.is_base64 == 0)
    write_quoted_printable(decoder.content.view(), file);
  else
    file.write(decoder.content.data(), decoder.content.size());
  const std::string_view name = leaf_name(path);
  return file.close(path.c_str() + (path.size() - name.size())) ? 0 : -1;
}

int write_part_filtered(PartDecoder& decoder, const std::string& path, int dir,
                        const PartFilter& filter) {
  say_writing(path, decoder.is_base64);
  if (dir < 0) return -1;
  OutputFile file(path, dir);
  if (!file.is_open()) return -1;
  decode_in_place(decoder);
  GatheredWriter gathered(file);
  filter(decoder.content.view(),
         [&gathered](std::string_view bytes) { gathered.write(bytes); });
  gathered.flush();
  const std::string_view name = leaf_name(path);
  return file.close(path.c_str() + (path.size() - name.size())) ? 0 : -1;
}
