// Whole-file reading and writing for the writer and its tools; failures throw
// std::runtime_error naming the file.
#pragma once

#include <string>

#include "writer/der_writer.h"

namespace qalv::writer {

Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& bytes);

}  // namespace qalv::writer
