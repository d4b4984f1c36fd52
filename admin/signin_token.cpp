// The sign-in token: Base64, DES-ECB under the address key, and the field
// checks. DES comes from the system's cryptographic library: a key schedule
// without parity or weak-key checks and single-block ECB.
#define OPENSSL_SUPPRESS_DEPRECATED 1
#include "admin/signin_token.h"

#include <openssl/crypto.h>
#include <openssl/des.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "sfl/sflmem.h"

namespace {

constexpr size_t kBlock = 8;
// Declared cipher lengths are decimal numbers of at most this many digits.
constexpr size_t kMaxLengthDigits = 9;
constexpr int kMaxFields = 6;

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct DecodeTable {
  unsigned char value[256];
  DecodeTable() {
    std::memset(value, 0, sizeof value);
    for (int i = 0; i < 64; ++i) value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
  }
};

const DecodeTable& decodeTable() {
  static const DecodeTable table;  // built once per process
  return table;
}

void desEcb(unsigned char* data, size_t length, const char* address, int direction) {
  unsigned char key[kBlock];
  signInKey(address, key);
  desEcbBlocks(data, length, key, direction == DES_DECRYPT);
}

// Splits `text` in place at runs of ":"; returns the number of fields (at
// most kMaxFields; the rest of the text is ignored).
int splitFields(char* text, char* fields[kMaxFields]) {
  int n = 0;
  char* save = nullptr;
  for (char* f = strtok_r(text, ":", &save); f != nullptr && n < kMaxFields; f = strtok_r(nullptr, ":", &save))
    fields[n++] = f;
  return n;
}

// A declared cipher length: decimal digits only, positive, a whole number
// of DES blocks. Anything else can't be a token the sign-in page issued.
bool parseCipherLength(const char* text, int* length) {
  size_t digits = std::strlen(text);
  if (digits == 0 || digits > kMaxLengthDigits) return false;
  int v = 0;
  for (size_t i = 0; i < digits; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  if (v == 0 || v % static_cast<int>(kBlock) != 0) return false;
  *length = v;
  return true;
}

int parseNumber(const char* text) {
  errno = 0;
  long v = std::strtol(text, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

char* trackedCopy(const char* text) {
  size_t n = std::strlen(text);
  char* p = static_cast<char*>(sflAlloc(n + 1));
  if (p != nullptr) std::memcpy(p, text, n + 1);
  return p;
}

// Deciphers the Base64 text into a new block: the cipher-length bytes of
// plaintext and a zero byte. Null when the text holds fewer bytes than the
// declared length (checked before anything is allocated) or memory runs
// out.
char* decipher(const char* base64, int cipherLength, const char* address) {
  size_t textLength = std::strlen(base64);
  size_t decodedLength = (textLength / 4) * 3;
  if (static_cast<size_t>(cipherLength) > decodedLength) return nullptr;
  unsigned char* buf = static_cast<unsigned char*>(sflAlloc(decodedLength + 1));
  if (buf == nullptr) return nullptr;
  base64Decode(base64, buf, textLength);
  buf[cipherLength] = 0;
  desEcb(buf, static_cast<size_t>(cipherLength), address, DES_DECRYPT);
  return reinterpret_cast<char*>(buf);
}

int kindResult(const char* kind) {
  if (kind[0] == 'a') return 2;
  if (kind[0] == 'u') return 1;
  return -1;
}

bool carriable(const std::string& field) {
  return field.find(':') == std::string::npos && field.find('\0') == std::string::npos;
}

}  // namespace

void signInKey(const char* address, unsigned char key[8]) {
  std::memset(key, 0, kBlock);
  size_t n = std::strlen(address);
  std::memcpy(key, address, n < kBlock ? n : kBlock);
}

void desEcbBlocks(unsigned char* data, size_t length, const unsigned char key[8], bool decrypt) {
  DES_cblock k;
  DES_key_schedule schedule;
  std::memcpy(k, key, kBlock);
  DES_set_key_unchecked(&k, &schedule);
  for (size_t off = 0; off + kBlock <= length; off += kBlock) {
    DES_cblock in, out;
    std::memcpy(in, data + off, kBlock);
    DES_ecb_encrypt(&in, &out, &schedule, decrypt ? DES_DECRYPT : DES_ENCRYPT);
    std::memcpy(data + off, out, kBlock);
  }
  OPENSSL_cleanse(&schedule, sizeof schedule);
}

size_t base64Decode(const char* text, unsigned char* out, size_t textLength) {
  const DecodeTable& t = decodeTable();
  size_t groups = textLength / 4;
  if (groups == 0) return 0;
  const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
  for (size_t g = 0; g < groups; ++g) {
    unsigned a = t.value[in[4 * g]], b = t.value[in[4 * g + 1]];
    unsigned c = t.value[in[4 * g + 2]], d = t.value[in[4 * g + 3]];
    out[3 * g] = static_cast<unsigned char>((a << 2) + (b >> 4));
    out[3 * g + 1] = static_cast<unsigned char>(((b & 15) << 4) + (c >> 2));
    out[3 * g + 2] = static_cast<unsigned char>(((c & 3) << 6) + d);
  }
  out[3 * groups] = 0;
  return 3 * groups;
}

std::string base64Encode(const unsigned char* data, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; i += 3) {
    unsigned v = static_cast<unsigned>(data[i]) << 16;
    if (i + 1 < length) v |= static_cast<unsigned>(data[i + 1]) << 8;
    if (i + 2 < length) v |= data[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < length ? kAlphabet[(v >> 6) & 63] : '=';
    out += i + 2 < length ? kAlphabet[v & 63] : '=';
  }
  return out;
}

int checkSignIn(SignInToken* token, const char* tokenText, const char* clientAddress) {
  *token = SignInToken{"", 0, "", "", 0, "", ""};
  if (tokenText == nullptr) return 0;
  if (std::strncmp(tokenText, "e:", 2) != 0) return -1;
  if (clientAddress == nullptr) return -1;

  char* copy = trackedCopy(tokenText);
  if (copy == nullptr) return -1;
  char* outer[kMaxFields];
  if (splitFields(copy, outer) < 4) return -1;
  token->userId = outer[1];
  int cipherLength = 0;
  if (!parseCipherLength(outer[2], &cipherLength)) return -1;
  token->cipherLength = cipherLength;

  char* plain = decipher(outer[3], cipherLength, clientAddress);
  if (plain == nullptr) return -1;
  char* inner[kMaxFields];
  int n = splitFields(plain, inner);
  if (n < 4) return -1;
  if (std::strcmp(inner[0], clientAddress) != 0) return -1;
  token->address = inner[0];
  token->kind = inner[1];
  token->number = parseNumber(inner[2]);
  if (std::strcmp(inner[3], token->userId) != 0) return -1;
  token->name = n > 4 ? inner[4] : "";
  token->rest = n > 5 ? inner[5] : "";
  return kindResult(token->kind);
}

bool issueSignInToken(const SignInFields& f, std::string* token) {
  if (f.address.empty() || f.kind.empty() || f.userId.empty()) return false;
  if (f.name.empty() && !f.rest.empty()) return false;
  for (const std::string* s : {&f.address, &f.kind, &f.userId, &f.name, &f.rest}) {
    if (!carriable(*s)) return false;
  }
  std::string plain = f.address + ":" + f.kind + ":" + std::to_string(f.number) + ":" + f.userId;
  if (!f.name.empty()) plain += ":" + f.name;
  if (!f.rest.empty()) plain += ":" + f.rest;
  // Zero bytes fill the last block; the reader stops at the first of them.
  plain.resize((plain.size() + kBlock - 1) / kBlock * kBlock, '\0');
  std::string cipher = plain;
  desEcb(reinterpret_cast<unsigned char*>(cipher.data()), cipher.size(), f.address.c_str(), DES_ENCRYPT);
  *token = "e:" + f.userId + ":" + std::to_string(cipher.size()) + ":" +
           base64Encode(reinterpret_cast<const unsigned char*>(cipher.data()), cipher.size());
  return true;
}
