// A desktop or handheld copy of contact data as JSON, for the command-line
// tool: categories and contacts with every id, version and status.
//
//   {"gid": "8-4-4-4-12 hex", "version": n,
//    "categories": [{"name", "description", "color", "owned", "shared",
//                    "readOnly", "unfiled", + record fields}],
//    "contacts": [{"lastName", "firstName", "company",
//                  "phones": [up to 5 texts, phone 1 first],
//                  "datums": {"0": text, ..., "10": text},
//                  "flags", "options", "offset", "private",
//                  "category": index or name or null (unfiled),
//                  "linkVersion", + record fields}]}
// Record fields: "localId", "fixedId", "cacheId", "version", "dataHash",
// "deleted", "dirty" (and, when saved, "conflict": true for a data conflict and
// "linkConflict": true for a link conflict). Numbers may be written as JSON
// numbers or "0x..." texts. Missing fields take the defaults of a new record;
// "owned" defaults to true. The name datums 16 to 18 and the phones 11 to 15
// have their own fields; "datums" holds the others. A category named by its
// name must be the only one of that name; at most one category is unfiled.
#pragma once

#include <string>

#include "brontel/contacts/category_manager.h"

namespace brontel::tool {

// Fills manager (which should be empty) from the JSON text; on bad input
// returns false with error set, the manager then holding what was read so far.
bool LoadContactCopy(const std::string& json, CategoryManager& manager, std::string* error);
// The JSON text of manager.
std::string SaveContactCopy(const CategoryManager& manager);

}  // namespace brontel::tool
