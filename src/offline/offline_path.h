// Paths from one written file to another, in the form a browser resolves on
// disk.
#pragma once

#include <string>
#include <string_view>

// The path of `to_file` relative to the directory of `from_file`; both are
// "/"-separated and relative to the output directory. Empty and "."
// segments are ignored.
std::string relative_path(std::string_view from_file, std::string_view to_file);

// `path` with every byte percent-encoded that a URL path would not carry
// literally or that would end an attribute, a srcset candidate or a CSS
// url(): "%", "#", "?", ":", space, quotes, brackets, backslashes, commas,
// control and non-ASCII bytes. "/" separators stay.
std::string encode_url_path(std::string_view path);

// Appends `byte` as a percent escape ("%2F"), upper-case hex.
void append_percent_escape(std::string& out, unsigned char byte);
