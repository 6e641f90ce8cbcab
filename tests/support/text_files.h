// What a test wrote to a file or a stream, read back whole.
#pragma once

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace tavo::test {

// The whole file at path; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Everything written to f so far (f is flushed and rewound).
inline std::string ReadStream(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string out;
  for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) out += static_cast<char>(c);
  return out;
}

}  // namespace tavo::test
