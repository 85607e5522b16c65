// Keeping every output inside the current directory.
#pragma once

#include <string_view>

// True when `path` is relative, has no ".." component and no NUL byte.
bool is_safe_part_path(std::string_view path);

// Ends the process when `path` would lead out of the current directory.
void check_part_path(std::string_view path);
