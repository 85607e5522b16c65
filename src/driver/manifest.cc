#include "manifest.h"

#include <glib.h>

#include <algorithm>
#include <charconv>
#include <iterator>
#include <nlohmann/json.hpp>

#include "messages.h"

namespace {

// A record is written field by field into one reused buffer: a listing of
// 100,000 parts builds no JSON tree per part.
class RecordWriter {
 public:
  explicit RecordWriter(std::string& out) : out_(out) {
    out_.clear();
    out_ += '{';
  }
  std::string& finish() {
    out_ += '}';
    return out_;
  }

  // A text field, left out when empty. JSON strings hold Unicode only:
  // other bytes go as base64 under "<key>_base64", which gives them back.
  void text(std::string_view key, std::string_view value) {
    if (value.empty()) return;
    // Most texts are printable ASCII with nothing to escape: as they stand.
    if (std::all_of(value.begin(), value.end(), [](char c) {
          return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
        })) {
      name(key);
      out_.append(1, '"').append(value).append(1, '"');
      return;
    }
    if (g_utf8_validate(value.data(), static_cast<gssize>(value.size()),
                        nullptr) == 0) {
      gchar* encoded = g_base64_encode(
          reinterpret_cast<const guchar*>(value.data()), value.size());
      name(key, "_base64");
      out_.append(1, '"').append(encoded).append(1, '"');
      g_free(encoded);
      return;
    }
    name(key);
    out_ += nlohmann::json(value).dump();
  }
  void number(std::string_view key, std::uint64_t value) {
    name(key);
    char digits[24];
    const auto end = std::to_chars(std::begin(digits), std::end(digits), value);
    out_.append(digits, end.ptr);
  }

 private:
  // Keys are plain ASCII names of the tool's own.
  void name(std::string_view key, std::string_view suffix = {}) {
    if (out_.size() > 1) out_ += ',';
    out_.append(1, '"').append(key).append(suffix).append("\":");
  }

  std::string& out_;
};

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
  std::string out;
  RecordWriter record(out);
  record.text("record", "archive");
  record.text("path", facts.path);
  record.text("layout", layout_name(facts.mime));
  if (facts.mime != nullptr) {
    record.text("subject", facts.mime->subject);
    record.text("date", facts.mime->date);
    record.text("snapshot_content_location", facts.mime->snapshot_location);
  }
  record.text("main_page", facts.main_page);
  return record.finish();
}

std::string part_record(const PartFacts& facts) {
  std::string out;
  part_record(facts, out);
  return out;
}

void part_record(const PartFacts& facts, std::string& out) {
  RecordWriter record(out);
  record.text("record", "part");
  record.number("index", facts.index);
  record.text("location", facts.location);
  if (facts.leaf != nullptr) {
    record.text("content_id", facts.leaf->content_id);
    record.text("content_type", facts.leaf->content_type);
    record.text("charset", facts.leaf->charset);
    record.text("transfer_encoding", facts.leaf->transfer_encoding);
  }
  record.text("decoded_as", encoding_name(facts.encoding));
  record.number("size", facts.size);
  record.text("sha256", facts.sha256);
  record.text("path", facts.path);
  if (facts.refused) record.text("refused", "unsafe_path");
  record.finish();
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
  std::string path;
  if (scope.prefix.empty()) {
    facts.path = part.path;
  } else {
    path = scope.prefix + part.path;
    facts.path = path;
  }
  facts.refused = refused;
  static std::string line;  // reused: one record at a time
  part_record(facts, line);
  say_json_record(line);
}
