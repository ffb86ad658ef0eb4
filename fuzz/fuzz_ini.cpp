// Arbitrary bytes as the settings file: read through the INI reader into the
// settings of section "Form1" and the registration key base. The text the
// reader keeps must read back the same, and written settings must settle after
// one write.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "console/console_settings.h"
#include "console/settings_file.h"
#include "platform/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/fuzz_ini_" + std::to_string(::getpid()) + ".ini";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  platform::IniFile ini;
  if (!ini.Load(path)) return 0;
  std::remove(path.c_str());
  const console::Form1Settings read = console::ReadForm1(ini);
  console::ConsoleSettings cs;
  console::ApplyForm1(read, cs);
  std::string why;
  (void)console::ReadRegKeyBase(ini, &why);

  // The kept text parses to itself.
  const std::string text = ini.Text();
  platform::IniFile again;
  again.Parse(text);
  if (again.Text() != text) std::abort();
  if (!(console::ReadForm1(again) == read)) std::abort();

  // Writing may tidy a value once (line breaks, blanks); after that it is stable.
  console::WriteForm1(again, read);
  const console::Form1Settings once = console::ReadForm1(again);
  console::WriteForm1(again, once);
  if (!(console::ReadForm1(again) == once)) std::abort();
  return 0;
}
