#include "platform/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstddef>
#include <system_error>
#include <utility>

#include "platform/cp1251.h"
#include "platform/replace_file.h"

namespace platform {
namespace {

std::string_view Trim(std::string_view s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  const auto e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool ParseInt(std::string_view s, int& out) {
  // from_chars takes a leading '-' but not '+'.
  if (!s.empty() && s[0] == '+') {
    s.remove_prefix(1);
    if (s.empty() || s[0] == '-') return false;
  }
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

std::string ErrnoText(int e) { return std::generic_category().message(e); }

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

}  // namespace

void IniFile::Parse(std::string_view text) {
  sections_.clear();
  Section* cur = nullptr;
  while (!text.empty()) {
    const auto nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    const std::string_view t = Trim(line);
    if (!t.empty() && t.front() == '[' && t.find(']') != std::string_view::npos) {
      sections_.push_back({std::string(Trim(t.substr(1, t.find(']') - 1))), true, {}});
      cur = &sections_.back();
      continue;
    }
    if (!cur) {
      sections_.push_back({"", false, {}});
      cur = &sections_.back();
    }
    const auto eq = t.find('=');
    if (cur->header && !t.empty() && t.front() != ';' && eq != std::string_view::npos &&
        !Trim(t.substr(0, eq)).empty()) {
      cur->lines.push_back({std::string(Trim(t.substr(0, eq))), std::string(Trim(t.substr(eq + 1)))});
    } else {
      cur->lines.push_back({"", std::string(line)});
    }
  }
}

std::string IniFile::Text() const {
  std::string out;
  for (const Section& s : sections_) {
    if (s.header) out += "[" + s.name + "]\r\n";
    for (const Line& l : s.lines) {
      if (!l.key.empty()) out += l.key + "=";
      out += l.value + "\r\n";
    }
  }
  return out;
}

bool IniFile::Load(const std::string& path, std::string* error) {
  sections_.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return true;
    SetError(error, "не удалось открыть файл \"" + path + "\": " + ErrnoText(errno));
    return false;
  }
  std::string bytes;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int e = errno;
      ::close(fd);
      SetError(error, "не удалось прочитать файл \"" + path + "\": " + ErrnoText(e));
      return false;
    }
    if (n == 0) break;
    bytes.append(buf, size_t(n));
  }
  ::close(fd);
  Parse(Cp1251ToUtf8(bytes));
  return true;
}

bool IniFile::Save(const std::string& path, std::string* error) const {
  const std::string bytes = Utf8ToCp1251(Text());
  std::string why;
  if (ReplaceFile(path, bytes.data(), bytes.size(), &why)) return true;
  SetError(error, "не удалось записать файл \"" + path + "\": " + why);
  return false;
}

const IniFile::Section* IniFile::FindSection(std::string_view section) const {
  for (const Section& s : sections_)
    if (s.header && EqualNoCase(s.name, section)) return &s;
  return nullptr;
}

IniFile::Section* IniFile::FindSection(std::string_view section) {
  return const_cast<Section*>(std::as_const(*this).FindSection(section));
}

const IniFile::Line* IniFile::Find(std::string_view section, std::string_view key) const {
  const Section* s = FindSection(section);
  if (!s) return nullptr;
  for (const Line& l : s->lines)
    if (!l.key.empty() && EqualNoCase(l.key, key)) return &l;
  return nullptr;
}

bool IniFile::HasKey(std::string_view section, std::string_view key) const {
  return Find(section, key) != nullptr;
}

std::vector<std::string> IniFile::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  if (const Section* s = FindSection(section))
    for (const Line& l : s->lines)
      if (!l.key.empty()) keys.push_back(l.key);
  return keys;
}

std::string IniFile::GetString(std::string_view section, std::string_view key,
                               std::string_view def) const {
  const Line* l = Find(section, key);
  return std::string(l ? std::string_view(l->value) : def);
}

int IniFile::GetInt(std::string_view section, std::string_view key, int def) const {
  const Line* l = Find(section, key);
  int v;
  return l && ParseInt(l->value, v) ? v : def;
}

bool IniFile::GetBool(std::string_view section, std::string_view key, bool def) const {
  return GetInt(section, key, def ? 1 : 0) != 0;
}

void IniFile::SetString(std::string_view section, std::string_view key, std::string_view value) {
  // A line break would split the value into lines of their own.
  std::string v(value);
  for (char& c : v)
    if (c == '\r' || c == '\n') c = ' ';
  v = std::string(Trim(v));

  Section* s = FindSection(section);
  if (!s) {
    // A blank line sets the new section off from the text before it.
    if (!sections_.empty()) {
      auto& prev = sections_.back().lines;
      if (!prev.empty() && !(prev.back().key.empty() && Trim(prev.back().value).empty()))
        prev.push_back({"", ""});
    }
    sections_.push_back({std::string(section), true, {}});
    s = &sections_.back();
  }
  // After the last key; blank lines and comments that lead into the next
  // section stay in front of it. With no keys yet, after the comments under the header.
  size_t at = 0;
  while (at < s->lines.size() && !Trim(s->lines[at].value).empty()) ++at;
  for (size_t i = 0; i < s->lines.size(); ++i) {
    Line& l = s->lines[i];
    if (l.key.empty()) continue;
    if (EqualNoCase(l.key, key)) {
      l.value = std::move(v);
      return;
    }
    at = i + 1;
  }
  s->lines.insert(s->lines.begin() + ptrdiff_t(at), {std::string(key), std::move(v)});
}

void IniFile::SetInt(std::string_view section, std::string_view key, int value) {
  SetString(section, key, std::to_string(value));
}

void IniFile::SetBool(std::string_view section, std::string_view key, bool value) {
  SetString(section, key, value ? "1" : "0");
}

}  // namespace platform
