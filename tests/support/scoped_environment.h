// Sets (or removes) one environment variable for a scope and puts back what
// was there before; NoProxyEnvironment clears the proxy variables that libcurl
// reads, so loopback requests reach the test's own server.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace brontel::testing {

class ScopedEnvironment {
 public:
  // Sets name to value, or removes it when value is nothing.
  ScopedEnvironment(std::string name, const std::optional<std::string>& value)
      : m_name(std::move(name)) {
    if (const char* previous = std::getenv(m_name.c_str())) m_previous = previous;
    Set(value);
  }
  ~ScopedEnvironment() { Set(m_previous); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  void Set(const std::optional<std::string>& value) const {
    if (value) {
      ::setenv(m_name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(m_name.c_str());
    }
  }

 private:
  std::string m_name;
  std::optional<std::string> m_previous;
};

class NoProxyEnvironment {
  ScopedEnvironment m_http{"http_proxy", std::nullopt};
  ScopedEnvironment m_https{"https_proxy", std::nullopt};
  ScopedEnvironment m_all{"all_proxy", std::nullopt};
  ScopedEnvironment m_allUpper{"ALL_PROXY", std::nullopt};
  ScopedEnvironment m_no{"no_proxy", std::nullopt};
  ScopedEnvironment m_noUpper{"NO_PROXY", std::nullopt};
};

}  // namespace brontel::testing
