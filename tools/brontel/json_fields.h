// The small JSON readers and writers that the tool's copy files (calendar and
// contact copies) share: numbers written as JSON numbers or "0x..." texts,
// flags, texts, arrays of objects, and the id and status fields that every
// record carries.
//
// A reader returns the fallback for a missing or null field and throws BadCopy,
// with a text that names the field, for a value of the wrong kind or range.
// ParseCopy turns both BadCopy and the JSON library's own errors into an error
// text, so that bad input never ends the tool.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "brontel/core/record_identification.h"
#include "brontel/core/record_status.h"

namespace brontel::tool {

using Json = nlohmann::json;

// A copy file that cannot be loaded; what() says why.
struct BadCopy : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// j[key] as an unsigned number of at most max; fallback when missing or null.
uint32_t Number(const Json& j, const char* key, uint32_t fallback, uint32_t max = 0xFFFFFFFFu);
bool Flag(const Json& j, const char* key, bool fallback);
// j[key] as a text; empty when missing or null.
std::string Text(const Json& j, const char* key);
// j[key] as an array whose elements are all objects; an empty array when
// missing or null. what names an element in the error text ("a category").
const Json& Objects(const Json& j, const char* key, const char* what);
// j[key] as an array of any elements; an empty array when missing or null.
const Json& Array(const Json& j, const char* key);
// j[key] when it is an object; nullptr when missing or null.
const Json* ObjectOrNull(const Json& j, const char* key);
// "0x%x".
std::string Hex(uint32_t v);

// Parses text as a JSON object and hands it to load; false with error set when
// the text is not JSON, not an object, or load throws BadCopy.
bool ParseCopy(const std::string& text, const std::function<void(const Json&)>& load,
               std::string* error);

// The record fields "localId", "fixedId", "cacheId", "version" (default: the
// invalid version), "dataHash", "deleted" and "dirty". Ids go through the
// record's own setters so that the lists of its manager hear of them; load
// the fields only after the record is in its manager.
template <class Record>
void LoadRecordFields(const Json& j, Record& r) {
  r.SetLocalId(Number(j, "localId", 0));
  r.SetFixedId(Number(j, "fixedId", 0));
  r.SetCacheId(Number(j, "cacheId", 0));
  r.SetVersion(Number(j, "version", 0xFFFFFFFFu));
  RecordStatus status = r.GetRecordStatus();
  status.SetDataHash(Number(j, "dataHash", 0));
  status.SetDeleteFlag(Flag(j, "deleted", false));
  status.SetDirtyFlag(Flag(j, "dirty", false));
}

// The same fields, plus "conflict": true for a record with a competing version.
template <class Record>
void SaveRecordFields(const Record& r, Json& j) {
  j["localId"] = r.GetLocalId();
  j["fixedId"] = Hex(r.GetFixedId());
  j["cacheId"] = Hex(r.GetCacheId());
  j["version"] = Hex(r.GetVersion());
  j["dataHash"] = Hex(r.GetDataHash());
  j["deleted"] = r.IsDeleted();
  j["dirty"] = r.IsDirty();
  if (r.IsConflicted()) j["conflict"] = true;
}

}  // namespace brontel::tool
