// The name an archive lends to what is made for it: the directory
// --dir-per-archive unpacks it into, and the file of a single-part archive
// without a location under --any-layout.
#pragma once

#include <string_view>

// The archive's file name without the last extension ("dir/report.mht" gives
// "report"), or the whole file name when nothing else would be left but dots
// (".mht", "..mht"). Always one component, never "." or "..", for a path
// that names a file. "-", standard input, gives "stdin".
std::string_view archive_stem(std::string_view archive_path);
