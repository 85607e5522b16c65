#include "page_rewrite.h"

#include <utility>

RewritingSink::RewritingSink(PartSyntax syntax, std::string_view charset,
                             ReferenceResolver resolve, DecodeSink& out)
    : rewriter_(syntax, charset, std::move(resolve)),
      write_([&out](std::string_view bytes) {
        out.put(bytes.data(), bytes.size());
      }) {}

void RewritingSink::put(const char* bytes, std::size_t count) {
  rewriter_.feed({bytes, count}, write_);
}

void RewritingSink::finish() { rewriter_.finish(write_); }

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
