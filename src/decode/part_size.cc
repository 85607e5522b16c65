#include "part_size.h"

#include "base64_decoder.h"
#include "part_decoder.h"
#include "qp_decoder.h"
#include "text.h"

namespace {

std::uint64_t base64_size(std::string_view body) {
  if (body.empty()) return 0;
  const Base64Split split = split_base64_body(body);
  // Which characters a base64 body holds never changes its length, so the
  // size needs no alphabet.
  const std::size_t final_group = body.size() - split.whole_groups * 4;
  const std::size_t k =
      final_group > split.padding ? final_group - split.padding : 0;
  return std::uint64_t{split.whole_groups} * 3 + (k > 1 ? k - 1 : 0);
}

std::uint64_t quoted_printable_size(std::string_view body) {
  // Decoded block by block into room that is kept for the next part.
  static Text room;
  if (room.capacity() == 0) room.reserve_more(DECODE_BLOCK);
  std::uint64_t size = 0;
  std::size_t position = 0;
  while (position < body.size()) {
    const std::size_t stop = body.size() - position > DECODE_BLOCK
                                 ? position + DECODE_BLOCK
                                 : body.size();
    size += decode_quoted_printable(body, position, stop, room.data());
  }
  return size;
}

}  // namespace

std::uint64_t decoded_size(std::string_view body, std::int32_t is_base64) {
  if (is_base64 == 1) return base64_size(body);
  if (is_base64 == 0) return quoted_printable_size(body);
  return body.size();  // written as it stands
}
