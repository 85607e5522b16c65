#include "hashing_sink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>

namespace {

class KeepingSink final : public DecodeSink {
 public:
  void put(const char* bytes, std::size_t count) override {
    kept.append(bytes, count);
  }
  std::string kept;
};

struct HashCase {
  std::string_view bytes;
  const char* sha256;
};

// Known digests (FIPS 180-2's "abc" and two-block message, and nothing).
TEST(HashingSink, HashesEveryRunAndHandsItOnUnchanged) {
  const HashCase cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string_view("a\0b", 3),
       "59b271ae1bbcb1d31d41929817f4b16fb439eb4f31520b5ad1d5ce98920a7138"},
  };
  for (const HashCase& c : cases) {
    for (std::size_t run : {std::size_t{1}, std::size_t{7}, c.bytes.size()}) {
      if (run == 0) run = 1;
      KeepingSink next;
      HashingSink sink(next);
      for (std::size_t at = 0; at < c.bytes.size(); at += run)
        sink.put(c.bytes.data() + at, std::min(run, c.bytes.size() - at));
      EXPECT_EQ(next.kept, c.bytes);
      EXPECT_EQ(sink.count(), c.bytes.size());
      EXPECT_EQ(sink.hex(), c.sha256)
          << c.bytes.size() << " in runs of " << run;
    }
  }
}

}  // namespace
