// The settings file as a user may have edited it: load, write, load, write.
#include <cstdint>
#include <cstdlib>

#include <QByteArray>

#include "platform/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
  const yuragi::IniFile first = yuragi::IniFile::Parse(text);
  const QByteArray written = first.Text();
  yuragi::IniFile second = yuragi::IniFile::Parse(written);
  if (second.Text() != written) std::abort();
  // What the program reads and writes back on every close.
  second.ReadInteger("Form", "Left", 0);
  second.ReadText("Folder", "Path", "");
  second.WriteText("Folder", "Path", text.left(64));
  second.WriteInteger("Form", "Left", int(size));
  const QByteArray rewritten = second.Text();
  if (yuragi::IniFile::Parse(rewritten).Text() != rewritten) std::abort();
  return 0;
}
