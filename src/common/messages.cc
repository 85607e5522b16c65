#include "messages.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

// Standard output: a terminal gets each line as it ends; anything else gets
// blocks, gathered here rather than by stdio so that a signal handler can
// still push them out (see flush_output_on_signal).
constexpr std::size_t OUTPUT_BLOCK = std::size_t{64} << 10;
char output_held[OUTPUT_BLOCK];
std::atomic<std::size_t> output_used{0};  // bytes held
std::atomic<std::size_t> output_sent{0};  // of those, written already
volatile std::sig_atomic_t output_writing = 0;
volatile std::sig_atomic_t output_deferred_signal = 0;
bool output_lost = false;
static_assert(std::atomic<std::size_t>::is_always_lock_free);

bool output_is_terminal() {
  static const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  return terminal;
}

// Writes what is held from `output_sent` on; false when a write failed.
bool write_held() {
  std::size_t sent = output_sent.load(std::memory_order_relaxed);
  const std::size_t used = output_used.load(std::memory_order_relaxed);
  while (sent < used) {
    const ssize_t done =
        ::write(STDOUT_FILENO, output_held + sent, used - sent);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    sent += static_cast<std::size_t>(done);
    output_sent.store(sent, std::memory_order_relaxed);
  }
  return true;
}

// --progress's bar on standard error: its text, kept to draw it again
// after a line, and whether it stands on the terminal now.
std::string bar_text;
volatile std::sig_atomic_t bar_drawn = 0;
constexpr std::string_view BAR_ERASE = "\r\x1b[K";

void write_stderr(std::string_view text) {
  while (!text.empty()) {
    const ssize_t done = ::write(STDERR_FILENO, text.data(), text.size());
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return;  // a bar that can't be drawn is no failure
    text.remove_prefix(static_cast<std::size_t>(done));
  }
}

void erase_bar() {
  if (bar_drawn == 0) return;
  bar_drawn = 0;
  write_stderr(BAR_ERASE);
}

void draw_bar() {
  if (bar_text.empty()) return;
  write_stderr(bar_text);
  bar_drawn = 1;
}

// A line about to reach the terminal the bar stands on: the bar makes way
// for it while it lives, and comes back after it.
class BarAside {
 public:
  explicit BarAside(bool needed) : hidden_(needed && bar_drawn != 0) {
    if (hidden_) erase_bar();
  }
  ~BarAside() {
    if (hidden_) draw_bar();
  }
  BarAside(const BarAside&) = delete;
  BarAside& operator=(const BarAside&) = delete;

 private:
  bool hidden_;
};

void flush_held() {
  const BarAside aside(output_is_terminal() &&
                       output_used.load(std::memory_order_relaxed) >
                           output_sent.load(std::memory_order_relaxed));
  output_writing = 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (!write_held()) output_lost = true;  // what is lost stays lost
  output_used.store(0, std::memory_order_relaxed);
  output_sent.store(0, std::memory_order_relaxed);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  output_writing = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  // A signal that came while the block was being written ends the process
  // now that the block is out.
  const int deferred = output_deferred_signal;
  if (deferred != 0) std::raise(deferred);
}

// The one place that writes to standard output.
void write_out(std::string_view text) {
  bool line_ended = false;
  while (!text.empty()) {
    const std::size_t used = output_used.load(std::memory_order_relaxed);
    const std::size_t count = std::min(text.size(), OUTPUT_BLOCK - used);
    std::memcpy(output_held + used, text.data(), count);
    line_ended = line_ended ||
                 text.substr(0, count).find('\n') != std::string_view::npos;
    // Counted only once copied: a handler sees whole bytes.
    std::atomic_signal_fence(std::memory_order_seq_cst);
    output_used.store(used + count, std::memory_order_relaxed);
    text.remove_prefix(count);
    if (used + count == OUTPUT_BLOCK) flush_held();
  }
  if (line_ended && output_is_terminal()) flush_held();
}

void write_number(std::int64_t value) { write_out(std::to_string(value)); }

// Length of the valid UTF-8 sequence that starts `text` (whose first byte is
// 0x80 or above), or 0 when it starts none: no overlong forms, surrogates
// or values past U+10FFFF.
std::size_t utf8_sequence_length(std::string_view text) {
  const auto byte = [&](std::size_t i) {
    return i < text.size() ? static_cast<unsigned char>(text[i]) : 0U;
  };
  const unsigned lead = byte(0);
  std::size_t length = 0;
  unsigned low = 0x80;  // bounds of the second byte; later ones are 80..BF
  unsigned high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return length;
}

// Decided at the first name printed: a terminal gets names made safe, a
// pipe or a file gets every byte as it is.
bool names_made_safe() { return output_is_terminal(); }

// A name as this standard output may be shown it.
std::string shown(std::string_view name) {
  return names_made_safe() ? terminal_safe_name(name) : std::string(name);
}

void write_name(std::string_view name) {
  if (names_made_safe())
    write_out(terminal_safe_name(name));
  else
    write_out(name);
}

bool quiet_output = false;

void print_and_exit(int status, std::string_view message) {
  clear_progress_bar();
  write_out(message);
  flush_held();
  std::exit(status);
}

FatalHandler current_handler = print_and_exit;
// Set by the conditions no later archive could escape (the command line,
// the output directory, the table, memory, standard output itself).
bool failure_ends_run = false;
NoMemoryMessage no_memory_message = NoMemoryMessage::general;

void say_on_stderr(std::string_view text) {
  const BarAside aside(true);
  // Whatever standard output holds comes first, as it was said first.
  flush_held();
  std::fwrite(text.data(), 1, text.size(), stderr);
}

}  // namespace

void set_quiet(bool quiet) { quiet_output = quiet; }

void show_progress_bar(std::string_view bar) {
  bar_text.clear();
  bar_text.push_back('\r');
  bar_text.append(bar).append("\x1b[K");
  bar_drawn = 0;  // drawn over, from the line's start
  draw_bar();
}

void clear_progress_bar() {
  erase_bar();
  bar_text.clear();
}

std::string terminal_safe_name(std::string_view name) {
  std::string safe;
  safe.reserve(name.size());
  std::size_t at = 0;
  while (at < name.size()) {
    const auto lead = static_cast<unsigned char>(name[at]);
    if (lead < 0x80) {
      safe += lead < 0x20 || lead == 0x7F ? '?' : name[at];
      ++at;
      continue;
    }
    const std::size_t length = utf8_sequence_length(name.substr(at));
    if (length == 0) {
      safe += '?';  // each stray byte on its own
      ++at;
      continue;
    }
    const bool c1_control =
        lead == 0xC2 && static_cast<unsigned char>(name[at + 1]) < 0xA0;
    if (c1_control)
      safe += '?';
    else
      safe.append(name.substr(at, length));
    at += length;
  }
  return safe;
}

void say_progress(int archives_left, std::string_view path) {
  if (quiet_output) return;
  write_out("argc: ");
  write_number(archives_left);
  write_out(", argv[1]: ");
  write_name(path);
  write_out("\n");
}

void say_table_entry(char character, std::int32_t value) {
  if (quiet_output) return;
  write_out("Base64table [");
  write_out({&character, 1});
  write_out("]  = ");
  write_number(value);
  write_out("\n");
}

void say_table_loaded() {
  if (!quiet_output) write_out("Base64 nahran...\n");
}

void say_writing(std::string_view path, Encoding encoding) {
  if (quiet_output) return;
  write_out("Zapis souboru ");
  write_name(path);
  write_out(", enc: ");
  write_number(encoding == Encoding::base64             ? 1
               : encoding == Encoding::quoted_printable ? 0
                                                        : 2);
  write_out("\n");
}

void say_page_bytes(std::string_view bytes) { write_out(bytes); }

void say_main_page(std::string_view path) {
  write_out("Hlavni stranka: ");
  write_name(path);
  write_out("\n");
}

void say_json_record(std::string_view record) {
  write_out(record);
  write_out("\n");
}

namespace {

const UsageOption* usage_options = nullptr;
std::size_t usage_option_count = 0;

// Where an option's text starts on its line, and on the lines after.
constexpr std::size_t USAGE_TEXT_COLUMN = 26;

void write_usage_line(std::string_view left, std::string_view text) {
  std::string line(left);
  line.resize(
      left.size() < USAGE_TEXT_COLUMN ? USAGE_TEXT_COLUMN : left.size() + 1,
      ' ');
  line.append(text).append("\n");
  write_out(line);
}

}  // namespace

void set_usage_options(const UsageOption* options, std::size_t count) {
  usage_options = options;
  usage_option_count = count;
}

void say_help() {
  write_out(
      "Pouziti: mimeunpack [PREPINACE] ARCHIV...\n"
      "Rozbali jednosouborove webove archivy (.mht) do souboru a adresaru.\n"
      "\n");
  for (std::size_t i = 0; i < usage_option_count; ++i) {
    const UsageOption& option = usage_options[i];
    std::string left = "  ";
    if (option.letter != 0)
      left.append({'-', option.letter}).append(", ");
    else
      left.append("    ");
    left.append("--").append(option.name);
    if (!option.usage->value.empty())
      left.append(" ").append(option.usage->value);
    std::string_view text = option.usage->text;
    for (;;) {
      const std::size_t end = text.find('\n');
      write_usage_line(left, text.substr(0, end));
      if (end == std::string_view::npos) break;
      text.remove_prefix(end + 1);
      left.clear();
    }
  }
  write_usage_line("  --", "konec prepinacu, dale jen archivy");
  write_out("\nVse ostatni: man mimeunpack\n");
}

void say_version() { write_out("mimeunpack " MIMEUNPACK_VERSION "\n"); }

namespace {

// Sizes right-aligned in a column this wide (up to 99 GB).
constexpr int LIST_SIZE_COLUMN = 11;

void write_size_column(std::uint64_t size) {
  char text[32];
  const int length =
      std::snprintf(text, sizeof text, "%*" PRIu64, LIST_SIZE_COLUMN, size);
  write_out({text, static_cast<std::size_t>(length)});
}

}  // namespace

void say_list_header() {
  write_out(
      "   Velikost  Kodovani          Cesta\n"
      "-----------  ----------------  -----\n");
}

void say_list_entry(std::uint64_t size, Encoding encoding,
                    std::string_view path, bool refused) {
  write_size_column(size);
  write_out(encoding == Encoding::base64             ? "  base64            "
            : encoding == Encoding::quoted_printable ? "  quoted-printable  "
                                                     : "  bez dekodovani    ");
  // A refused path is shown as its refusal message shows it.
  write_name(refused ? path.substr(0, path.find('\0')) : path);
  if (refused) write_out("  (odmitnuto: vede mimo adresar)");
  write_out("\n");
}

void say_list_total(std::uint64_t size, std::uint64_t parts) {
  write_out("-----------                    -----\n");
  write_size_column(size);
  write_out("                    ");
  write_number(static_cast<std::int64_t>(parts));
  write_out(parts == 1 ? " cast\n" : " casti\n");
}

bool flush_output() {
  flush_held();
  return !output_lost;
}

bool flush_output_on_signal(int signal_number) {
  // The bar goes first: the shell's prompt comes next on its line.
  if (bar_drawn != 0) {
    bar_drawn = 0;
    [[maybe_unused]] const ssize_t erased =
        ::write(STDERR_FILENO, BAR_ERASE.data(), BAR_ERASE.size());
  }
  if (output_writing != 0) {
    // The block being written ends the process once it is out; a second
    // signal (a write that never ends) ends it at once.
    if (output_deferred_signal != 0) return true;
    output_deferred_signal = signal_number;
    return false;
  }
  if (output_sent.load(std::memory_order_relaxed) <
      output_used.load(std::memory_order_relaxed))
    write_held();
  return true;
}

FatalHandler set_fatal_handler(FatalHandler handler) {
  FatalHandler previous = current_handler;
  current_handler = handler ? handler : print_and_exit;
  return previous;
}

namespace {

[[noreturn]] void raise_fatal(bool ends_run, int status,
                              std::string_view message) {
  failure_ends_run = ends_run;
  current_handler(status, message);
  std::abort();  // a handler that returns has broken its contract
}

[[noreturn]] void fatal_for_run(int status, std::string_view message) {
  raise_fatal(true, status, message);
}

}  // namespace

void fatal(int status, std::string_view message) {
  raise_fatal(false, status, message);
}

bool fatal_ends_run() { return failure_ends_run; }

void say_failure(std::string_view message) { write_out(message); }

void say_kept_existing(std::string_view path) {
  write_out("Soubor ");
  write_name(path);
  write_out(" uz existuje, nezapsan.\n");
}

void say_batch_total(std::size_t done, std::size_t failed) {
  std::string line = "Archivu zpracovano: ";
  line.append(std::to_string(done)).append(", s chybou: ");
  line.append(std::to_string(failed)).append("\n");
  write_out(line);
}

void fail_no_argument() {
  fatal_for_run(STATUS_NO_ARGUMENT, "Chybi parametr.\n");
}

void fail_bad_option(std::string_view option) {
  std::string message = "Chyba. Neplatny prepinac ";
  message.append(shown(option)).append(". Napoveda: mimeunpack --help\n");
  fatal_for_run(STATUS_NO_ARGUMENT, message);
}

void fail_single_file_output_needs_one_archive() {
  fatal(STATUS_NO_ARGUMENT,
        "Chyba. --single-file=- vypise jen jeden archiv. Napoveda: "
        "mimeunpack --help\n");
}

void fail_option_value_missing(std::string_view option) {
  std::string message = "Chyba. U prepinace ";
  message.append(shown(option));
  message.append(" chybi hodnota. Napoveda: mimeunpack --help\n");
  fatal_for_run(STATUS_NO_ARGUMENT, message);
}

void fail_bad_type_list(std::string_view list) {
  std::string message = "Chyba. Neplatny seznam typu ";
  message.append(shown(list)).append(". Napoveda: mimeunpack --help\n");
  fatal_for_run(STATUS_NO_ARGUMENT, message);
}

void fail_only_without_any_layout() {
  fatal_for_run(STATUS_NO_ARGUMENT,
                "Chyba. Prepinac --only plati jen s -a nebo --offline.\n");
}

void fail_cannot_open(std::string_view path) {
  std::string message = "Chyba. Nemohu otevrit soubor";
  message.append(shown(path)).append(".\n");
  fatal(STATUS_CANNOT_OPEN, message);
}

void fail_cannot_open_directory(std::string_view path) {
  std::string message = "Chyba. Nemohu otevrit adresar ";
  message.append(shown(path)).append(".\n");
  fatal_for_run(STATUS_CANNOT_OPEN, message);
}

void fail_cannot_make_directory(std::string_view name) {
  std::string message = "Chyba. Nemohu vytvorit adresar ";
  message.append(shown(name)).append(".\n");
  fatal(STATUS_CANNOT_WRITE, message);
}

// Header faults end the run without a word.
void fail_header() { fatal(STATUS_BAD_FORMAT, {}); }

void fail_part_format() {
  fatal(STATUS_BAD_FORMAT, "Chyba. Soubor zrejme nema spravny format.\n");
}

void fail_header_line_too_long(std::string_view path, std::size_t limit) {
  std::string message = "Chyba. Soubor ";
  message.append(shown(path)).append(" ma radek hlavicky delsi nez ");
  message.append(std::to_string(limit)).append(" bajtu.\n");
  fatal(STATUS_BAD_FORMAT, message);
}

void fail_table_missing(std::string_view file) {
  std::string message = "Chyba. Tabulka rozlozeni [";
  message.append(shown(file)).append("] nenalezena.\n");
  fatal_for_run(STATUS_BAD_FORMAT, message);
}

void fail_table_format(std::string_view file, std::string_view line,
                       std::size_t position, std::size_t length) {
  std::string message = "Chyba. Soubor [";
  message.append(shown(file)).append("] ma chybny format. \n");
  message.append("Radek: ").append(line);
  message.append("; i = ").append(std::to_string(position));
  message.append(" strlen: ").append(std::to_string(length)).append("\n");
  fatal_for_run(STATUS_BAD_FORMAT, message);
}

// The "Zapis souboru " line has already said which file it was.
void fail_cannot_create() { fatal(STATUS_CANNOT_WRITE, {}); }

void fail_unsafe_path(std::string_view path) {
  std::string message = "Chyba. Cesta ";
  message.append(shown(path.substr(0, path.find('\0'))));
  message.append(" vede mimo aktualni adresar.\n");
  fatal(STATUS_CANNOT_WRITE, message);
}

void fail_write(std::string_view path) {
  std::string message = "Chyba. Zapis do souboru ";
  message.append(shown(path)).append(" selhal.\n");
  fatal(STATUS_CANNOT_WRITE, message);
}

// Standard output itself failed: there is nowhere to say so.
void fail_output_lost() { fatal_for_run(STATUS_CANNOT_WRITE, {}); }

// No memory is left to build a message with: each one is a literal.
void fail_no_memory() {
  switch (no_memory_message) {
    case NoMemoryMessage::table:
      fatal_for_run(STATUS_CANNOT_OPEN, "Chyba. Malo pameti. \n");
    case NoMemoryMessage::directory:
      fatal_for_run(STATUS_NO_MEMORY, "Nedostatek pameti. \n");
    case NoMemoryMessage::general:
      break;
  }
  fatal_for_run(STATUS_NO_MEMORY, "Chyba. Nedostatek pameti. \n");
}

void catch_allocation_failures() { std::set_new_handler(fail_no_memory); }

NoMemoryScope::NoMemoryScope(NoMemoryMessage message)
    : previous_(no_memory_message) {
  no_memory_message = message;
}

NoMemoryScope::~NoMemoryScope() { no_memory_message = previous_; }

void fail_not_mime(std::string_view path) {
  std::string message = "Chyba. Soubor ";
  message.append(shown(path)).append(" neni MIME archiv.\n");
  fatal(STATUS_BAD_FORMAT, message);
}

void fail_standard_input_twice() {
  fatal_for_run(STATUS_NO_ARGUMENT,
                "Chyba. Standardni vstup (-) lze cist jen jednou. Napoveda: "
                "mimeunpack --help\n");
}

void fail_standard_input_read() {
  fatal(STATUS_CANNOT_OPEN, "Chyba. Cteni standardniho vstupu selhalo.\n");
}

void fail_standard_input_copy(std::string_view directory) {
  std::string message = "Chyba. Nemohu ulozit kopii standardniho vstupu do ";
  message.append("adresare ").append(shown(directory)).append(".\n");
  fatal(STATUS_CANNOT_WRITE, message);
}

void fail_long_line_spill(std::string_view path) {
  std::string message = "Chyba. Nemohu odlozit dlouhy radek souboru ";
  message.append(shown(path)).append(" do vystupniho adresare.\n");
  fatal(STATUS_CANNOT_WRITE, message);
}

void hint_any_layout(std::string_view path) {
  std::string message = "Tip: soubor ";
  message.append(terminal_safe_name(path))
      .append(" ma jine rozlozeni casti; zkuste mimeunpack --any-layout.\n");
  say_on_stderr(message);
}

void note_no_main_page(std::string_view path) {
  std::string message = "Poznamka: archiv ";
  message.append(terminal_safe_name(path));
  message.append(" nema stranku HTML, jeden soubor nevznikne.\n");
  say_on_stderr(message);
}

void note_cycle_kept(std::string_view archive, std::string_view part) {
  std::string message = "Poznamka: v archivu ";
  message.append(terminal_safe_name(archive));
  message.append(" odkazuje ");
  message.append(terminal_safe_name(part));
  message.append(" sam na sebe, odkaz zustava.\n");
  say_on_stderr(message);
}

void note_inline_budget(std::string_view archive) {
  std::string message = "Poznamka: archiv ";
  message.append(terminal_safe_name(archive));
  message.append(
      " odkazuje na sve casti prilis mnohokrat; dalsi odkazy zustavaji.\n");
  say_on_stderr(message);
}

void note_charset_not_rewritten(std::string_view path,
                                std::string_view charset) {
  std::string message = "Poznamka: odkazy v souboru ";
  message.append(terminal_safe_name(path));
  message.append(" nejsou prepsany, kodovani ");
  message.append(terminal_safe_name(charset.empty() ? "(bez nazvu)" : charset));
  message.append(" neumim bezpecne zmenit.\n");
  say_on_stderr(message);
}
