#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cstdint>
#include <string>
#include <vector>

#include "jpeg_writer.h"

namespace yuragi::testing {

// A real PNG, GIF or WebP made by ImageMagick's convert: arguments are
// convert's, the output name's extension picks the format. Empty when
// convert failed.
inline std::vector<uint8_t> Convert(const std::vector<std::string>& arguments, const std::string& outputName) {
  QTemporaryDir dir;
  if (!dir.isValid()) return {};
  const std::string out = dir.path().toStdString() + "/" + outputName;
  std::vector<std::string> words = {"convert"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  words.push_back(out);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    ::execvp("convert", argv.data());
    ::_exit(127);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return ReadFile(out);
}

// A picture with detail in every row, so any cut shows in the decode.
inline std::vector<uint8_t> ConvertPicture(const std::string& outputName, const std::vector<std::string>& extra = {},
                                           const std::string& size = "120x90") {
  std::vector<std::string> arguments = {"-seed", "7", "-size", size, "plasma:fractal"};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return Convert(arguments, outputName);
}

}  // namespace yuragi::testing
