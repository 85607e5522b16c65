#include "mime_archive.h"

#include <gmime/gmime.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <string_view>

namespace {

struct ObjectUnref {
  void operator()(void* object) const { g_object_unref(object); }
};
template <class T>
using GObjectPtr = std::unique_ptr<T, ObjectUnref>;

struct Free {
  void operator()(void* memory) const { g_free(memory); }
};

std::string lower_trimmed(const char* text) {
  if (text == nullptr) return {};
  std::string_view view(text);
  const std::size_t first = view.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  view = view.substr(first, view.find_last_not_of(" \t\r\n") - first + 1);
  std::string out(view);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string trimmed(const char* text) {
  if (text == nullptr) return {};
  std::string_view view(text);
  const std::size_t first = view.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return std::string(
      view.substr(first, view.find_last_not_of(" \t\r\n") - first + 1));
}

std::string text_or_empty(const char* text) { return text ? text : ""; }

class Walker {
 public:
  Walker(MimeArchive& archive, std::uint64_t file_size)
      : archive_(archive), file_size_(file_size) {}

  void walk(GMimeObject* object, const std::string& base_location) {
    if (GMIME_IS_MESSAGE_PART(object)) {
      // An attached message is walked like the archive itself.
      GMimeMessage* message =
          g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
      GMimeObject* body =
          message ? g_mime_message_get_mime_part(message) : nullptr;
      if (body) walk(body, location_or(object, base_location));
      return;
    }
    if (GMIME_IS_MULTIPART(object)) {
      GMimeMultipart* multipart = GMIME_MULTIPART(object);
      const std::string base = location_or(object, base_location);
      const int count = g_mime_multipart_get_count(multipart);
      for (int i = 0; i < count; ++i)
        walk(g_mime_multipart_get_part(multipart, i), base);
      return;
    }
    if (GMIME_IS_PART(object)) add_leaf(GMIME_PART(object), base_location);
  }

 private:
  MimeArchive& archive_;
  std::uint64_t file_size_;

  static std::string location_or(GMimeObject* object,
                                 const std::string& fallback) {
    std::string location =
        trimmed(g_mime_object_get_header(object, "Content-Location"));
    return location.empty() ? fallback : location;
  }

  void add_leaf(GMimePart* part, const std::string& base_location) {
    auto* object = GMIME_OBJECT(part);
    MimeLeaf leaf;
    GMimeContentType* type = g_mime_object_get_content_type(object);
    if (type != nullptr) {
      const std::unique_ptr<char, Free> mime_type(
          g_mime_content_type_get_mime_type(type));
      leaf.content_type = lower_trimmed(mime_type.get());
      leaf.charset =
          text_or_empty(g_mime_content_type_get_parameter(type, "charset"));
    }
    leaf.transfer_encoding = lower_trimmed(
        g_mime_object_get_header(object, "Content-Transfer-Encoding"));
    leaf.location =
        trimmed(g_mime_object_get_header(object, "Content-Location"));
    leaf.content_id = text_or_empty(g_mime_object_get_content_id(object));
    leaf.base_location = base_location;
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    GMimeStream* stream =
        content ? g_mime_data_wrapper_get_stream(content) : nullptr;
    if (stream != nullptr) {
      const gint64 begin = stream->bound_start;
      const gint64 end = stream->bound_end < 0
                             ? static_cast<gint64>(file_size_)
                             : stream->bound_end;
      leaf.body_offset = static_cast<std::uint64_t>(begin);
      leaf.body_length = end > begin ? static_cast<std::uint64_t>(end - begin)
                                     : 0;
    }
    archive_.leaves.push_back(std::move(leaf));
  }
};

// The line end before a boundary belongs to the boundary (RFC 2046). Before
// a close delimiter at the very end of the file GMime leaves the CR of a
// CR LF in the body; a body that ends in CR with LF next gives it back.
void give_line_end_to_boundary(int file, MimeLeaf& leaf) {
  if (leaf.body_length == 0) return;
  char around[2];
  const auto last = static_cast<off_t>(leaf.body_offset + leaf.body_length - 1);
  ssize_t got = 0;
  do {
    got = ::pread(file, around, sizeof around, last);
  } while (got < 0 && errno == EINTR);
  if (got == 2 && around[0] == '\r' && around[1] == '\n') --leaf.body_length;
}

}  // namespace

MimeArchive parse_mime_archive(int file) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { g_mime_init(); });

  MimeArchive archive;
  struct stat status {};
  if (::fstat(file, &status) != 0) return archive;
  const auto file_size = static_cast<std::uint64_t>(status.st_size);

  const GObjectPtr<GMimeStream> stream(g_mime_stream_fs_new(file));
  g_mime_stream_fs_set_owner(GMIME_STREAM_FS(stream.get()), FALSE);
  const GObjectPtr<GMimeParser> parser(
      g_mime_parser_new_with_stream(stream.get()));
  // Bodies stay ranges of the file instead of copies in memory.
  g_mime_parser_set_persist_stream(parser.get(), TRUE);
  g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
  const GObjectPtr<GMimeMessage> message(
      g_mime_parser_construct_message(parser.get(), nullptr));
  if (!message) return archive;
  GMimeObject* top = g_mime_message_get_mime_part(message.get());
  // GMime gives a message without Content-Type a text/plain body; such a
  // file is not an archive.
  if (top == nullptr || g_mime_object_get_header(top, "Content-Type") == nullptr)
    return archive;

  archive.layout =
      GMIME_IS_MULTIPART(top) ? MimeLayout::multipart : MimeLayout::single;
  if (GMIME_IS_MULTIPART(top)) {
    GMimeContentType* type = g_mime_object_get_content_type(top);
    if (type != nullptr)
      archive.start =
          trimmed(g_mime_content_type_get_parameter(type, "start"));
  }
  Walker walker(archive, file_size);
  walker.walk(top, trimmed(g_mime_object_get_header(
                       GMIME_OBJECT(message.get()), "Content-Location")));
  for (MimeLeaf& leaf : archive.leaves) give_line_end_to_boundary(file, leaf);
  return archive;
}
