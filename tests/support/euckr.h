// Test support: the EUC-KR bytes of a UTF-8 text, so that tests written in
// UTF-8 can compare what the programs write byte for byte.
#pragma once

#include <iconv.h>

#include <stdexcept>
#include <string>

namespace testsupport {

inline std::string EucKr(const std::string& utf8) {
  iconv_t cd = iconv_open("EUC-KR", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no EUC-KR converter");
  std::string out(utf8.size() * 2 + 8, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* dst = out.data();
  size_t outLeft = out.size();
  size_t r = iconv(cd, &in, &inLeft, &dst, &outLeft);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) throw std::runtime_error("text not representable in EUC-KR");
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace testsupport
