#include "stream_decoder.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "line_ends.h"
#include "qp_decoder.h"
#include "text.h"

namespace {

// Room for one block on its way through, kept for the process: nothing
// stays in it between two calls, and its pages are faulted in once per
// process rather than once per part (Text, so that running out of memory
// ends the run the usual way). A sink may decode another body while it is
// handed a block (a page inlining a part it names), so each call deep gets
// rooms of its own.
struct Rooms {
  Text input;
  Text output;
};
std::vector<std::unique_ptr<Rooms>> rooms_by_depth;
std::size_t calls_deep = 0;

// The rooms of the innermost feed or finish under way.
Rooms& current_rooms() { return *rooms_by_depth[calls_deep - 1]; }

// Marks a feed or finish under way for as long as it lives.
class RoomsInUse {
 public:
  RoomsInUse() {
    if (rooms_by_depth.size() <= calls_deep)
      rooms_by_depth.push_back(std::make_unique<Rooms>());
    ++calls_deep;
  }
  RoomsInUse(const RoomsInUse&) = delete;
  RoomsInUse& operator=(const RoomsInUse&) = delete;
  ~RoomsInUse() { --calls_deep; }
};
// Characters of an incomplete group go right before a block's characters,
// so that the groups are decoded in one run.
constexpr std::size_t GROUP_ROOM = 8;
// Slack for the vector paths' wide stores and the word store of the last
// group.
constexpr std::size_t SLACK = 128;

// 1 for a byte outside the RFC 2045 alphabet ("=" included), else 0. Byte
// arithmetic without branches, so that the loop over a block vectorises.
std::uint8_t is_stray(std::uint8_t c) {
  const auto letter = static_cast<std::uint8_t>((c | 0x20) - 'a');
  const auto digit = static_cast<std::uint8_t>(c - '0');
  std::uint8_t ok = static_cast<std::uint8_t>(letter < 26) |
                    static_cast<std::uint8_t>(digit < 10);
  // "+" (0x2B) and "/" (0x2F) are the two bytes that OR 4 makes 0x2F.
  ok |= static_cast<std::uint8_t>((c | 4) == 0x2F);
  return ok ^ 1U;
}

char* room(Text& text) {
  if (text.capacity() == 0)
    text.reserve_more(DECODE_BLOCK + GROUP_ROOM + SLACK);
  return text.data();
}

}  // namespace

StreamDecoder::StreamDecoder(const Base64Decoder* decoder, VectorLevel level,
                             Base64Input input)
    : base64_(decoder), level_(level), input_(input) {}

void StreamDecoder::feed(std::string_view bytes, DecodeSink& sink) {
  // Nothing to carry on: an empty run (an empty body's null view among
  // them) must not reach the copies below.
  if (bytes.empty()) return;
  const RoomsInUse rooms;
  if (base64_ == nullptr) {
    feed_quoted_printable(bytes, sink);
    return;
  }
  char* const chars = room(current_rooms().input) + GROUP_ROOM;
  while (!bytes.empty() && !ended_) {
    const std::string_view piece = bytes.substr(
        0, bytes.size() < DECODE_BLOCK ? bytes.size() : DECODE_BLOCK);
    bytes.remove_prefix(piece.size());
    std::size_t count = cut_line_ends(piece, chars);
    if (input_ == Base64Input::rfc2045) count = skip_strays(chars, count);
    decode_groups(chars, count, sink);
  }
}

// Keeps only the alphabet's characters of `count` at `chars`, up to the
// padding that completes a group ("=" in its fourth place, or "==" in its
// third and fourth): it ends the data. A block without a stray byte is left
// as it is.
std::size_t StreamDecoder::skip_strays(char* chars, std::size_t count) {
  auto* bytes = reinterpret_cast<std::uint8_t*>(chars);
  // Clean stretches are found a vector's worth at a time: a body's padding
  // sends only what follows it byte by byte, not its whole block.
  constexpr std::size_t STRETCH = 64;
  std::size_t clean = 0;
  for (; clean + STRETCH <= count; clean += STRETCH) {
    std::uint8_t stray = 0;
    for (std::size_t i = 0; i < STRETCH; ++i)
      stray |= is_stray(bytes[clean + i]);
    if (stray != 0) break;
  }
  if (clean > 0) pads_ = 0;
  std::size_t kept = clean;
  for (std::size_t i = clean; i < count; ++i) {
    if (is_stray(bytes[i]) == 0) {
      bytes[kept++] = bytes[i];
      pads_ = 0;
    } else if (bytes[i] == '=') {
      const std::size_t place = (group_size_ + kept) % 4;
      if (place >= 2 && place + ++pads_ >= 4) {
        ended_ = true;
        break;
      }
    }
  }
  return kept;
}

// A line's end is an LF, with a CR right before it; what ends a body without
// an LF is cut by the rule for a last line, which looks at its last two
// bytes. So the last two bytes after the last LF wait for what follows.
std::size_t StreamDecoder::cut_line_ends(std::string_view bytes, char* out) {
  char* w = out;
  std::string_view rest = bytes;
  const void* lf = memrchr(bytes.data(), '\n', bytes.size());
  if (lf != nullptr) {
    // The waiting bytes end a line; only a CR right before its LF goes.
    std::size_t keep = line_tail_size_;
    if (keep > 0 && line_tail_[keep - 1] == '\r' && bytes.front() == '\n')
      --keep;
    std::memcpy(w, line_tail_, keep);
    w += keep;
    line_tail_size_ = 0;
    const std::size_t lines =
        static_cast<std::size_t>(static_cast<const char*>(lf) - bytes.data()) +
        1;
    w += copy_without_line_ends_at(level_, bytes.substr(0, lines), w);
    rest = bytes.substr(lines);
  }
  // No LF from here on: every byte but the last two is data.
  const std::size_t total = line_tail_size_ + rest.size();
  if (total <= 2) {
    std::memcpy(line_tail_ + line_tail_size_, rest.data(), rest.size());
    line_tail_size_ = total;
    return static_cast<std::size_t>(w - out);
  }
  const std::size_t emit = total - 2;
  const std::size_t from_tail = line_tail_size_ < emit ? line_tail_size_ : emit;
  std::memcpy(w, line_tail_, from_tail);
  w += from_tail;
  std::memcpy(w, rest.data(), emit - from_tail);
  w += emit - from_tail;
  char tail[2];
  for (std::size_t k = 0; k < 2; ++k) {
    const std::size_t at = emit + k;
    tail[k] =
        at < line_tail_size_ ? line_tail_[at] : rest[at - line_tail_size_];
  }
  std::memcpy(line_tail_, tail, 2);
  line_tail_size_ = 2;
  return static_cast<std::size_t>(w - out);
}

// Decodes every whole group of the waiting characters and `count` more at
// `chars`, except the last 1 to 4 characters: they may be the final group,
// which only the body's end decides.
void StreamDecoder::decode_groups(char* chars, std::size_t count,
                                  DecodeSink& sink) {
  const std::size_t total = group_size_ + count;
  if (total <= 4) {
    std::memcpy(group_ + group_size_, chars, count);
    group_size_ = total;
    return;
  }
  char* const start = chars - group_size_;
  std::memcpy(start, group_, group_size_);
  const std::size_t groups = (total - 1) / 4;
  auto* out = reinterpret_cast<unsigned char*>(room(current_rooms().output));
  decode_base64_groups_at(level_, *base64_, start, groups, out);
  sink.put(reinterpret_cast<const char*>(out), groups * 3);
  group_size_ = total - groups * 4;
  std::memcpy(group_, start + groups * 4, group_size_);
}

// An "=" is judged by the two bytes after it: the last two bytes of a run
// wait for the next one, or for the body's end.
void StreamDecoder::feed_quoted_printable(std::string_view bytes,
                                          DecodeSink& sink) {
  char* const out = room(current_rooms().output);
  if (qp_tail_size_ > 0 && !bytes.empty()) {
    char window[4];
    const std::size_t waiting = qp_tail_size_;
    const std::size_t borrowed = bytes.size() < 2 ? bytes.size() : 2;
    std::memcpy(window, qp_tail_, waiting);
    std::memcpy(window + waiting, bytes.data(), borrowed);
    const std::size_t size = waiting + borrowed;
    std::size_t position = 0;
    const std::size_t stop = borrowed == 2 ? waiting : size - 2;
    sink.put(out, decode_quoted_printable_at(level_, {window, size}, position,
                                             stop, out));
    if (borrowed < 2) {
      qp_tail_size_ = size - position;
      std::memmove(qp_tail_, window + position, qp_tail_size_);
      return;
    }
    qp_tail_size_ = 0;
    bytes.remove_prefix(position - waiting);
  }
  std::size_t position = 0;
  if (bytes.size() > 2) {
    const std::size_t limit = bytes.size() - 2;
    while (position < limit) {
      const std::size_t stop =
          limit - position > DECODE_BLOCK ? position + DECODE_BLOCK : limit;
      sink.put(out,
               decode_quoted_printable_at(level_, bytes, position, stop, out));
    }
  }
  const std::size_t left = bytes.size() - position;
  std::memcpy(qp_tail_ + qp_tail_size_, bytes.data() + position, left);
  qp_tail_size_ += left;
}

void StreamDecoder::finish(DecodeSink& sink) {
  const RoomsInUse rooms;
  if (base64_ == nullptr) {
    char* const out = room(current_rooms().output);
    std::size_t position = 0;
    sink.put(out, decode_quoted_printable_at(level_, {qp_tail_, qp_tail_size_},
                                             position, qp_tail_size_, out));
    qp_tail_size_ = 0;
    return;
  }
  // The last line's end, by the rule for a line without LF.
  char* const chars = room(current_rooms().input) + GROUP_ROOM;
  std::size_t count =
      copy_without_line_ends_scalar({line_tail_, line_tail_size_}, chars);
  line_tail_size_ = 0;
  if (input_ == Base64Input::rfc2045)
    count = ended_ ? 0 : skip_strays(chars, count);
  decode_groups(chars, count, sink);
  if (group_size_ == 0) return;
  const std::string_view group(group_, group_size_);
  const std::size_t last = group.find_last_not_of('=');
  const std::size_t padding =
      last == std::string_view::npos ? group.size() : group.size() - 1 - last;
  unsigned char bytes[4];
  sink.put(reinterpret_cast<const char*>(bytes),
           decode_base64_final(*base64_, group, padding, bytes));
  group_size_ = 0;
}
