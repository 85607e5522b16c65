// The base64.conf loader: any bytes either fill a table or end with the
// documented format error, never anything else.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base64_table.h"
#include "fuzz_support.h"
#include "messages.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  Base64table table;
  try {
    parse_base64conf(content, table);
  } catch (const FuzzFatal& fatal) {
    if (fatal.status != STATUS_BAD_FORMAT ||
        fatal.message.rfind("Chyba. Soubor [base64.conf] ma chybny format. \n",
                            0) != 0)
      fuzz_fail("an undocumented fatal condition");
    return 0;
  }
  // A second reading of the same bytes sets the same table.
  Base64table again;
  parse_base64conf(content, again);
  if (again.entries != table.entries) fuzz_fail("not deterministic");
  return 0;
}
