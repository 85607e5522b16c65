// --any-layout's whole path: GMime and the boundary search give the parts,
// the naming rules their paths, and the parts are written (with --offline's
// rewriting for every other input) into a scratch directory with links
// planted in it. Every body range must lie within the file, every name must
// be safe beneath the output directory and given only once, and nothing
// beside the scratch directory may change.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "base64_table.h"
#include "decode_table.h"
#include "extract.h"
#include "fuzz_support.h"
#include "mime_archive.h"
#include "mime_source.h"
#include "output_dir.h"
#include "part_names.h"
#include "path_guard.h"

namespace {

void check_name(std::string_view name) {
  if (name.empty()) fuzz_fail("an empty name");
  if (!is_safe_part_path(name)) fuzz_fail("an unsafe name");
  if (name.size() > MAX_PATH_BYTES + 32) fuzz_fail("a name past the limit");
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = name.find('/', start);
    const std::string_view component = name.substr(
        start, slash == std::string_view::npos ? slash : slash - start);
    if (component.empty() || component == "." || component == "..")
      fuzz_fail("an empty, \".\" or \"..\" component");
    if (component.size() > MAX_COMPONENT_BYTES)
      fuzz_fail("a component past 255 bytes");
    for (const char c : component)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
        fuzz_fail("a control byte in a name");
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_setup();
  scratch_setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  scratch_write_archive(data, size);
  const int fd = ::open(scratch_archive().c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) fuzz_fail("cannot open the archive");
  const MimeArchive archive = parse_mime_archive(fd);
  ::close(fd);
  if (archive.layout == MimeLayout::not_mime && !archive.leaves.empty())
    fuzz_fail("parts in a file that is not MIME");
  PartNameAllocator names;
  std::unordered_set<std::string> given;
  std::size_t index = 0;
  for (const MimeLeaf& leaf : archive.leaves) {
    if (leaf.body_offset > size || leaf.body_length > size - leaf.body_offset)
      fuzz_fail("a body beyond the file");
    const PartNaming naming{leaf.location,   leaf.base_location,
                            leaf.content_id, leaf.content_type,
                            ++index,         leaf.filename};
    const std::string name = names.allocate(
        part_path(naming, "archive", archive.layout == MimeLayout::single));
    check_name(name);
    if (!given.insert(name).second) fuzz_fail("a name given twice");
  }

  scratch_unpack([&] {
    MimeSource source(scratch_archive());
    DecodeTable table;
    table.use(base64table_of(RFC2045_ALPHABET));
    source.read_as_rfc2045(true);
    std::optional<OfflinePages> pages;
    if (size % 2 == 1) pages.emplace(source.archive(), source.names());
    const DirectoryFd root = open_output_root(".");
    extract_parts(source, table, root.get(), pages ? &*pages : nullptr);
  });
  return 0;
}
