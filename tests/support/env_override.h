// Environment variables set or cleared for the life of an object.
#pragma once

#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qalv::test {

class EnvOverride {
 public:
  // A null value clears the variable.
  EnvOverride(std::initializer_list<std::pair<const char*, const char*>> values) {
    for (const auto& [name, value] : values) {
      const char* old = std::getenv(name);
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      Put(name, value);
    }
  }
  ~EnvOverride() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      Put(it->first.c_str(), it->second ? it->second->c_str() : nullptr);
    }
  }
  EnvOverride(const EnvOverride&) = delete;
  EnvOverride& operator=(const EnvOverride&) = delete;

 private:
  static void Put(const char* name, const char* value) {
    if (value != nullptr) setenv(name, value, 1);
    else unsetenv(name);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace qalv::test
