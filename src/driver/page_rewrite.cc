#include "page_rewrite.h"

#include <utility>

namespace {

// Gathered output goes out in blocks of this size; a larger piece goes
// straight through.
constexpr std::size_t GATHER_BLOCK = std::size_t{1} << 18;

}  // namespace

RewritingSink::RewritingSink(PartSyntax syntax, std::string_view charset,
                             ReferenceResolver resolve, DecodeSink& out)
    : rewriter_(syntax, charset, std::move(resolve)),
      out_(out),
      write_([this](std::string_view bytes) { gather(bytes); }) {}

void RewritingSink::put(const char* bytes, std::size_t count) {
  rewriter_.feed({bytes, count}, write_);
}

void RewritingSink::finish() {
  rewriter_.finish(write_);
  flush();
}

void RewritingSink::gather(std::string_view bytes) {
  if (gathered_.size() + bytes.size() > GATHER_BLOCK) flush();
  if (bytes.size() >= GATHER_BLOCK) {
    out_.put(bytes.data(), bytes.size());
    return;
  }
  gathered_.append(bytes);
}

void RewritingSink::flush() {
  if (gathered_.size() == 0) return;
  out_.put(gathered_.data(), gathered_.size());
  gathered_.clear();
}

OfflinePages::OfflinePages(const MimeArchive& archive,
                           const std::vector<std::string>& names)
    : archive_(archive), links_(archive, names) {}

bool OfflinePages::start(std::size_t index, DecodeSink& out,
                         std::optional<RewritingSink>& sink) {
  const std::string& type = archive_.leaves[index].content_type;
  PartSyntax syntax = PartSyntax::html;
  if (type == "text/css")
    syntax = PartSyntax::css;
  else if (type != "text/html")
    return false;
  sink.emplace(
      syntax, archive_.leaves[index].charset,
      [this, index](std::string_view reference, std::string_view base) {
        return links_.resolve(index, reference, base);
      },
      out);
  if (block_network_ && syntax == PartSyntax::html)
    sink->insert_first_in_head(std::string(OFFLINE_POLICY));
  return true;
}
