#include "listing.h"

#include <optional>
#include <string_view>

#include "messages.h"
#include "path_guard.h"
#include "stream_decoder.h"

void list_parts(PartSource& source, const Base64Decoder& base64,
                ListTotal& total, OfflinePages* pages,
                const ManifestScope* json) {
  SourcePart part;
  while (source.next(part)) {
    CountingSink size;
    std::optional<HashingSink> hashed;
    DecodeSink* counted = &size;
    if (json != nullptr) counted = &hashed.emplace(size);
    std::optional<RewritingSink> page;
    DecodeSink* front = counted;
    if (pages != nullptr && pages->start(part.index, *counted, page))
      front = &*page;
    StreamDecoder decoder(part.encoding == Encoding::base64 ? &base64 : nullptr,
                          vector_level(), part.base64_input);
    const bool as_is = part.encoding == Encoding::as_is;
    for (std::string_view run = source.read_body(); !run.empty();
         run = source.read_body()) {
      if (as_is)
        front->put(run.data(), run.size());
      else
        decoder.feed(run, *front);
    }
    if (!as_is) decoder.finish(*front);
    if (page) page->finish();
    const bool refused = !is_safe_part_path(part.path);
    if (hashed)
      say_part_record(*json, part, *hashed, refused);
    else
      say_list_entry(size.count(), part.encoding, part.path, refused);
    total.size += size.count();
    ++total.parts;
  }
}
