// Helper program for the engine's multi-process and compatibility tests.
//
//   table4_tool write PATH LEVEL      stdin: a line of field specs NAME:T:LEN:DEC
//                                     (":N" after DEC: nullable), then one row per
//                                     line, values tab-separated and escaped
//                                     (\\ \t \n \r \xHH); creates PATH.
//   table4_tool dump PATH             prints the specs line and one line per record
//                                     in the same form (\N for a null value).
//   table4_tool dumplive PATH         the same without the deleted records.
//   table4_tool append PATH COUNT W [MEMOFLAG]
//                                     appends COUNT rows of the LOG schema as
//                                     worker W, shared, with the default locks
//                                     (d4appendStart's memo flag, default 1).
//   table4_tool hold PATH REC SECS    locks record REC, prints "locked", sleeps.
//   table4_tool trylock PATH REC TRIES  prints "rc=<result> ms=<elapsed>".
//
// Exit status 0 on success, 1 on a failure (the engine's report is on stderr).
#include <chrono>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace {

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char c = s[++i];
    if (c == 't') out += '\t';
    else if (c == 'n') out += '\n';
    else if (c == 'r') out += '\r';
    else if (c == 'x' && i + 2 < s.size() + 1) {
      out += static_cast<char>(std::strtol(s.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else out += c;
  }
  return out;
}

std::string Escape(const char* p, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    if (c == '\\') out += "\\\\";
    else if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else out += static_cast<char>(c);
  }
  return out;
}

std::vector<std::string> Split(const std::string& line, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t at = line.find(sep, start);
    parts.push_back(line.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

CODE4 c4;

bool Start(int level) {
  if (code4init(&c4, 0, S4VERSION, sizeof(CODE4), 1) != 0) return false;
  c4.failOpen = 0;
  c4.failCreate = 0;
  c4.keepExisting = 0;
  c4.formatLevel = static_cast<int16_t>(level);
  return true;
}

int Finish(int rc) {
  code4closeAll(&c4);
  code4initUndo(&c4);
  return rc;
}

int Assign(COLUMN4* f, char type, const std::string& v) {
  if (type == 'M') return f4memoAssignN(f, v.data(), static_cast<unsigned>(v.size()));
  if (v.empty()) return f4blank(f);
  switch (type) {
    case 'I': return f4assignInt(f, std::atoi(v.c_str()));
    case 'L': return f4assignChar(f, v[0]);
    case 'T': return f4dateTimeAssign(f, v.c_str());
    default: return f4assignN(f, v.data(), static_cast<unsigned>(v.size()));
  }
}

int Write(const char* path, int level) {
  if (!Start(level)) return 1;
  std::string line;
  std::getline(std::cin, line);
  std::vector<std::string> names, specTexts = Split(line, ' ');
  std::vector<FIELDSPEC4> specs;
  std::vector<char> types;
  for (const std::string& s : specTexts) {
    std::vector<std::string> p = Split(s, ':');
    if (p.size() < 4) return Finish(1);
    names.push_back(p[0]);
    types.push_back(p[1][0]);
  }
  for (size_t i = 0; i < specTexts.size(); ++i) {
    std::vector<std::string> p = Split(specTexts[i], ':');
    uint16_t nulls = p.size() > 4 && p[4] == "N" ? STAT4NULLABLE : 0;
    specs.push_back({names[i].c_str(), static_cast<int16_t>(types[i]),
                     static_cast<uint16_t>(std::atoi(p[2].c_str())),
                     static_cast<uint16_t>(std::atoi(p[3].c_str())), nulls});
  }
  specs.push_back({nullptr, 0, 0, 0, 0});
  TABLE4* t = d4create(&c4, path, specs.data(), nullptr);
  if (t == nullptr) return Finish(1);
  while (std::getline(std::cin, line)) {
    std::vector<std::string> values = Split(line, '\t');
    if (d4appendStart(t, 0) != 0) return Finish(1);
    for (size_t i = 0; i < names.size() && i < values.size(); ++i) {
      char type = types[i] == 'Z' ? 'C' : types[i];
      if (Assign(d4field(t, names[i].c_str()), type, Unescape(values[i])) < 0) return Finish(1);
    }
    if (d4append(t) != 0) return Finish(1);
  }
  return Finish(c4.lastError < 0 ? 1 : 0);
}

std::string Value(COLUMN4* f) {
  if (f4null(f)) return "\\N";
  int type = f->type;
  switch (type) {
    case 'M':
    case 'G': {
      const char* p = f4memoPtr(f);
      return p != nullptr ? Escape(p, f4memoLen(f)) : "\\ERROR";
    }
    case 'I':
      return std::to_string(f4int(f));
    case 'Y': {
      const char* c = f4currency(f, 4);
      return c != nullptr ? c : "\\ERROR";
    }
    case 'B': {
      char text[64];
      std::snprintf(text, sizeof text, "%.17g", f4double(f));
      return text;
    }
    case 'T': {
      if (std::memcmp(f4ptr(f), "\0\0\0\0\0\0\0\0", 8) == 0) return "";
      std::string s = f4dateTime(f);
      while (!s.empty() && s.back() == ' ') s.pop_back();
      return s;
    }
    case 'L':
      return f4ptr(f)[0] == ' ' ? "" : std::string(1, f4ptr(f)[0]);
    default: {
      std::string s(f4ptr(f), f4len(f));
      while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
      if (type == 'N' || type == 'F')
        while (!s.empty() && s.front() == ' ') s.erase(0, 1);
      return Escape(s.data(), s.size());
    }
  }
}

int Dump(const char* path, bool liveOnly) {
  if (!Start(30)) return 1;
  c4.autoOpen = 0;
  TABLE4* t = d4open(&c4, path);
  if (t == nullptr) return Finish(1);
  int n = d4numFields(t);
  for (int j = 1; j <= n; ++j) {
    COLUMN4* f = d4fieldJ(t, j);
    std::printf("%s%s:%c:%u:%u", j > 1 ? " " : "", f->name, static_cast<char>(f4type(f)), f->len, f->dec);
  }
  std::printf("\n");
  for (int rc = d4top(t); rc == 0; rc = d4skip(t, 1)) {
    if (liveOnly && d4record(t)[0] == '*') continue;
    for (int j = 1; j <= n; ++j) std::printf("%s%s", j > 1 ? "\t" : "", Value(d4fieldJ(t, j)).c_str());
    std::printf("\n");
  }
  return Finish(c4.lastError < 0 ? 1 : 0);
}

// Rows of the LOG schema; the memo text grows with the row number so that
// memos of different block counts interleave.
int Append(const char* path, int count, int worker, int memoFlag) {
  if (!Start(30)) return 1;
  TABLE4* t = d4open(&c4, path);
  if (t == nullptr) return Finish(1);
  for (int i = 1; i <= count; ++i) {
    if (d4appendStart(t, memoFlag) != 0) return Finish(1);
    std::string id = "w" + std::to_string(worker) + "-" + std::to_string(i);
    f4assign(d4field(t, "USERID"), id.c_str());
    f4assign(d4field(t, "NAME"), "worker");
    f4assignInt(d4field(t, "PROD"), worker);
    f4assignInt(d4field(t, "LEVEL"), i);
    f4assign(d4field(t, "IP"), "127.0.0.1");
    f4dateTimeAssign(d4field(t, "TIME"), "2026121114:00:00");
    std::string memo;
    for (int k = 0; k < 1 + (i * 7 + worker) % 40; ++k) memo += id + " memo text; ";
    f4memoAssign(d4field(t, "COMMENT"), memo.c_str());
    if (d4append(t) != 0) return Finish(1);
    if (d4unlock(t) != 0) return Finish(1);
  }
  return Finish(0);
}

int Hold(const char* path, long rec, int seconds) {
  if (!Start(30)) return 1;
  TABLE4* t = d4open(&c4, path);
  if (t == nullptr || d4lock(t, rec) != 0) return Finish(1);
  std::printf("locked\n");
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  return Finish(0);
}

int TryLock(const char* path, long rec, int tries) {
  if (!Start(30)) return 1;
  c4.lockTries = tries;
  TABLE4* t = d4open(&c4, path);
  if (t == nullptr) return Finish(1);
  auto start = std::chrono::steady_clock::now();
  int rc = d4lock(t, rec);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  std::printf("rc=%d ms=%lld\n", rc, static_cast<long long>(ms.count()));
  return Finish(0);
}

}  // namespace

int main(int argc, char** argv) {
  std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "write" && argc == 4) return Write(argv[2], std::atoi(argv[3]));
  if (cmd == "dump" && argc == 3) return Dump(argv[2], false);
  if (cmd == "dumplive" && argc == 3) return Dump(argv[2], true);
  if (cmd == "append" && (argc == 5 || argc == 6))
    return Append(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), argc == 6 ? std::atoi(argv[5]) : 1);
  if (cmd == "hold" && argc == 5) return Hold(argv[2], std::atol(argv[3]), std::atoi(argv[4]));
  if (cmd == "trylock" && argc == 5) return TryLock(argv[2], std::atol(argv[3]), std::atoi(argv[4]));
  std::fprintf(stderr, "usage: table4_tool write|dump|append|hold|trylock ...\n");
  return 2;
}
