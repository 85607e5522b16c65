// The base64 decoder under any table: the dispatching group decoder must
// match the scalar reference byte for byte, a body gives exactly its whole
// groups' bytes plus k - 1 for a final group of k characters, and a body
// streamed in runs of any size, line ends and all, decodes as the whole body
// with its line ends cut.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base64_decoder.h"
#include "base64_table.h"
#include "fuzz_support.h"
#include "line_ends.h"
#include "stream_decoder.h"

namespace {

Base64table standard_table() { return base64table_of(RFC2045_ALPHABET); }

class StringSink final : public DecodeSink {
 public:
  void put(const char* bytes, std::size_t count) override {
    text.append(bytes, count);
  }
  std::string text;
};

// The whole body as write_part used to decode it: its groups, then the
// final one.
std::string decode_whole(const Base64Decoder& decoder, std::string_view body) {
  const Base64Split split = split_base64_body(body);
  std::string out(split.whole_groups * 3 + 4, '\0');
  auto* bytes = reinterpret_cast<unsigned char*>(out.data());
  decode_base64_groups(decoder, body.data(), split.whole_groups, bytes);
  std::size_t decoded = split.whole_groups * 3;
  if (!body.empty())
    decoded += decode_base64_final(decoder, body.substr(split.whole_groups * 4),
                                   split.padding, bytes + decoded);
  out.resize(decoded);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  // An odd first byte: the standard alphabet. Even: the next 256 bytes are
  // a table of any values, as base64.conf can set them (any 8-bit value).
  Base64table table = standard_table();
  std::size_t at = 1;
  if (data[0] % 2 == 0 && size >= 257) {
    std::memcpy(table.entries.data(), data + 1, 256);
    at = 257;
  }
  const std::string_view body(reinterpret_cast<const char*>(data) + at,
                              size - at);
  const Base64Decoder decoder(table);

  const std::size_t groups = body.size() / 4;
  std::vector<unsigned char> fast(groups * 3 + 1), slow(groups * 3 + 1);
  decode_base64_groups(decoder, body.data(), groups, fast.data());
  decode_base64_groups_scalar(decoder, body.data(), groups, slow.data());
  if (std::memcmp(fast.data(), slow.data(), groups * 3) != 0)
    fuzz_fail("decode_base64_groups differs from the scalar reference");

  // The whole body as write_part decodes it: its groups, then the final one.
  const Base64Split split = split_base64_body(body);
  std::string whole(split.whole_groups * 3 + 4, '\0');
  auto* bytes = reinterpret_cast<unsigned char*>(whole.data());
  decode_base64_groups(decoder, body.data(), split.whole_groups, bytes);
  std::size_t decoded = split.whole_groups * 3;
  if (!body.empty())
    decoded += decode_base64_final(decoder, body.substr(split.whole_groups * 4),
                                   split.padding, bytes + decoded);
  whole.resize(decoded);
  std::size_t expected = 0;
  if (!body.empty()) {
    const std::size_t last = body.size() - split.whole_groups * 4;
    const std::size_t k = last > split.padding ? last - split.padding : 0;
    expected = split.whole_groups * 3 + (k > 1 ? k - 1 : 0);
  }
  if (whole.size() != expected) fuzz_fail("wrong number of bytes");
  if (std::memcmp(whole.data(), slow.data(),
                  std::min(split.whole_groups, groups) * 3) != 0)
    fuzz_fail("whole-body decode differs from the groups");

  // The runs' size comes from the first byte.
  const std::size_t run = data[0] / 2 % 16 + 1;
  std::string cut(body.size(), '\0');
  cut.resize(copy_without_line_ends_scalar(body, cut.data()));
  StreamDecoder stream(&decoder);
  StringSink sink;
  for (std::size_t at = 0; at < body.size(); at += run)
    stream.feed(body.substr(at, run), sink);
  stream.finish(sink);
  if (sink.text != decode_whole(decoder, cut))
    fuzz_fail("runs decode differently from the whole body");
  return 0;
}
