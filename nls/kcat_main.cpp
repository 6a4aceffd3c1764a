// kcat_main.cpp - kcat, the message catalogue compiler for translators.
//   kcat -o CATALOGUE.kdb SOURCE...      compiles message sources into a headed catalogue
//   kcat -d CATALOGUE.kdb                writes a catalogue back as source on standard output
//   kcat --check REFERENCE CATALOGUE...  compares each message's printf conversions with the
//                                        reference's (each may be a .kdb or a source)
// Source: one message an entry, "SET NUMBER text" (or "$key NAME text" for a named record);
// the text runs from after one blank to the end of the line, a backslash ending a line joins
// the next, C escapes \n \t \r \f \v \b \a \\ \" \' \? \ooo \xHH. Lines beginning with "$ "
// (or "$" alone) or "#" are comments. Each message is stored under "SET_NUMBER" with its
// terminating zero byte. A source with any error writes nothing.
// Exit status: 0 done, 1 errors found (each reported as FILE:LINE: or FILE: set S number N:),
// 2 usage.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/MemMgr.h"
#include "base/utils.h"
#include "db/Dbm.h"
#include "nls/NlsUtils.h"

namespace {

namespace fs = std::filesystem;

const char kUsage[] =
    "usage: kcat -o CATALOGUE.kdb SOURCE...\n"
    "       kcat -d CATALOGUE.kdb\n"
    "       kcat --check REFERENCE CATALOGUE...\n";

constexpr size_t kLongText = kNlsStrBufSize - 1;  // longer texts are read whole by mode 3 only

struct Message {
  std::string text;  // without the terminating zero byte
  std::string where; // FILE:LINE of its entry
};

// Messages by key, numeric keys in (set, number) order, then named keys by name.
struct KeyOrder {
  static bool Numeric(const std::string& k, long* s, long* n) {
    char tail;
    return sscanf(k.c_str(), "%ld_%ld%c", s, n, &tail) == 2 && *s > 0 && *n > 0 &&
           k == std::to_string(*s) + "_" + std::to_string(*n);
  }
  bool operator()(const std::string& a, const std::string& b) const {
    long sa, na, sb, nb;
    bool fa = Numeric(a, &sa, &na), fb = Numeric(b, &sb, &nb);
    if (fa != fb) return fa;
    if (fa) return sa != sb ? sa < sb : na < nb;
    return a < b;
  }
};
using Catalogue = std::map<std::string, Message, KeyOrder>;

int nErrors = 0;

void Error(const std::string& where, const std::string& what) {
  fprintf(stderr, "%s: %s\n", where.c_str(), what.c_str());
  nErrors++;
}

// "set S number N" or "key K" for the reports.
std::string KeyName(const std::string& key) {
  long s, n;
  if (KeyOrder::Numeric(key, &s, &n))
    return "set " + std::to_string(s) + " number " + std::to_string(n);
  return "key " + key;
}

// ---------------------------------------------------------------------------
// Reading sources
// ---------------------------------------------------------------------------

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes the escapes of text; false with a reason for a bad one.
bool Unescape(const std::string& text, std::string* out, std::string* why) {
  out->clear();
  for (size_t i = 0; i < text.size(); i++) {
    char c = text[i];
    if (c != '\\') {
      *out += c;
      continue;
    }
    if (++i == text.size()) return *why = "a backslash ends the text", false;
    c = text[i];
    const char* simple = strchr("ntrfvba\\\"'?", c);
    if (simple && c) {
      static const char kValues[] = "\n\t\r\f\v\b\a\\\"'?";
      *out += kValues[simple - "ntrfvba\\\"'?"];
    } else if (c >= '0' && c <= '7') {
      int v = 0, n = 0;
      while (n < 3 && i < text.size() && text[i] >= '0' && text[i] <= '7') v = v * 8 + (text[i++] - '0'), n++;
      i--;
      if (v > 255) return *why = "octal escape above \\377", false;
      if (v == 0) return *why = "\\0 would end the message there", false;
      *out += char(v);
    } else if (c == 'x') {
      int v = 0, n = 0;
      while (n < 2 && i + 1 < text.size() && HexValue(text[i + 1]) >= 0) v = v * 16 + HexValue(text[++i]), n++;
      if (n == 0) return *why = "\\x without hexadecimal digits", false;
      if (v == 0) return *why = "\\x00 would end the message there", false;
      *out += char(v);
    } else {
      return *why = std::string("unknown escape \\") + c, false;
    }
  }
  return true;
}

// Reads a positive decimal number at text[*pos]; 0 when there is none or it is too large.
long ReadNumber(const std::string& text, size_t* pos) {
  long v = 0;
  size_t start = *pos;
  while (*pos < text.size() && isdigit(static_cast<unsigned char>(text[*pos]))) {
    v = v * 10 + (text[(*pos)++] - '0');
    if (v > 0x7fffffffL) return 0;
  }
  return *pos > start ? v : 0;
}

// Adds the entries of one source file to cat; errors are reported and counted.
void ReadSource(const std::string& file, Catalogue* cat) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return Error(file, "cannot be read");
  std::string physical, logical;
  int lineNo = 0, startLine = 0;
  bool more = true;
  while (more) {
    more = static_cast<bool>(std::getline(in, physical));
    if (!more && logical.empty()) break;
    if (more) {
      lineNo++;
      if (!physical.empty() && physical.back() == '\r') physical.pop_back();
      if (logical.empty()) startLine = lineNo;
      size_t nBackslash = 0;
      while (nBackslash < physical.size() && physical[physical.size() - 1 - nBackslash] == '\\') nBackslash++;
      if (nBackslash % 2 == 1) {  // continued on the next line
        logical += physical.substr(0, physical.size() - 1);
        continue;
      }
      logical += physical;
    }
    std::string line;
    line.swap(logical);
    std::string where = file + ":" + std::to_string(startLine);
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[0] == '#') continue;
    if (line[0] == '$' && (line.size() == 1 || line[1] == ' ' || line[1] == '\t')) continue;

    std::string key;
    size_t pos;
    if (line.compare(0, 5, "$key ") == 0 || line.compare(0, 5, "$key\t") == 0) {
      size_t start = line.find_first_not_of(" \t", 5);
      if (start == std::string::npos) {
        Error(where, "$key without a name");
        continue;
      }
      pos = line.find_first_of(" \t", start);
      if (pos == std::string::npos) pos = line.size();
      key = line.substr(start, pos - start);
    } else if (line[0] == '$') {
      Error(where, "unknown directive " + line.substr(0, line.find_first_of(" \t")));
      continue;
    } else {
      pos = 0;
      long set = ReadNumber(line, &pos);
      size_t gap = pos;
      while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) pos++;
      long number = pos > gap ? ReadNumber(line, &pos) : 0;
      if (set <= 0 || number <= 0) {
        Error(where, "expected SET NUMBER text, each number from 1 to 2147483647");
        continue;
      }
      key = std::to_string(set) + "_" + std::to_string(number);
    }
    if (pos < line.size() && line[pos] != ' ' && line[pos] != '\t') {
      Error(where, "expected a blank between the key and the text");
      continue;
    }
    std::string raw = pos < line.size() ? line.substr(pos + 1) : "", text, why;
    if (!Unescape(raw, &text, &why)) {
      Error(where, KeyName(key) + ": " + why);
      continue;
    }
    auto found = cat->find(key);
    if (found != cat->end()) {
      Error(where, KeyName(key) + ": already defined at " + found->second.where);
      continue;
    }
    if (key.size() + 1 + text.size() + 1 > size_t(kDbTMaxKeyData)) {
      Error(where, KeyName(key) + ": text too long (" + std::to_string(text.size()) + " bytes)");
      continue;
    }
    if (text.size() > kLongText)
      fprintf(stderr, "%s: warning: %s: %zu bytes; only a mode-3 fetch reads it whole\n",
              where.c_str(), KeyName(key).c_str(), text.size());
    (*cat)[key] = Message{text, where};
  }
}

// An absolute path, which DbTOpen takes as it is.
std::string DbPath(const std::string& file) {
  std::error_code ec;
  fs::path p = fs::absolute(file, ec);
  return ec ? file : p.string();
}

// Reads the messages of a catalogue file; false when it is missing or holds no records.
bool ReadCatalogue(const std::string& file, Catalogue* cat) {
  if (!fs::is_regular_file(file)) return Error(file, "no such catalogue file"), false;
  DbT* pDb = DbTOpen(DbPath(file).c_str(), 2);
  if (!pDb || !pDb->pImage) {
    if (pDb) DbTClose(pDb);
    return Error(file, "not a readable catalogue"), false;
  }
  DbLink* pFirst = DbmTGetDbLinkList(pDb, "");
  for (DbLink* p = pFirst; p; p = p->pNext) {
    std::string key = reinterpret_cast<const char*>(p->pBlock);
    const char* data = reinterpret_cast<const char*>(p->pData);
    size_t len = strnlen(data, size_t(p->DataLen));
    if (len + 1 < size_t(p->DataLen))
      fprintf(stderr, "%s: warning: %s: a zero byte inside the text; the rest is dropped\n",
              file.c_str(), KeyName(key).c_str());
    if (!cat->count(key)) (*cat)[key] = Message{std::string(data, len), file};
  }
  DbmFreeDbLinkList(pFirst);
  DbTClose(pDb);
  return true;
}

bool IsCatalogueFile(const std::string& file) {
  return file.size() > 4 && file.compare(file.size() - 4, 4, ".kdb") == 0;
}

bool Load(const std::string& file, Catalogue* cat) {
  int before = nErrors;
  if (IsCatalogueFile(file)) return ReadCatalogue(file, cat);
  ReadSource(file, cat);
  return nErrors == before;
}

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

int Compile(const std::string& out, const std::vector<std::string>& sources) {
  Catalogue cat;
  for (const std::string& s : sources) ReadSource(s, &cat);
  if (nErrors) {
    fprintf(stderr, "kcat: %d error%s; %s not written\n", nErrors, nErrors == 1 ? "" : "s",
            out.c_str());
    return 1;
  }
  std::string path = DbPath(out);
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  std::string tmp = path + ".kcat";
  unlink(tmp.c_str());
  DbT* pDb = DbTOpen(tmp.c_str(), 4);
  if (!pDb) return Error(out, "out of memory"), 1;
  bool ok = true;
  for (const auto& [key, msg] : cat)
    ok = ok && DbmTPutRecord(pDb, key.c_str(), msg.text.c_str(), int(msg.text.size() + 1));
  if (cat.empty()) ok = false;
  ok = ok && DbmTArchiveDb(pDb);
  DbTClose(pDb);
  if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
    unlink(tmp.c_str());
    return Error(out, cat.empty() ? "no messages in the sources; not written" : "cannot be written"), 1;
  }
  return 0;
}

// The text as source: escapes for what an editor would not keep, "\n" followed by a line join
// where the text goes on.
std::string Escape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    bool edge = i == 0 || i + 1 == text.size();
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += i + 1 < text.size() ? "\\n\\\n" : "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\f': out += "\\f"; break;
      case '\v': out += "\\v"; break;
      case '\b': out += "\\b"; break;
      case '\a': out += "\\a"; break;
      default:
        if (c < 0x20 || c == 0x7f || (c == ' ' && (edge || text[i - 1] == '\n'))) {
          char buf[8];
          snprintf(buf, sizeof buf, "\\%03o", c);
          out += buf;
        } else {
          out += char(c);
        }
    }
  }
  return out;
}

int Decompile(const std::string& file) {
  Catalogue cat;
  if (!ReadCatalogue(file, &cat)) return 1;
  printf("$ Messages of %s\n", file.c_str());
  for (const auto& [key, msg] : cat) {
    long s, n;
    if (KeyOrder::Numeric(key, &s, &n))
      printf("%ld %ld %s\n", s, n, Escape(msg.text).c_str());
    else
      printf("$key %s %s\n", key.c_str(), Escape(msg.text).c_str());
  }
  return fflush(stdout) == 0 ? 0 : 1;
}

// ---------------------------------------------------------------------------
// Checking conversions
// ---------------------------------------------------------------------------

// The conversions of text as written ("%c, %s"), "none" without any.
std::string Conversions(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] != '%') continue;
    if (i + 1 < text.size() && text[i + 1] == '%') {
      i++;
      continue;
    }
    size_t end = text.find_first_of("diouxXcsfFeEgGaApnCSm%", i + 1);
    std::string spec = text.substr(i, end == std::string::npos ? std::string::npos : end - i + 1);
    out += (out.empty() ? "" : ", ") + spec;
    if (end == std::string::npos) break;
    i = end;
  }
  return out.empty() ? "none" : out;
}

bool UsesN(const std::string& text) {
  std::string c = Conversions(text);
  return !c.empty() && (c.back() == 'n' || c.find("n,") != std::string::npos);
}

// The argument classes of text, or "?" followed by the conversions when they are not all
// checkable (positional or unknown conversions).
std::string Classes(const std::string& text) {
  char args[kNlsArgsSize];
  if (NlsFormatArgs(text.c_str(), args, sizeof args) < 0) return "?" + Conversions(text);
  return args;
}

// Reports the messages of file whose conversions differ from ref's (or from what the program
// passes, for the messages it declares).
void Check(const std::string& file, const Catalogue& ref, const Catalogue& cat, bool declared) {
  for (const auto& [key, msg] : cat) {
    std::string where = file + ": " + KeyName(key);
    if (UsesN(msg.text)) {
      Error(where, "expected conversions \"" + (ref.count(key) ? Conversions(ref.at(key).text) : "none") +
                       "\", found \"" + Conversions(msg.text) + "\" (%n is never allowed)");
      continue;
    }
    long s, n;
    if (declared && KeyOrder::Numeric(key, &s, &n) && *NlsExpectedArgs(int(s), int(n)) &&
        !NlsCheckArgs(msg.text.c_str(), int(s), int(n))) {
      Error(where, "expected conversions \"" + Conversions(NlsExpectedArgs(int(s), int(n))) +
                       "\", found \"" + Conversions(msg.text) + "\"");
      continue;
    }
    auto r = ref.find(key);
    if (r == ref.end()) {
      if (&ref != &cat)
        fprintf(stderr, "%s: warning: not in the reference catalogue\n", where.c_str());
      continue;
    }
    if (Classes(r->second.text) != Classes(msg.text))
      Error(where, "expected conversions \"" + Conversions(r->second.text) + "\", found \"" +
                       Conversions(msg.text) + "\"");
  }
}

int CheckAll(const std::string& refFile, const std::vector<std::string>& files) {
  Catalogue ref;
  if (!Load(refFile, &ref)) return 1;
  // The toolkit's own catalogue is also held to the arguments the toolkit passes.
  auto isCore = [](const std::string& f) {
    std::string stem = fs::path(f).stem().string();
    return stem == "CoreString";
  };
  if (isCore(refFile)) Check(refFile, ref, ref, true);
  for (const std::string& f : files) {
    std::error_code ec;
    if (fs::equivalent(f, refFile, ec)) continue;  // checked above
    Catalogue cat;
    if (Load(f, &cat)) Check(f, ref, cat, isCore(f));
  }
  if (nErrors) fprintf(stderr, "kcat: %d conversion error%s\n", nErrors, nErrors == 1 ? "" : "s");
  return nErrors ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  static char szName[] = "kcat";
  my_name = szName;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 3 && args[0] == "-o" && !args[1].empty())
    return Compile(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
  if (args.size() == 2 && args[0] == "-d") return Decompile(args[1]);
  if (args.size() >= 3 && args[0] == "--check")
    return CheckAll(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
  fputs(kUsage, stderr);
  return 2;
}
