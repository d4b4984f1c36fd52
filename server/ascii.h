// Comparing protocol words (methods, header names, extensions) without
// regard to ASCII case.
#pragma once

#include <cctype>
#include <string_view>

inline bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}
