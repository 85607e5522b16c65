#include "part_decoder.h"

#include <optional>

#include "base64_decoder.h"
#include "base64_table.h"
#include "messages.h"
#include "output_dir.h"
#include "text.h"

namespace {

// The base64 decoder's lookup tables, prepared whenever the table is
// loaded or set.
std::optional<Base64Decoder> prepared_decoder;

bool table_usable() {
  if (base64table.table_loaded) return true;
  if (!preload_base64table()) return false;
  if (!prepared_decoder) prepared_decoder.emplace(base64table);
  return true;
}

}  // namespace

void PendingFileSink::put(const char* bytes, std::size_t count) {
  if (failed || count == 0) return;
  if (!file.is_open() || !file.write(bytes, count)) failed = true;
}

PartDecoder::PartDecoder(int base64, int root, bool bytes_as_is)
    : is_base64(base64),
      as_is(bytes_as_is || base64 == 2),
      decoding(table_usable()),
      // A body that will never be written needs no file.
      sink(decoding ? root : -1),
      stream(base64 == 1 && decoding ? &*prepared_decoder : nullptr) {}

void PartDecoder::feed(std::string_view bytes) {
  if (!decoding) return;
  if (as_is)
    sink.put(bytes.data(), bytes.size());
  else
    stream.feed(bytes, sink);
}

void PartDecoder::finish() {
  if (decoding && !as_is) stream.finish(sink);
}

namespace {

// Decoded bytes gathered in memory.
class TextSink final : public DecodeSink {
 public:
  explicit TextSink(Text& text) : text_(text) {}
  void put(const char* bytes, std::size_t count) override {
    text_.append(bytes, count);
  }

 private:
  Text& text_;
};

}  // namespace

void feed_filtered(PartDecoder& decoder, std::string_view body,
                   const PartFilter& filter) {
  Text decoded;
  if (decoder.is_base64 == 2) {
    decoded.append(body);
  } else {
    StreamDecoder stream(decoder.is_base64 == 1 && prepared_decoder
                             ? &*prepared_decoder
                             : nullptr);
    TextSink into(decoded);
    stream.feed(body, into);
    stream.finish(into);
  }
  filter(decoded.view(),
         [&decoder](std::string_view bytes) { decoder.feed(bytes); });
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

int write_part(PartDecoder& decoder, const std::string& path, int dir) {
  say_writing(path, decoder.is_base64);
  if (dir < 0) return -1;
  PendingFile& file = decoder.sink.file;
  if (!file.is_open()) return -1;
  if (decoder.sink.failed) {
    // The write was made ahead, into a file of its own: the run ends as it
    // would have had the file been made here and the write failed.
    PendingFile here(dir);
    if (!here.is_open()) return -1;
    here.discard();
    file.discard();
    decoder.held_signal.release();
    fail_write(path);
  }
  decoder.held_signal.release();
  const std::string_view name = leaf_name(path);
  switch (file.commit_into(dir, path.c_str() + (path.size() - name.size()))) {
    case PendingFile::Commit::done:
      return 0;
    case PendingFile::Commit::write_failed:
      fail_write(path);
    case PendingFile::Commit::cannot_replace:
    case PendingFile::Commit::cannot_create:
      break;
  }
  return -1;
}
