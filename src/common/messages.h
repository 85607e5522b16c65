// Every line the tool prints and every status it ends with, in one place:
// nothing else in the program writes to standard output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "transfer_encoding.h"

// Exit statuses. The process reports them as 32-bit signed values, so the
// shell shows -1 as 255 ... -5 as 251.
enum ExitStatus : int {
  STATUS_OK = 0,
  STATUS_NO_ARGUMENT = -1,  // also a command line that can't be parsed
  STATUS_CANNOT_OPEN = -2,
  STATUS_BAD_FORMAT = -3,
  STATUS_CANNOT_WRITE = -4,
  STATUS_NO_MEMORY = -5,
};

// With quiet on, progress, the table echo and "Zapis souboru" lines are not
// printed; errors, listings, help and version still are.
void set_quiet(bool quiet);

// `name` as a terminal may be shown it: control bytes (0x00-0x1F, 0x7F),
// bytes outside a valid UTF-8 sequence and the C1 controls (U+0080-U+009F)
// each become "?". Every name printed goes through it when standard output
// is a terminal (decided once); elsewhere names are printed as they are.
std::string terminal_safe_name(std::string_view name);

// Progress: archives left (this one included), then the archive's path.
void say_progress(int archives_left, std::string_view path);
// A line of base64.conf that set the entry of `character` to `value`.
void say_table_entry(char character, std::int32_t value);
// base64.conf has been read to its end.
void say_table_loaded();
// A part is about to be written to `path`; its encoding is printed as a
// number (1 base64, 0 quoted-printable, 2 written as it stands).
void say_writing(std::string_view path, Encoding encoding);
// -n: a part was not written, as a file stands at `path` already (said
// under --quiet too: the part is missing from the result).
void say_kept_existing(std::string_view path);
// --offline: the archive's main page is at `path` (said after its parts,
// and under --quiet too: it is the run's result, not progress).
void say_main_page(std::string_view path);
// --json: one record, already JSON on one line; the line end is added.
// Printed under --quiet too, and never made terminal-safe: JSON escapes
// control bytes itself.
void say_json_record(std::string_view record);
// --single-file=-: the page itself, on standard output as it stands (held
// and written in blocks like every other line).
void say_page_bytes(std::string_view bytes);
// One option in the usage: its letter (0 for none), its long name, what
// it does ("\n" between the usage's lines) and the name of its value (empty
// for a switch). The option table names one of the texts below per row.
struct UsageText {
  std::string_view text;
  std::string_view value = {};
};
struct UsageOption {
  char letter;
  std::string_view name;
  const UsageText* usage;
};
namespace usage {
inline constexpr UsageText DIRECTORY{
    "zapise vse pod adresar ADR misto aktualniho", "ADR"};
inline constexpr UsageText DIR_PER_ARCHIVE{
    "kazdy archiv do adresare podle jeho jmena\n(report.mht do report/)"};
inline constexpr UsageText TABLE{"abeceda base64 ze SOUBORU misto base64.conf",
                                 "SOUBOR"};
inline constexpr UsageText LIST{"nic nezapise, jen vypise casti archivu"};
inline constexpr UsageText QUIET{"bez hlaseni o postupu (chyby se vypisi)"};
inline constexpr UsageText ANY_LAYOUT{
    "casti podle hlavicek MIME v jakemkoli\n"
    "poradi (archivy z prohlizecu; bez base64.conf)"};
inline constexpr UsageText OFFLINE{
    "jako -a a odkazy stranek vedou na zapsane\n"
    "soubory; nakonec vypise hlavni stranku"};
inline constexpr UsageText JSON{
    "vypis a zapis jako JSON Lines pro skripty (viz manual)"};
inline constexpr UsageText KEEP_GOING{
    "archiv s chybou preskoci a pokracuje dalsim;\n"
    "nakonec vypise pocty archivu"};
inline constexpr UsageText NO_CLOBBER{
    "existujici soubor nenahradi: s -a dalsi\n"
    "volne jmeno -N, jinak cast preskoci"};
inline constexpr UsageText ONLY{
    "jen casti techto typu (image/*,text/css);\n"
    "s -a nebo --offline",
    "TYPY"};
inline constexpr UsageText SINGLE_FILE{
    "jako -a a z kazdeho archivu jedna stranka\n"
    "HTML s castmi uvnitr (report.mht do report.html;\n"
    "--single-file=- ji vypise, jen pro jeden archiv)"};
inline constexpr UsageText NO_NETWORK{
    "s --offline nebo --single-file: stranky\n"
    "nenactou nic ze site (Content-Security-Policy)"};
inline constexpr UsageText PROGRESS{
    "na terminalu ukazuje, kolik z archivu je\n"
    "precteno (na standardni chybovy vystup)"};
inline constexpr UsageText HELP{"tato napoveda"};
inline constexpr UsageText VERSION{"verze programu"};
}  // namespace usage

// The options --help lists, in their order: the option table sets them
// once, before any usage is printed.
void set_usage_options(const UsageOption* options, std::size_t count);
// The usage that --help prints (the options set above), and the --version
// line.
void say_help();
void say_version();
// A listing (--list): a header, one line per part (its size once decoded,
// its encoding as say_writing numbers it, its path, and a mark when the
// path would be refused), then the total of every part listed.
void say_list_header();
void say_list_entry(std::uint64_t size, Encoding encoding,
                    std::string_view path, bool refused);
void say_list_total(std::uint64_t size, std::uint64_t parts);
// Pushes what has been said out to standard output; false when any of it
// was lost (a full disk, /dev/full). A terminal gets every line as it ends;
// elsewhere lines are held and written in blocks, flushed too before
// anything goes to standard error and before any fatal end.
[[nodiscard]] bool flush_output();
// For a handler of a signal that ends the process: writes out what is held
// (async-signal-safe). False when the signal came while a block was being
// written: the handler then returns, and the signal is raised again once
// that block is out.
bool flush_output_on_signal(int signal_number);

// What a fatal condition does: by default print the message and end the
// process with the status. Tests and fuzz targets install a handler that
// throws instead; a handler must not return.
using FatalHandler = void (*)(int status, std::string_view message);
FatalHandler set_fatal_handler(FatalHandler handler);
[[noreturn]] void fatal(int status, std::string_view message);
// For a handler: true when the condition being handled ends the run
// whatever archive comes next (the command line, the output directory, the
// table, memory, standard output); false when it concerns one archive.
[[nodiscard]] bool fatal_ends_run();
// -k: a fatal condition's message said without ending the process, and the
// line that ends the run: archives done and failed.
void say_failure(std::string_view message);
void say_batch_total(std::size_t done, std::size_t failed);

// The fatal conditions, one function each.
[[noreturn]] void fail_no_argument();
// The command line names an option that does not exist (or is ambiguous, or
// takes no value and was given one), or leaves out an option's value.
[[noreturn]] void fail_bad_option(std::string_view option);
// --single-file=- with other than one archive.
[[noreturn]] void fail_single_file_output_needs_one_archive();
[[noreturn]] void fail_option_value_missing(std::string_view option);
// --only: a list without a "type/subtype" pattern, or given without -a.
[[noreturn]] void fail_bad_type_list(std::string_view list);
[[noreturn]] void fail_only_without_any_layout();
[[noreturn]] void fail_cannot_open(std::string_view path);
// The output directory (-C) can't be opened: missing, or not a directory.
[[noreturn]] void fail_cannot_open_directory(std::string_view path);
// An archive's own directory (-d) can't be made or is not a directory.
[[noreturn]] void fail_cannot_make_directory(std::string_view name);
[[noreturn]] void fail_header();
[[noreturn]] void fail_part_format();
// A header line (before the first boundary, or one of a part's four) is
// longer than `limit` bytes: no archive needs one, and it would be held whole.
[[noreturn]] void fail_header_line_too_long(std::string_view path,
                                            std::size_t limit);
// `file` is the table file's name as given (base64.conf by default).
[[noreturn]] void fail_table_missing(std::string_view file);
[[noreturn]] void fail_table_format(std::string_view file,
                                    std::string_view line, std::size_t position,
                                    std::size_t length);
[[noreturn]] void fail_cannot_create();
[[noreturn]] void fail_unsafe_path(std::string_view path);
[[noreturn]] void fail_write(std::string_view path);
// Standard output itself failed: there is nowhere to say so.
[[noreturn]] void fail_output_lost();
// --any-layout: a file without any MIME header.
[[noreturn]] void fail_not_mime(std::string_view path);
// "-" (standard input) named twice: the second would find it at its end.
[[noreturn]] void fail_standard_input_twice();
// Standard input, copied for --any-layout's two passes: reading it failed,
// or the copy beneath the output directory `directory` could not be made
// or written (a full disk); nothing of the copy is left.
[[noreturn]] void fail_standard_input_read();
[[noreturn]] void fail_standard_input_copy(std::string_view directory);
// The default mode, standard input: a body line too long to hold could not
// be put aside beneath the output directory to be read again.
[[noreturn]] void fail_long_line_spill(std::string_view path);

// One line on standard error when the default mode meets an archive laid
// out otherwise than it reads: --any-layout may unpack it. Names on
// standard error are always shown terminal-safe.
void hint_any_layout(std::string_view path);

// Notes on standard error that change nothing else about the run.
// An HTML or CSS part whose charset cannot be rewritten safely (UTF-32,
// UTF-7, ISO-2022, EBCDIC) is written with its references as they were.
void note_charset_not_rewritten(std::string_view path,
                                std::string_view charset);
// --single-file: the archive holds no HTML page to write.
void note_no_main_page(std::string_view path);
// --single-file: a page or stylesheet refers to one it is inside of; that
// reference stays as it was (said once per archive).
void note_cycle_kept(std::string_view archive, std::string_view part);
// --single-file: the archive's references would repeat its parts past what
// the file may grow to; later references stay as they were (said once).
void note_inline_budget(std::string_view archive);

// --progress: the bar on standard error (a terminal), drawn over the one
// before. While it stands, every line printed on the terminal first
// clears it and draws it again after itself; a fatal end clears it.
void show_progress_bar(std::string_view bar);
void clear_progress_bar();
// The words on the bar: "nacteno 1.2 MiB z 4.0 MiB [##..] 8.1 MiB/s,
// zbyva 0:04", or "nacteno 1.2 MiB, 8.1 MiB/s" for an unknown total.
namespace progress_words {
inline constexpr std::string_view READ = "nacteno ";
inline constexpr std::string_view OF = " z ";
inline constexpr std::string_view PER_SECOND = "/s";
inline constexpr std::string_view LEFT = "zbyva ";
}  // namespace progress_words

// Out of memory. Every failed allocation ends here, by a direct call (a
// failed malloc) or through the new handler (a failed operator new). Two
// places keep a message and status of their own; they name it with a
// NoMemoryScope around the allocations concerned.
enum class NoMemoryMessage {
  general,    // "Chyba. Nedostatek pameti. ", -5
  table,      // loading base64.conf: "Chyba. Malo pameti. ", -2
  directory,  // making a part's directory: "Nedostatek pameti. ", -5
};
[[noreturn]] void fail_no_memory();

// Routes a failed operator new to fail_no_memory; called once by main.
void catch_allocation_failures();

// Chooses fail_no_memory's message while it lives.
class NoMemoryScope {
 public:
  explicit NoMemoryScope(NoMemoryMessage message);
  ~NoMemoryScope();
  NoMemoryScope(const NoMemoryScope&) = delete;
  NoMemoryScope& operator=(const NoMemoryScope&) = delete;

 private:
  NoMemoryMessage previous_;
};
