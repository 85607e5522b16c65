// Paths from one written file to another, in the form a browser resolves on
// disk (encode_url_path in url.h escapes them for a page).
#pragma once

#include <string>
#include <string_view>

// The path of `to_file` relative to the directory of `from_file`; both are
// "/"-separated and relative to the output directory. Empty and "."
// segments are ignored.
std::string relative_path(std::string_view from_file, std::string_view to_file);
