// The quoted-printable decoder. The file writer decodes a body in blocks as
// it is read, so decoding in blocks of any size, and streaming it in runs of
// any size, must give the same bytes as one call.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "qp_decoder.h"
#include "stream_decoder.h"

namespace {

class StringSink final : public DecodeSink {
 public:
  void put(const char* bytes, std::size_t count) override {
    text.append(bytes, count);
  }
  std::string text;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the block size; the rest is the body.
  const std::size_t block = data[0] % 16 + 1;
  const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::string whole(body.size(), '\0');
  std::size_t end = 0;
  whole.resize(decode_quoted_printable(body, end, body.size(), whole.data()));
  if (end != body.size()) fuzz_fail("the whole body was not read");

  std::string pieces;
  std::string out(body.size(), '\0');
  std::size_t position = 0;
  while (position < body.size()) {
    const std::size_t stop =
        body.size() - position > block ? position + block : body.size();
    const std::size_t before = position;
    const std::size_t written =
        decode_quoted_printable(body, position, stop, out.data());
    if (position <= before) fuzz_fail("no progress");
    if (written > stop - before) fuzz_fail("wrote more than the block");
    pieces.append(out.data(), written);
  }
  if (pieces != whole) fuzz_fail("blocks decode differently from the whole");

  StreamDecoder stream(nullptr);
  StringSink sink;
  for (std::size_t at = 0; at < body.size(); at += block)
    stream.feed(std::string_view(body).substr(at, block), sink);
  stream.finish(sink);
  if (sink.text != whole) fuzz_fail("runs decode differently from the whole");
  return 0;
}
