// Every message the tool prints and every status it ends with, in one place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Exit statuses. The process reports them as 32-bit signed values, so the
// shell shows -1 as 255 ... -5 as 251.
enum ExitStatus : int {
  STATUS_OK = 0,
  STATUS_NO_ARGUMENT = -1,
  STATUS_CANNOT_OPEN = -2,
  STATUS_BAD_FORMAT = -3,
  STATUS_CANNOT_WRITE = -4,
  STATUS_NO_MEMORY = -5,
};

// Writes bytes to standard output, where every message of the tool goes.
void say(std::string_view text);
void say_number(std::int64_t value);

// What a fatal condition does: by default print the message and end the
// process with the status. Tests and fuzz targets install a handler that
// throws instead; a handler must not return.
using FatalHandler = void (*)(int status, std::string_view message);
FatalHandler set_fatal_handler(FatalHandler handler);
[[noreturn]] void fatal(int status, std::string_view message);

// The fatal conditions, one function each.
[[noreturn]] void fail_no_argument();
[[noreturn]] void fail_cannot_open(std::string_view path);
[[noreturn]] void fail_header();
[[noreturn]] void fail_part_format();
[[noreturn]] void fail_table_no_memory();
[[noreturn]] void fail_table_missing();
[[noreturn]] void fail_table_format(std::string_view line, std::size_t position,
                                    std::size_t length);
[[noreturn]] void fail_cannot_create();
[[noreturn]] void fail_unsafe_path(std::string_view path);
[[noreturn]] void fail_write(std::string_view path);
[[noreturn]] void fail_no_memory();
[[noreturn]] void fail_no_memory_directory();

// Notes on standard error that change nothing else about the run.
// An HTML or CSS part whose charset cannot be rewritten safely (UTF-32,
// UTF-7, ISO-2022, EBCDIC) is written with its references as they were.
void note_charset_not_rewritten(std::string_view path,
                                std::string_view charset);
