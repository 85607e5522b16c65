#include "messages.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

namespace {

// The one place that writes to standard output.
void write_out(std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
}

void write_number(std::int64_t value) { write_out(std::to_string(value)); }

void print_and_exit(int status, std::string_view message) {
  write_out(message);
  std::fflush(stdout);
  std::exit(status);
}

FatalHandler current_handler = print_and_exit;
NoMemoryMessage no_memory_message = NoMemoryMessage::general;

void say_on_stderr(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
}

// Names and labels from an archive, with control bytes shown as "?" so that
// they cannot drive the terminal.
void append_printable(std::string& message, std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    message += byte < 0x20 || byte == 0x7F ? '?' : c;
  }
}

}  // namespace

void say_progress(int archives_left, std::string_view path) {
  write_out("argc: ");
  write_number(archives_left);
  write_out(", argv[1]: ");
  write_out(path);
  write_out("\n");
}

void say_table_entry(char character, std::int32_t value) {
  write_out("Base64table [");
  write_out({&character, 1});
  write_out("]  = ");
  write_number(value);
  write_out("\n");
}

void say_table_loaded() { write_out("Base64 nahran...\n"); }

void say_writing(std::string_view path, std::int32_t is_base64) {
  write_out("Zapis souboru ");
  write_out(path);
  write_out(", enc: ");
  write_number(is_base64);
  write_out("\n");
}

void say_main_page(std::string_view path) {
  write_out("Hlavni stranka: ");
  write_out(path);
  write_out("\n");
}

void flush_output() { std::fflush(stdout); }

FatalHandler set_fatal_handler(FatalHandler handler) {
  FatalHandler previous = current_handler;
  current_handler = handler ? handler : print_and_exit;
  return previous;
}

void fatal(int status, std::string_view message) {
  current_handler(status, message);
  std::abort();  // a handler that returns has broken its contract
}

void fail_no_argument() { fatal(STATUS_NO_ARGUMENT, "Chybi parametr.\n"); }

void fail_cannot_open(std::string_view path) {
  std::string message = "Chyba. Nemohu otevrit soubor";
  message.append(path).append(".\n");
  fatal(STATUS_CANNOT_OPEN, message);
}

// Header faults end the run without a word.
void fail_header() { fatal(STATUS_BAD_FORMAT, {}); }

void fail_part_format() {
  fatal(STATUS_BAD_FORMAT, "Chyba. Soubor zrejme nema spravny format.\n");
}

void fail_table_missing() {
  fatal(STATUS_BAD_FORMAT,
        "Chyba. Tabulka rozlozeni [base64.conf] nenalezena.\n");
}

void fail_table_format(std::string_view line, std::size_t position,
                       std::size_t length) {
  std::string message = "Chyba. Soubor [base64.conf] ma chybny format. \n";
  message.append("Radek: ").append(line);
  message.append("; i = ").append(std::to_string(position));
  message.append(" strlen: ").append(std::to_string(length)).append("\n");
  fatal(STATUS_BAD_FORMAT, message);
}

// The "Zapis souboru " line has already said which file it was.
void fail_cannot_create() { fatal(STATUS_CANNOT_WRITE, {}); }

void fail_unsafe_path(std::string_view path) {
  std::string message = "Chyba. Cesta ";
  message.append(path.substr(0, path.find('\0')));
  message.append(" vede mimo aktualni adresar.\n");
  fatal(STATUS_CANNOT_WRITE, message);
}

void fail_write(std::string_view path) {
  std::string message = "Chyba. Zapis do souboru ";
  message.append(path).append(" selhal.\n");
  fatal(STATUS_CANNOT_WRITE, message);
}

// No memory is left to build a message with: each one is a literal.
void fail_no_memory() {
  switch (no_memory_message) {
    case NoMemoryMessage::table:
      fatal(STATUS_CANNOT_OPEN, "Chyba. Malo pameti. \n");
    case NoMemoryMessage::directory:
      fatal(STATUS_NO_MEMORY, "Nedostatek pameti. \n");
    case NoMemoryMessage::general:
      break;
  }
  fatal(STATUS_NO_MEMORY, "Chyba. Nedostatek pameti. \n");
}

void catch_allocation_failures() { std::set_new_handler(fail_no_memory); }

NoMemoryScope::NoMemoryScope(NoMemoryMessage message)
    : previous_(no_memory_message) {
  no_memory_message = message;
}

NoMemoryScope::~NoMemoryScope() { no_memory_message = previous_; }

void fail_not_mime(std::string_view path) {
  std::string message = "Chyba. Soubor ";
  message.append(path).append(" neni MIME archiv.\n");
  fatal(STATUS_BAD_FORMAT, message);
}

void hint_any_layout(std::string_view path) {
  std::string message = "Tip: soubor ";
  message.append(path).append(
      " ma jine rozlozeni casti; zkuste mimeunpack --any-layout.\n");
  std::fwrite(message.data(), 1, message.size(), stderr);
}

void note_charset_not_rewritten(std::string_view path,
                                std::string_view charset) {
  std::string message = "Poznamka: odkazy v souboru ";
  append_printable(message, path);
  message.append(" nejsou prepsany, kodovani ");
  append_printable(message, charset.empty() ? "(bez nazvu)" : charset);
  message.append(" neumim bezpecne zmenit.\n");
  say_on_stderr(message);
}
