#include "hashing_sink.h"

#include <glib.h>

#include <limits>

HashingSink::HashingSink(DecodeSink& next)
    : next_(next), checksum_(g_checksum_new(G_CHECKSUM_SHA256)) {}

HashingSink::~HashingSink() { g_checksum_free(checksum_); }

void HashingSink::put(const char* bytes, std::size_t count) {
  // GLib takes a signed length; runs are far shorter, but stay exact.
  constexpr auto most =
      static_cast<std::size_t>(std::numeric_limits<gssize>::max());
  for (std::size_t at = 0; at < count;) {
    const std::size_t length = count - at < most ? count - at : most;
    g_checksum_update(checksum_, reinterpret_cast<const guchar*>(bytes + at),
                      static_cast<gssize>(length));
    at += length;
  }
  count_ += count;
  next_.put(bytes, count);
}

std::string HashingSink::hex() { return g_checksum_get_string(checksum_); }
