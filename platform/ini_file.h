// The settings file: an INI text in Windows-1251 on disk, UTF-8 in memory.
// Section and key names match without regard to ASCII letter case; the file's
// order of sections, keys and comments is kept when values change.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

class IniFile {
 public:
  // Replaces the contents with the file at `path`. A missing file loads as
  // empty and succeeds; a path that cannot be read fails with the reason.
  bool Load(const std::string& path, std::string* error = nullptr);

  // Writes the whole text beside `path` into a temporary file, syncs it and
  // renames it over `path`, so a crash leaves the old or the new file whole.
  bool Save(const std::string& path, std::string* error = nullptr) const;

  // Replaces the contents with UTF-8 text; LF or CR LF line ends.
  void Parse(std::string_view text);
  // The UTF-8 text that Save writes, with CR LF line ends.
  std::string Text() const;

  bool HasKey(std::string_view section, std::string_view key) const;
  // Key names of a section in file order.
  std::vector<std::string> Keys(std::string_view section) const;

  std::string GetString(std::string_view section, std::string_view key,
                        std::string_view def) const;
  // Decimal with an optional sign; anything else gives `def`.
  int GetInt(std::string_view section, std::string_view key, int def) const;
  // Any non-zero integer is true; anything that is not an integer gives `def`.
  bool GetBool(std::string_view section, std::string_view key, bool def) const;

  // An existing key keeps its place; a new key goes to the end of its section,
  // a new section to the end of the file. Line breaks in `value` become blanks.
  void SetString(std::string_view section, std::string_view key, std::string_view value);
  void SetInt(std::string_view section, std::string_view key, int value);
  void SetBool(std::string_view section, std::string_view key, bool value);

 private:
  // A key line, or with an empty key any other line kept as it stands in `value`.
  struct Line {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    bool header = true;  // false for the lines before the first section
    std::vector<Line> lines;
  };

  const Line* Find(std::string_view section, std::string_view key) const;
  Section* FindSection(std::string_view section);
  const Section* FindSection(std::string_view section) const;

  std::vector<Section> sections_;
};

}  // namespace platform
