// The settings file as a user may have edited it: load, write, load, write.
#include <cstdint>
#include <cstdlib>

#include <QByteArray>

#include "formats/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
  const yuragi::IniFile first = yuragi::IniFile::Parse(text);
  const QByteArray written = first.Text();
  yuragi::IniFile second = yuragi::IniFile::Parse(written);
  if (second.Text() != written) std::abort();
  // What the program writes back on every close: a folder path of any
  // bytes comes back as it was, unless a line break kept it out.
  const QByteArray folder = "/" + text.left(64);
  second.WriteText("Folder", "Path", folder);
  second.WriteInteger("Form", "Left", int(size));
  const yuragi::IniFile third = yuragi::IniFile::Parse(second.Text());
  const bool storable = !folder.contains('\n') && !folder.contains('\r');
  if (third.ReadText("Folder", "Path", "none") != (storable ? folder : QByteArray("none"))) std::abort();
  if (third.ReadInteger("Form", "Left", -1) != int(size)) std::abort();
  return 0;
}
