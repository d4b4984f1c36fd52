// The sign-in token: DES against the published test vector, Base64 as the
// token reader counts it, tokens made by the issuer accepted, and every
// invalid form refused.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "admin/signin_token.h"
#include "sfl/sflmem.h"

namespace {

std::vector<unsigned char> Hex(const char* hex) {
  std::vector<unsigned char> out;
  for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) out.push_back(static_cast<unsigned char>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
  return out;
}

TEST(Des, PublishedTestVector) {
  std::vector<unsigned char> key = Hex("133457799BBCDFF1");
  std::vector<unsigned char> block = Hex("85E813540F0AB405");
  desEcbBlocks(block.data(), block.size(), key.data(), true);
  EXPECT_EQ(block, Hex("0123456789ABCDEF"));
  desEcbBlocks(block.data(), block.size(), key.data(), false);
  EXPECT_EQ(block, Hex("85E813540F0AB405"));
}

TEST(Des, ParityBitsAreIgnoredAndBlocksAreIndependent) {
  std::vector<unsigned char> key = Hex("133457799BBCDFF1");
  std::vector<unsigned char> flipped = key;
  for (unsigned char& b : flipped) b ^= 1;  // the low bit of each byte is parity
  std::vector<unsigned char> data = Hex("85E813540F0AB40585E813540F0AB405AABB");
  desEcbBlocks(data.data(), data.size(), flipped.data(), true);
  EXPECT_EQ(data, Hex("0123456789ABCDEF0123456789ABCDEFAABB"));  // a trailing partial block stays
}

TEST(SignInKey, FirstEightBytesOfTheAddressZeroPadded) {
  struct Case {
    const char* address;
    std::string key;
  };
  const Case cases[] = {
      {"192.168.100.200", "192.168."},
      {"1.2.3.4", std::string("1.2.3.4\0", 8)},
      {"10.0.0.1", "10.0.0.1"},
      {"", std::string(8, '\0')},
  };
  for (const Case& c : cases) {
    unsigned char key[8];
    signInKey(c.address, key);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 8), c.key) << c.address;
  }
}

TEST(Base64, DecodesWholeGroupsOnly) {
  struct Case {
    std::string text;
    std::string bytes;  // the decoded bytes, without the terminating zero
  };
  const Case cases[] = {
      {"", ""},
      {"TWFu", "Man"},
      {"TWFuTWE=", std::string("ManMa\0", 6)},   // padding is not recognised: "=" counts as 0
      {"TWFuTW", "Man"},                         // a partial group is ignored
      {"TQ==", std::string("M\0\0", 3)},
      {"+/+/", "\xFB\xFF\xBF"},
      {"T!F*", "\x4C\x01\x40"},  // characters outside the alphabet count as 0
  };
  for (const Case& c : cases) {
    unsigned char out[32];
    std::memset(out, 0xEE, sizeof out);
    size_t n = base64Decode(c.text.data(), out, c.text.size());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), n), c.bytes) << c.text;
    if (n > 0) EXPECT_EQ(out[n], 0) << c.text;
    else EXPECT_EQ(out[0], 0xEE) << "an empty text writes nothing";
  }
}

TEST(Base64, EncodeRoundTrips) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  for (size_t len : {0u, 1u, 2u, 3u, 4u, 255u, 256u}) {
    std::string text = base64Encode(reinterpret_cast<const unsigned char*>(all.data()), len);
    EXPECT_EQ(text.size() % 4, 0u);
    std::vector<unsigned char> out(text.size() / 4 * 3 + 1);
    size_t n = base64Decode(text.data(), out.data(), text.size());
    ASSERT_GE(n, len);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), len), all.substr(0, len));
  }
  EXPECT_EQ(base64Encode(reinterpret_cast<const unsigned char*>("Man"), 3), "TWFu");
  EXPECT_EQ(base64Encode(reinterpret_cast<const unsigned char*>("Ma"), 2), "TWE=");
}

class SignIn : public ::testing::Test {
 protected:
  void TearDown() override { trackedFreeAll(); }

  static std::string Issue(const SignInFields& f) {
    std::string token;
    EXPECT_TRUE(issueSignInToken(f, &token));
    return token;
  }
  static SignInFields Admin() {
    SignInFields f;
    f.address = "127.0.0.1";
    f.kind = "a";
    f.number = 17;
    f.userId = "admin";
    f.name = "\xB0\xFC\xB8\xAE\xC0\xDA";  // Korean display name, EUC-KR
    f.rest = "extra";
    return f;
  }
  // A token whose plaintext is `plain` (zero-padded to whole blocks) under
  // the key of `address`, with the clear user ID and declared length given.
  static std::string Forge(const std::string& address, const std::string& userId, const std::string& plain,
                           const std::string& declared = "") {
    std::string p = plain;
    p.resize((p.size() + 7) / 8 * 8, '\0');
    unsigned char key[8];
    signInKey(address.c_str(), key);
    desEcbBlocks(reinterpret_cast<unsigned char*>(p.data()), p.size(), key, false);
    return "e:" + userId + ":" + (declared.empty() ? std::to_string(p.size()) : declared) + ":" +
           base64Encode(reinterpret_cast<const unsigned char*>(p.data()), p.size());
  }
};

TEST_F(SignIn, IssuedTokensAreAccepted) {
  SignInToken t;
  std::string token = Issue(Admin());
  EXPECT_EQ(token.rfind("e:admin:", 0), 0u);
  ASSERT_EQ(checkSignIn(&t, token.c_str(), "127.0.0.1"), 2);
  EXPECT_STREQ(t.userId, "admin");
  EXPECT_STREQ(t.address, "127.0.0.1");
  EXPECT_STREQ(t.kind, "a");
  EXPECT_EQ(t.number, 17);
  EXPECT_STREQ(t.name, "\xB0\xFC\xB8\xAE\xC0\xDA");
  EXPECT_STREQ(t.rest, "extra");
  EXPECT_EQ(t.cipherLength % 8, 0);

  SignInFields user = Admin();
  user.kind = "u";
  user.userId = "kim";
  user.address = "192.168.100.200";
  user.name = "Kim";
  user.rest = "";
  ASSERT_EQ(checkSignIn(&t, Issue(user).c_str(), "192.168.100.200"), 1);
  EXPECT_STREQ(t.name, "Kim");
  EXPECT_STREQ(t.rest, "");

  SignInFields bare = Admin();
  bare.name = "";
  bare.rest = "";
  ASSERT_EQ(checkSignIn(&t, Issue(bare).c_str(), "127.0.0.1"), 2);
  EXPECT_STREQ(t.name, "");
}

TEST_F(SignIn, KindCountsByItsFirstCharacter) {
  struct Case {
    const char* kind;
    int result;
  };
  for (Case c : {Case{"a", 2}, Case{"admin", 2}, Case{"u", 1}, Case{"user", 1}, Case{"x", -1}, Case{"A", -1}}) {
    SignInFields f = Admin();
    f.kind = c.kind;
    SignInToken t;
    EXPECT_EQ(checkSignIn(&t, Issue(f).c_str(), "127.0.0.1"), c.result) << c.kind;
  }
}

TEST_F(SignIn, RunsOfColonsCountAsOneSeparator) {
  std::string token = Issue(Admin());
  std::string doubled = "e::" + token.substr(2);
  SignInToken t;
  EXPECT_EQ(checkSignIn(&t, doubled.c_str(), "127.0.0.1"), 2);
  EXPECT_EQ(checkSignIn(&t, Forge("127.0.0.1", "admin", "127.0.0.1::a:::5:admin:Name").c_str(), "127.0.0.1"), 2);
  EXPECT_STREQ(t.name, "Name");
}

TEST_F(SignIn, InvalidTokensAreRefused) {
  const std::string good = Issue(Admin());
  const std::string cipher = good.substr(good.rfind(':') + 1);
  struct Case {
    const char* what;
    std::string token;
    const char* address;
    int result;
  };
  const Case cases[] = {
      {"issued for another address", good, "127.0.0.2", -1},
      {"clear user ID changed", "e:root" + good.substr(std::strlen("e:admin")), "127.0.0.1", -1},
      {"no address", good, nullptr, -1},
      {"not the e form", "x" + good.substr(1), "127.0.0.1", -1},
      {"empty", "", "127.0.0.1", -1},
      {"only e:", "e:", "127.0.0.1", -1},
      {"three fields", "e:admin:24", "127.0.0.1", -1},
      {"Base64 decoding short of the cipher length", "e:admin:24:" + cipher.substr(0, 30), "127.0.0.1", -1},
      {"cipher length far beyond the data", "e:admin:800000:" + cipher, "127.0.0.1", -1},
      {"cipher length with too many digits", "e:admin:99999999999999999999:" + cipher, "127.0.0.1", -1},
      {"cipher length not a number", "e:admin:2x4:" + cipher, "127.0.0.1", -1},
      {"cipher length negative", "e:admin:-8:" + cipher, "127.0.0.1", -1},
      {"cipher length zero", "e:admin:0:" + cipher, "127.0.0.1", -1},
      {"raw + arriving as a space", "e:admin:24:" + std::string(cipher).replace(3, 1, " "), "127.0.0.1", -1},
      {"plaintext with three fields", Forge("127.0.0.1", "admin", "127.0.0.1:a:5"), "127.0.0.1", -1},
      {"plaintext address differs", Forge("127.0.0.1", "admin", "127.0.0.9:a:5:admin"), "127.0.0.1", -1},
      {"plaintext user differs", Forge("127.0.0.1", "admin", "127.0.0.1:a:5:root"), "127.0.0.1", -1},
      {"enciphered under another key", Forge("10.0.0.1", "admin", "127.0.0.1:a:5:admin"), "127.0.0.1", -1},
  };
  for (const Case& c : cases) {
    SignInToken t;
    EXPECT_EQ(checkSignIn(&t, c.token.c_str(), c.address), c.result) << c.what;
  }
  SignInToken t;
  EXPECT_EQ(checkSignIn(&t, nullptr, "127.0.0.1"), 0);  // no token at all
}

TEST_F(SignIn, PlaintextInTheClearIsNeverTakenAsDeciphered) {
  // With a cipher length that isn't a whole number of blocks nothing would
  // be deciphered; the Base64 bytes themselves must not pass as plaintext.
  std::string plain = "1.2.3.4:a:0:x";  // 13 bytes
  std::string token = "e:x:13:" + base64Encode(reinterpret_cast<const unsigned char*>(plain.data()), plain.size());
  SignInToken t;
  EXPECT_EQ(checkSignIn(&t, token.c_str(), "1.2.3.4"), -1);
}

TEST_F(SignIn, ShortDataAllocatesNothing) {
  TrackedStats before = trackedStats();
  SignInToken t;
  EXPECT_EQ(checkSignIn(&t, "e:admin:4000000:QUJD", "127.0.0.1"), -1);
  TrackedStats after = trackedStats();
  // Only the copy of the token text itself was taken.
  EXPECT_EQ(after.allocations - before.allocations, 1u);
  EXPECT_LT(after.bytesInUse - before.bytesInUse, 64u);
}

TEST_F(SignIn, IssuerRefusesFieldsItCannotCarry) {
  struct Case {
    const char* what;
    void (*change)(SignInFields&);
  };
  const Case cases[] = {
      {"colon in the name", [](SignInFields& f) { f.name = "a:b"; }},
      {"colon in the user", [](SignInFields& f) { f.userId = "a:b"; }},
      {"empty address", [](SignInFields& f) { f.address = ""; }},
      {"empty kind", [](SignInFields& f) { f.kind = ""; }},
      {"empty user", [](SignInFields& f) { f.userId = ""; }},
      {"rest without name", [](SignInFields& f) { f.name = ""; }},
      {"zero byte", [](SignInFields& f) { f.rest = std::string("a\0b", 3); }},
  };
  for (const Case& c : cases) {
    SignInFields f = Admin();
    c.change(f);
    std::string token;
    EXPECT_FALSE(issueSignInToken(f, &token)) << c.what;
  }
}

}  // namespace
