#include "json_fields.h"

#include <cstdlib>
#include <limits>

#include "brontel/platform/format.h"

namespace brontel::tool {

uint32_t Number(const Json& j, const char* key, uint32_t fallback, uint32_t max) {
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) return fallback;
  bool ok = false;
  uint64_t value = 0;
  if (it->is_number_unsigned()) {
    value = it->get<uint64_t>();
    ok = value <= 0xFFFFFFFFull;
  } else if (it->is_number_integer()) {
    // A negative number counts from the top, so that -1 is the invalid version.
    int64_t signedValue = it->get<int64_t>();
    ok = signedValue >= std::numeric_limits<int32_t>::min();
    value = static_cast<uint32_t>(signedValue);
  } else if (it->is_string()) {
    const std::string& text = it->get_ref<const std::string&>();
    char* end = nullptr;
    unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
    ok = end != text.c_str() && *end == '\0' && parsed <= 0xFFFFFFFFull;
    value = parsed;
  }
  if (ok && value <= max) return static_cast<uint32_t>(value);
  if (max == 0xFFFFFFFFu) throw BadCopy(Format("\"%s\" is not a 32-bit number", key));
  throw BadCopy(Format("\"%s\" is not a number from 0 to %u", key, max));
}

bool Flag(const Json& j, const char* key, bool fallback) {
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) return fallback;
  if (!it->is_boolean()) throw BadCopy(Format("\"%s\" is not true or false", key));
  return it->get<bool>();
}

std::string Text(const Json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) return std::string();
  if (!it->is_string()) throw BadCopy(Format("\"%s\" is not a text", key));
  return it->get<std::string>();
}

const Json& Array(const Json& j, const char* key) {
  static const Json kNone = Json::array();
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) return kNone;
  if (!it->is_array()) throw BadCopy(Format("\"%s\" is not an array", key));
  return *it;
}

const Json& Objects(const Json& j, const char* key, const char* what) {
  const Json& elements = Array(j, key);
  for (const Json& element : elements) {
    if (!element.is_object()) throw BadCopy(Format("%s in \"%s\" is not an object", what, key));
  }
  return elements;
}

const Json* ObjectOrNull(const Json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) return nullptr;
  if (!it->is_object()) throw BadCopy(Format("\"%s\" is not an object", key));
  return &*it;
}

std::string Hex(uint32_t v) {
  return Format("0x%x", v);
}

bool ParseCopy(const std::string& text, const std::function<void(const Json&)>& load,
               std::string* error) {
  try {
    Json j = Json::parse(text);
    if (!j.is_object()) throw BadCopy("the copy is not a JSON object");
    load(j);
    return true;
  } catch (const Json::exception& e) {
    *error = std::string("bad JSON: ") + e.what();
  } catch (const BadCopy& e) {
    *error = e.what();
  }
  return false;
}

}  // namespace brontel::tool
