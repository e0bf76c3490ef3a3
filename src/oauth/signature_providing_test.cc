#include "oauth/signature_providing.h"

#include <gtest/gtest.h>

#include <string>

namespace marigold {
namespace {

// RFC 2202 section 3 test cases, digests written in Base64 (converted from the RFC's hex with
// `xxd -r -p | base64`).
TEST(OAHMAC_SHA1SignatureProviderTest, RFC2202) {
  struct Case {
    std::string key, data;
    const char* signature;
  };
  const Case kCases[] = {
      {std::string(20, '\x0b'), "Hi There", "thcxhlUFcmTii8C2+zeMjvFGvgA="},
      {"Jefe", "what do ya want for nothing?", "7/zfauXrL6LSdBbV8YTfnCWafHk="},
      {std::string(20, '\xaa'), std::string(50, '\xdd'), "El1zQrmsEc2Ro5r0iqF7T2PxddM="},
      {std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x13"
                   "\x14\x15\x16\x17\x18\x19",
                   25),
       std::string(50, '\xcd'), "TJAH9AJiUMa8hBT5v1DIbC1yNdo="},
      {std::string(20, '\x0c'), "Test With Truncation", "TBoDQktV4H/n8nvh1Yu5MkqaWgQ="},
      {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
       "qkrl4VJy0A6VcFY3zoo7Ve1AIRI="},
      {std::string(80, '\xaa'),
       "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
       "6OmdD0UjfXhta7qnllx4CLv/GpE="},
  };
  const OAHMAC_SHA1SignatureProvider provider;
  EXPECT_EQ(provider.name(), "HMAC-SHA1");
  for (const Case& c : kCases) {
    EXPECT_EQ(provider.signClearText(c.data, c.key), c.signature) << c.data;
  }
}

TEST(OAPlaintextSignatureProviderTest, SignatureIsTheSecret) {
  const OAPlaintextSignatureProvider provider;
  EXPECT_EQ(provider.name(), "PLAINTEXT");
  EXPECT_EQ(provider.signClearText("anything", "c%26s&t"), "c%26s&t");
  EXPECT_EQ(provider.signClearText("", ""), "");
}

}  // namespace
}  // namespace marigold
