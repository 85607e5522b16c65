// Where each part of a MIME archive is written: a relative path beneath the
// output directory, made from the part's location, Content-ID or type, safe
// whatever the archive says, and unique within the archive.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

// Longest name component and longest relative path handed out. The path
// keeps room below PATH_MAX for the output directory's own prefix and for
// the "-N" that tells equal names apart.
inline constexpr std::size_t MAX_COMPONENT_BYTES = 255;
inline constexpr std::size_t MAX_PATH_BYTES = 3840;

// What names a part.
struct PartNaming {
  std::string_view location;       // Content-Location, possibly relative
  std::string_view base_location;  // the enclosing one, for relative ones
  std::string_view content_id;     // without angle brackets
  std::string_view content_type;   // "type/subtype", lower-cased
  std::size_t index = 1;           // the part's place in the archive, from 1
  std::string_view filename = {};  // the name a mail gives an attachment
};

// A type and the extensions a browser reads it by when it opens a file
// from disk, space-separated, the one a name gets first ("jpg jpeg jpe").
struct TypeExtensions {
  std::string_view type;
  std::string_view extensions;
};

// The table of types a name carries, one row per type.
std::span<const TypeExtensions> type_extensions();

// The extensions allowed for a content type (aliases such as
// application/x-javascript included); empty when the type is unknown or
// says nothing of the bytes (application/octet-stream).
std::string_view extensions_of_type(std::string_view content_type);

// ".html", ".png"... for a content type; ".bin" for untyped bytes, empty
// when none is known.
std::string extension_for_type(std::string_view content_type);

// Applies the safety rules: empty, "." and ".." components dropped, bytes a
// file system refuses (NUL, control bytes) replaced by "_", components cut
// to MAX_COMPONENT_BYTES and the path to MAX_PATH_BYTES with a short hash
// of what was cut. Never absolute; empty only when `path` has no name.
std::string safe_relative_path(std::string_view path);

// The full rule for one part: the path its location names (file URLs lose
// their drive or share, web ones keep their host, "cid:X" is cid/X), else
// its file name (one component: "/" becomes "%2F"), else cid/ and its
// Content-ID, else part-N; a single-part archive without any of these is
// named after the archive (`archive_stem`, "report" for report.mht). The name
// ends in an extension the part's type allows, its own if it has one
// ("a.jpeg"), else the type's first ("a.php" -> a.php.css); a web URL's query
// comes before it, made readable ("news.css?v=1&x" -> news_v=1_x.css). No name
// holds "?" or "#".
std::string part_path(const PartNaming& part, std::string_view archive_stem,
                      bool single_part);

// Hands out the names of one archive: a name already given (as a file, or
// as a directory on another file's way) comes back with "-2", "-3"...
// before its extension, so no part overwrites another. A directory that is
// already a file is renamed once, and every later part below it goes to
// that one directory (items/1.png, items/2.png -> items-2/). Amortised
// constant time per name, however many parts share one.
class PartNameAllocator {
 public:
  // -n: `taken` tells whether a file path already stands on disk; such a
  // name is passed over like one already given.
  using Taken = std::function<bool(const std::string&)>;
  PartNameAllocator() = default;
  explicit PartNameAllocator(Taken taken) : taken_(std::move(taken)) {}

  std::string allocate(std::string path);

 private:
  std::unordered_set<std::string> files_;
  std::unordered_set<std::string> directories_;
  std::unordered_map<std::string, std::size_t> next_suffix_;
  std::unordered_map<std::string, std::string> renamed_directories_;
  Taken taken_;

  [[nodiscard]] bool on_disk(const std::string& path) const {
    return taken_ && taken_(path);
  }

  std::string free_variant(const std::string& path, bool as_directory);
};
