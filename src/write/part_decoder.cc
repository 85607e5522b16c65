#include "part_decoder.h"

#include "messages.h"
#include "output_dir.h"

void PendingFileSink::put(const char* bytes, std::size_t count) {
  if (failed || count == 0) return;
  if (!file.is_open() || !file.write(bytes, count)) failed = true;
}

PartDecoder::PartDecoder(Encoding body_encoding, DecodeTable& table, int root,
                         Base64Input input)
    : encoding(body_encoding),
      decoding(table.preload()),
      // A body that will never be written needs no file.
      sink(decoding ? root : -1),
      stream(
          encoding == Encoding::base64 && decoding ? table.decoder() : nullptr,
          vector_level(), input) {}

void PartDecoder::feed(std::string_view bytes) {
  if (!decoding) return;
  if (encoding == Encoding::as_is)
    front->put(bytes.data(), bytes.size());
  else
    stream.feed(bytes, *front);
}

void PartDecoder::finish() {
  if (decoding && encoding != Encoding::as_is) stream.finish(*front);
}

int write_part(PartDecoder& decoder, const std::string& path, int dir,
               bool keep_existing) {
  say_writing(path, decoder.encoding);
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
  if (keep_existing) file.keep_existing();
  const std::string_view name = leaf_name(path);
  switch (file.commit_into(dir, path.c_str() + (path.size() - name.size()))) {
    case PendingFile::Commit::done:
      return 0;
    case PendingFile::Commit::exists:
      return 1;
    case PendingFile::Commit::write_failed:
      fail_write(path);
    case PendingFile::Commit::cannot_replace:
    case PendingFile::Commit::cannot_create:
      break;
  }
  return -1;
}
