#include "writer/files.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/file_io.h"
#include "platform/system_error.h"

namespace qalv::writer {

Bytes ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  if (WriteWholeFile(path, bytes.data(), bytes.size()) != 0) {
    throw std::runtime_error("cannot write " + path + ": " + SystemErrorText(errno));
  }
}

}  // namespace qalv::writer
