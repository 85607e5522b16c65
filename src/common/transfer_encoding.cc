#include "transfer_encoding.h"

Encoding encoding_named(std::string_view transfer_encoding) {
  if (transfer_encoding == "base64") return Encoding::base64;
  if (transfer_encoding == "quoted-printable")
    return Encoding::quoted_printable;
  return Encoding::as_is;
}
