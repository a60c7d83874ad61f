// Whole-file reading and writing for the writer and its tools; failures throw
// std::runtime_error naming the file (and, for a write, why it failed). A
// write replaces the file only once every byte is on the disk.
#pragma once

#include <string>

#include "writer/der_writer.h"

namespace qalv::writer {

Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& bytes);

}  // namespace qalv::writer
