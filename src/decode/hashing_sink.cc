#include "hashing_sink.h"

#include <glib.h>

#include <limits>

namespace {

GChecksum* checksum_of(void* state) { return static_cast<GChecksum*>(state); }

}  // namespace

HashingSink::HashingSink(DecodeSink& next)
    : next_(next), checksum_(g_checksum_new(G_CHECKSUM_SHA256)) {}

HashingSink::~HashingSink() { g_checksum_free(checksum_of(checksum_)); }

void HashingSink::put(const char* bytes, std::size_t count) {
  // GLib takes a signed length; runs are far shorter, but stay exact.
  constexpr auto most =
      static_cast<std::size_t>(std::numeric_limits<gssize>::max());
  for (std::size_t at = 0; at < count;) {
    const std::size_t length = count - at < most ? count - at : most;
    g_checksum_update(checksum_of(checksum_),
                      reinterpret_cast<const guchar*>(bytes + at),
                      static_cast<gssize>(length));
    at += length;
  }
  count_ += count;
  next_.put(bytes, count);
}

std::string HashingSink::hex() {
  guint8 digest[32];
  gsize length = sizeof digest;
  g_checksum_get_digest(checksum_of(checksum_), digest, &length);
  static constexpr char DIGITS[] = "0123456789abcdef";
  std::string hex(2 * length, '0');
  for (gsize i = 0; i < length; ++i) {
    hex[2 * i] = DIGITS[digest[i] >> 4];
    hex[2 * i + 1] = DIGITS[digest[i] & 0xF];
  }
  return hex;
}
