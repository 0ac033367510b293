// A server account for tests on the scripted sync server: it keeps the records
// clients send, answers a request that carries records as a server that takes
// every change (each record echoed with its server id and the new version),
// and answers a request without records with every record changed since the
// version the client asked from. So a synchronization that fails half way and
// runs again meets the server it would meet in the field.
//
// Records are kept by server id. An insert that the account already took (the
// same element kind and local id) gets its first server id again, as a server
// does for a client that sends an insert twice after losing the echo. A
// contact's category link is sent back as an element of its own (act 4).
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "brontel/core/uid128.h"
#include "brontel/platform/format.h"

namespace brontel::testing {

class SyncAccount {
 public:
  SyncAccount(const UID128& gid, uint32_t version) : m_gid(gid), m_version(version) {}
  SyncAccount(const SyncAccount& other) { *this = other; }
  SyncAccount& operator=(const SyncAccount& other) {
    if (this == &other) return *this;
    std::scoped_lock lock(m_mutex, other.m_mutex);
    m_gid = other.m_gid;
    m_version = other.m_version;
    m_nextSid = other.m_nextSid;
    m_records = other.m_records;
    m_links = other.m_links;
    m_inserted = other.m_inserted;
    return *this;
  }

  // A record that another client gave the server: element (a calendar,
  // event, category or contact element without sid, ver and lid) is stored
  // with the next server id at the next version.
  void Put(const std::string& element) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_version;
    Take(element);
  }

  // The answer to request, a whole request document.
  std::string Answer(const std::string& request) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const uint32_t asked = Hex(Attribute(request, "ver"));
    const std::vector<std::string> elements = Elements(request);
    std::string records;
    if (elements.empty()) {
      for (const auto* kept : {&m_records, &m_links}) {
        for (const auto& [sid, element] : *kept) {
          if (asked == kEverything || Hex(Attribute(element, "ver")) > asked) records += element;
        }
      }
      return Document(records, asked == kEverything);
    }
    ++m_version;
    for (const std::string& element : elements) records += Take(element);
    return Document(records, false);
  }

  // The names of the records the account holds, sorted.
  std::vector<std::string> Names() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> names;
    static const std::regex kName("<name>([^<]*)</name>|<datum index=\"12\">([^<]*)</datum>");
    for (const auto& [sid, element] : m_records) {
      std::smatch match;
      if (std::regex_search(element, match, kName)) {
        names.push_back(match[1].matched ? match[1].str() : match[2].str());
      }
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  static constexpr uint32_t kEverything = 0xFFFFFFFFu;

  // Stores element at the current version and returns its echo.
  std::string Take(const std::string& element) {
    const std::string tag = element.substr(1, element.find_first_of(" >") - 1);
    const std::string act = Attribute(element, "act");
    if (tag == "contact" && (act == "4" || act == "5")) {
      const uint32_t sid = Hex(Attribute(element, "sid"));
      const std::string echo = Stamp(MapParent(element), sid);
      if (act == "4") {
        m_links[sid] = echo;
      } else {
        m_links.erase(sid);
      }
      return echo;
    }
    uint32_t sid = Hex(Attribute(element, "sid"));
    if (sid == 0) {
      const std::string lid = Attribute(element, "lid");
      auto known = lid.empty() ? m_inserted.end() : m_inserted.find(tag + " " + lid);
      sid = known != m_inserted.end() ? known->second : m_nextSid++;
      if (!lid.empty()) m_inserted[tag + " " + lid] = sid;
    }
    std::string record = element;
    std::smatch link;
    if (tag == "contact" && std::regex_search(element, link, std::regex("<link [^>]*/>"))) {
      record = link.prefix().str() + link.suffix().str();
      m_links[sid] = Stamp(
          MapParent(Format("<contact act=\"4\" sid=\"%x\">", sid) + link.str() + "</contact>"),
          sid);
    } else if (tag == "contact") {
      m_links.erase(sid);
    }
    m_records[sid] = Stamp(MapParent(record), sid);
    return tag == "contact" && m_links.count(sid) ? m_records[sid] + m_links[sid] : m_records[sid];
  }

  static std::string Attribute(const std::string& element, const std::string& name) {
    std::smatch match;
    const std::string head = element.substr(0, element.find('>'));
    if (std::regex_search(head, match, std::regex(" " + name + "=\"([^\"]*)\""))) return match[1];
    return "";
  }
  static uint32_t Hex(const std::string& text) {
    return text.empty() ? 0 : static_cast<uint32_t>(std::stoul(text, nullptr, 16));
  }
  static std::vector<std::string> Elements(const std::string& document) {
    static const std::regex kElement(
        "<(calendar|event|category|contact)[ "
        ">][^>]*?(/>|>.*?</(calendar|event|category|contact)>)");
    std::vector<std::string> elements;
    for (auto it = std::sregex_iterator(document.begin(), document.end(), kElement);
         it != std::sregex_iterator(); ++it) {
      elements.push_back(it->str());
    }
    return elements;
  }
  // element with a parent named by the local id of a category this account
  // took named by its server id instead.
  std::string MapParent(const std::string& element) const {
    std::smatch match;
    if (!std::regex_search(element, match, std::regex("psid=\"([0-9a-f]+)\""))) return element;
    auto known = m_inserted.find("category " + match[1].str());
    if (known == m_inserted.end()) return element;
    return match.prefix().str() + Format("psid=\"%x\"", known->second) + match.suffix().str();
  }
  // element with server id sid and the current version, its links too.
  std::string Stamp(const std::string& element, uint32_t sid) const {
    const size_t nameEnd = element.find_first_of(" >");
    const size_t headEnd = element.find('>');
    std::string head = element.substr(nameEnd, headEnd - nameEnd);
    head = std::regex_replace(head, std::regex(" (sid|ver)=\"[^\"]*\""), "");
    std::string body = element.substr(headEnd);
    body =
        std::regex_replace(body, std::regex("pver=\"[^\"]*\""), Format("pver=\"%x\"", m_version));
    return element.substr(0, nameEnd) + Format(" sid=\"%x\" ver=\"%x\"", sid, m_version) + head +
           body;
  }
  std::string Document(const std::string& records, bool full) const {
    return Format("<tandroresp ts=\"1\" sts=\"1\" ver=\"%x\" rev=\"r1\" full=\"%d\"><gid>",
                  m_version, full ? 1 : 0) +
           m_gid.GetString() + "</gid>" + records + "</tandroresp>";
  }

  mutable std::mutex m_mutex;
  UID128 m_gid;
  uint32_t m_version = 0;
  uint32_t m_nextSid = 0x100;
  std::map<uint32_t, std::string> m_records;
  // Contacts' category links, by the contact's server id.
  std::map<uint32_t, std::string> m_links;
  // Server ids of inserted records, by element kind and local id.
  std::map<std::string, uint32_t> m_inserted;
};

}  // namespace brontel::testing
