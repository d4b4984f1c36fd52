// The sign-in token of the AUTH cookie: checking it against the client's
// address (checkSignIn) and making one (issueSignInToken, for the token tool
// and the tests; the portal's sign-in page issues the real ones).
//
// Token text, fields separated by ":" (a run of ":" counts as one):
//   "e", user ID, cipher length (decimal, a multiple of 8), Base64 cipher.
// The cipher is DES in ECB mode under a key made from the first eight bytes
// of the client's dotted address (zero-padded). Deciphered, it is a text of
// fields separated by ":" up to its first zero byte:
//   client address, kind ("a" administrator, "u" ordinary user), a number,
//   user ID (equal to the clear one), display name, a further text.
// A token never expires.
#pragma once

#include <cstddef>
#include <string>

// The parsed token. The texts point into the process's copies of the cookie
// value and of the deciphered text (blocks of the tracked allocator, which
// live until trackedFreeAll at exit). Meaningful only when checkSignIn
// returned 1 or 2.
struct SignInToken {
  const char* userId;
  int cipherLength;
  const char* address;
  const char* kind;  // its first character is the kind
  int number;
  const char* name;  // empty when absent
  const char* rest;  // empty when absent
};

// 2 administrator, 1 ordinary user, -1 invalid, 0 when `tokenText` is null
// (no token at all). A missing client address makes every token invalid.
int checkSignIn(SignInToken* token, const char* tokenText, const char* clientAddress);

// Decodes `textLength` characters of Base64 in whole groups of four (a
// trailing partial group is ignored; "=" and characters outside the
// alphabet count as 0). Writes three bytes per group and a zero byte after
// them (nothing for an empty text); `out` must hold 3 * (textLength / 4) + 1
// bytes. Returns the number of bytes decoded.
size_t base64Decode(const char* text, unsigned char* out, size_t textLength);

// The cipher key for a client address: the first eight bytes of its text,
// padded with zero bytes (for a seven-character address the eighth byte is
// the text's terminating zero).
void signInKey(const char* address, unsigned char key[8]);

// DES (FIPS 46-3) in ECB mode over the whole 8-byte blocks of `data`, in
// place: each block independently, its bytes in order as the 64-bit input.
// The key's low bits are parity bits and are ignored; no parity or weak-key
// check is made. Bytes after the last whole block are left alone.
void desEcbBlocks(unsigned char* data, size_t length, const unsigned char key[8], bool decrypt);

// Standard Base64 with "=" padding.
std::string base64Encode(const unsigned char* data, size_t length);

// The plaintext fields of a token to issue.
struct SignInFields {
  std::string address;  // the client's dotted address; also makes the key
  std::string kind;     // "a" or "u" (only the first character counts)
  int number = 0;
  std::string userId;
  std::string name;     // may be empty only when `rest` is empty too
  std::string rest;
};

// Makes the token text for `fields` (before any cookie escaping). Returns
// false when a field can't be carried: address, kind or user ID empty, a
// field holding ":" or a zero byte, or a rest without a name (empty fields
// vanish when the token is split, so the rest would read as the name).
bool issueSignInToken(const SignInFields& fields, std::string* token);
