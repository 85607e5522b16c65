#include "manifest.h"

#include <glib.h>

#include <nlohmann/json.hpp>

#include "messages.h"

namespace {

using Record = nlohmann::ordered_json;

// Keys keep the order they are set in, so every line reads alike.
void put_text(Record& record, const char* key, std::string_view text) {
  if (text.empty()) return;
  if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr) !=
      0) {
    record[key] = text;
    return;
  }
  // JSON strings hold Unicode only: other bytes go as base64, which gives
  // them back exactly.
  gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(text.data()),
                                   text.size());
  record[std::string(key) + "_base64"] = encoded;
  g_free(encoded);
}

const char* layout_name(const MimeArchive* mime) {
  if (mime == nullptr) return "office";
  return mime->layout == MimeLayout::single ? "single" : "multipart";
}

const char* encoding_name(Encoding encoding) {
  switch (encoding) {
    case Encoding::base64:
      return "base64";
    case Encoding::quoted_printable:
      return "quoted-printable";
    case Encoding::as_is:
      break;
  }
  return "none";
}

}  // namespace

std::string archive_record(const ArchiveFacts& facts) {
  Record record;
  record["record"] = "archive";
  put_text(record, "path", facts.path);
  record["layout"] = layout_name(facts.mime);
  if (facts.mime != nullptr) {
    put_text(record, "subject", facts.mime->subject);
    put_text(record, "date", facts.mime->date);
    put_text(record, "snapshot_content_location",
             facts.mime->snapshot_location);
  }
  put_text(record, "main_page", facts.main_page);
  return record.dump();
}

std::string part_record(const PartFacts& facts) {
  Record record;
  record["record"] = "part";
  record["index"] = facts.index;
  put_text(record, "location", facts.location);
  if (facts.leaf != nullptr) {
    put_text(record, "content_id", facts.leaf->content_id);
    put_text(record, "content_type", facts.leaf->content_type);
    put_text(record, "charset", facts.leaf->charset);
    put_text(record, "transfer_encoding", facts.leaf->transfer_encoding);
  }
  record["decoded_as"] = encoding_name(facts.encoding);
  record["size"] = facts.size;
  record["sha256"] = facts.sha256;
  put_text(record, "path", facts.path);
  if (facts.refused) record["refused"] = "unsafe_path";
  return record.dump();
}

void say_part_record(const ManifestScope& scope, const SourcePart& part,
                     HashingSink& hashed, bool refused) {
  PartFacts facts;
  facts.index = part.index;
  // The default mode's layout names a part's path by its location.
  facts.location = part.path;
  if (scope.mime != nullptr && part.index < scope.mime->leaves.size()) {
    facts.leaf = &scope.mime->leaves[part.index];
    facts.location = facts.leaf->location;
  }
  facts.encoding = part.encoding;
  facts.size = hashed.count();
  const std::string digest = hashed.hex();
  facts.sha256 = digest;
  const std::string path = scope.prefix + part.path;
  facts.path = path;
  facts.refused = refused;
  say_json_record(part_record(facts));
}
