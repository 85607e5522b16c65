// Creating a part's directory.
#pragma once

#include <string>

// Makes `dir` and every missing parent; always 0. An existing directory is
// no error, and one that can't be made is left for the file open to report.
// Nothing is made through a link that leads out of the current directory.
int make_directory(const std::string& dir);
