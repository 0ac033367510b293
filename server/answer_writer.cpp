#include "server/answer_writer.h"

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "brontel/protocol/xml_element.h"
#include "server/access.h"
#include "server/record_xml.h"

namespace brontel::server {

namespace {

struct ViewParent {
  StoredRecord record;
  ParentAccess access;
};

struct ViewLink {
  uint32_t parentSid = 0;
  uint32_t version = 0;
};

class AnswerWriter {
 public:
  AnswerWriter(Storage& storage, const AnswerRequest& request, const RequestOutcome& outcome)
      : m_storage(storage), m_request(request), m_outcome(outcome) {}

  std::string Write() {
    uint32_t counter = m_storage.GetCounter();
    uint32_t epoch = m_storage.GetEpoch(m_request.account, m_request.family);
    m_full = m_request.version == kInvalidVersion || m_request.version > counter ||
             (m_request.stamp != 0 && m_request.stamp != epoch);
    XmlElement root("tandroresp", nullptr);
    root.AddAttribute("ts", epoch);
    root.AddAttributeFlag("sts", true);
    root.AddAttribute("ver", counter);
    root.AddAttribute("rev", std::string(kServerRevision));
    root.AddAttributeFlag("full", m_full);
    {
      XmlElement gid("gid", &root);
      gid.AddValue(m_request.gid);
    }
    if (m_request.family == Family::kCalendars) {
      CollectParents(RecordKind::kCalendar);
      WriteParents(root, RecordKind::kCalendar);
      WriteChildren(root, RecordKind::kEvent);
      WriteClicks(root);
    } else {
      CollectParents(RecordKind::kCategory);
      WriteParents(root, RecordKind::kCategory);
      WriteChildren(root, RecordKind::kContact);
    }
    WriteConflicts(root);
    return root.Query();
  }

 private:
  // Whether a change at version belongs in a delta.
  bool Changed(uint32_t sid, uint32_t version) const {
    return version > m_request.version || m_outcome.forced.count(sid) != 0;
  }
  uint32_t LidOf(uint32_t sid) const {
    auto found = m_outcome.echoLids.find(sid);
    return found == m_outcome.echoLids.end() ? 0 : found->second;
  }
  uint32_t ActOf(uint32_t sid) const { return m_outcome.echoLids.count(sid) != 0 ? 0 : 1; }

  void CollectParents(RecordKind kind) {
    for (const StoredRecord& record : m_storage.RecordsOwnedBy(kind, m_request.account)) {
      m_parents[record.sid] =
          ViewParent{record, AccessToParent(m_storage, m_request.account, record)};
    }
    for (const Grant& grant : m_storage.GrantsTo(m_request.account, kind)) {
      std::optional<StoredRecord> record = m_storage.FindRecord(kind, grant.sid);
      if (!record || record->owner == m_request.account) continue;
      m_parents[record->sid] =
          ViewParent{*record, AccessToParent(m_storage, m_request.account, *record)};
    }
  }

  void WriteParents(XmlElement& root, RecordKind kind) {
    const char* name = kind == RecordKind::kCalendar ? "calendar" : "category";
    for (const auto& [sid, parent] : m_parents) {
      const ParentAccess& access = parent.access;
      if (access.visible ? !m_full && !Changed(sid, access.viewVersion)
                         : m_full || !Changed(sid, access.viewVersion)) {
        continue;
      }
      XmlElement element(name, &root);
      element.AddAttribute("sid", sid);
      if (kind == RecordKind::kCalendar || access.visible) {
        element.AddAttribute("lid", access.owned ? LidOf(sid) : 0u);
      }
      element.AddAttribute("ver", access.viewVersion);
      if (!access.visible) {
        // Ended: deleted by its owner, or no longer shared with this account.
        element.AddAttribute("act", access.owned ? 3u : 2u);
        if (kind == RecordKind::kCalendar) {
          std::optional<CalendarContent> content = DecodeCalendarContent(parent.record.content);
          XmlElement nameElement("name", &element);
          nameElement.AddValue(content ? content->name : std::string());
        }
        continue;
      }
      element.AddAttribute("act", access.owned ? ActOf(sid) : 1u);
      element.AddAttributeFlag("ro", access.readOnly);
      if (kind == RecordKind::kCalendar) {
        element.AddAttributeFlag("hide", access.hideDetails);
        element.AddAttributeFlag("own", access.owned);
        CalendarContent content =
            DecodeCalendarContent(parent.record.content).value_or(CalendarContent());
        // A subscriber must never take a shared calendar for its default one.
        uint32_t color = access.owned ? content.color : content.color & ~kDefaultCalendarColorBit;
        WriteCalendarChildren(element, content, color);
      } else {
        element.AddAttributeFlag("own", access.owned);
        WriteCategoryChildren(
            element, DecodeCategoryContent(parent.record.content).value_or(CategoryContent()));
      }
    }
  }

  void WriteChildren(XmlElement& root, RecordKind kind) {
    // Each child with its links to the parents of the view, gathered parent by
    // parent in ascending order: the order in which LinksOf lists them.
    std::map<uint32_t, std::vector<StoredLink>> children;
    for (const auto& [sid, parent] : m_parents) {
      for (const StoredLink& link : m_storage.LinksTo(kind, sid)) {
        children[link.childSid].push_back(link);
      }
    }
    if (kind == RecordKind::kContact) {
      for (const StoredRecord& record : m_storage.RecordsOwnedBy(kind, m_request.account)) {
        children[record.sid];
      }
    }
    // Ascending server ids put the events that repeat exceptions are cut from
    // before the exceptions.
    for (auto& [sid, links] : children) {
      std::optional<StoredRecord> record = m_storage.FindRecord(kind, sid);
      if (!record) continue;
      // Links outside the view change nothing in an event; a contact's tell
      // whether it is filed at all.
      if (kind == RecordKind::kContact) links = m_storage.LinksOf(kind, sid);
      WriteChild(root, *record, links);
    }
  }

  // links: the record's links, at least all of those to the view's parents,
  // in ascending parent order.
  void WriteChild(XmlElement& root, const StoredRecord& record,
                  const std::vector<StoredLink>& links) {
    std::vector<ViewLink> visible;
    std::vector<ViewLink> removed;
    bool viewed = false;
    bool linked = false;
    bool allHidden = true;
    uint32_t lastSeen = 0;
    uint32_t grantVersion = 0;
    for (const StoredLink& link : links) {
      linked = linked || !link.deleted;
      auto found = m_parents.find(link.parentSid);
      if (found == m_parents.end()) continue;
      const ParentAccess& access = found->second.access;
      viewed = true;
      lastSeen = std::max(lastSeen, link.version);
      if (!access.visible) {
        lastSeen = std::max(lastSeen, access.viewVersion);
      } else if (!link.deleted) {
        visible.push_back(ViewLink{link.parentSid, std::max(link.version, access.grantVersion)});
        grantVersion = std::max(grantVersion, access.grantVersion);
        allHidden = allHidden && !access.owned && access.hideDetails;
      } else if (link.version > m_request.version) {
        removed.push_back(ViewLink{link.parentSid, link.version});
      }
    }
    bool ownUnfiled =
        record.kind == RecordKind::kContact && !linked && record.owner == m_request.account;
    if (record.deleted) {
      bool seen = viewed || (ownUnfiled && links.empty());
      if (!m_full && seen && Changed(record.sid, record.version)) {
        WriteTombstone(root, record, record.version);
      }
      return;
    }
    if (visible.empty() && !ownUnfiled) {
      // Left this account's view (unlinked or unshared): gone for it.
      if (!m_full && viewed && lastSeen > m_request.version) {
        WriteTombstone(root, record, lastSeen);
      }
      return;
    }
    uint32_t viewVersion = std::max(record.version, grantVersion);
    bool changed = Changed(record.sid, viewVersion) || !removed.empty();
    for (const ViewLink& link : visible) changed = changed || link.version > m_request.version;
    if (!m_full && !changed) return;
    if (record.kind == RecordKind::kEvent) {
      WriteEvent(root, record, links, viewVersion, visible, removed, allHidden && !visible.empty());
    } else {
      WriteContact(root, record, viewVersion, visible);
    }
  }

  void WriteTombstone(XmlElement& root, const StoredRecord& record, uint32_t version) {
    XmlElement element(record.kind == RecordKind::kEvent ? "event" : "contact", &root);
    element.AddAttribute("sid", record.sid);
    element.AddAttribute("ver", version);
    element.AddAttribute("act", 3u);
  }

  void WriteEvent(XmlElement& root, const StoredRecord& record,
                  const std::vector<StoredLink>& links, uint32_t viewVersion,
                  const std::vector<ViewLink>& visible, std::vector<ViewLink> removed,
                  bool hidden) {
    EventContent content = DecodeEventContent(record.content).value_or(EventContent());
    if (hidden) {
      // Hidden details: a placeholder, which a writer could only send back.
      content.name = kHiddenEventName;
      content.note.clear();
      content.buttonLabel.clear();
      content.desktopUrl.clear();
      content.wirelessUrl.clear();
      content.sponsor.clear();
      content.webText.clear();
    }
    {
      XmlElement element("event", &root);
      element.AddAttribute("sid", record.sid);
      if (record.cloneOf != 0) element.AddAttribute("cid", record.cloneOf);
      element.AddAttribute("lid", LidOf(record.sid));
      element.AddAttribute("ver", viewVersion);
      element.AddAttribute("act", 0u);
      WriteEventChildren(element, content);
      for (const ViewLink& link : visible) WriteLink(element, link.parentSid, link.version);
    }
    if (record.cloneOf != 0) {
      // The client copies every link of the original into a new exception;
      // name the ones this exception lacks. A calendar the exception has a
      // link of its own to, live or removed, is not one of them: its removal
      // was named when it happened, and naming it again as new with each
      // change of the exception would take the exception out of that calendar
      // on a client that has just put it back.
      std::set<uint32_t> own;
      for (const StoredLink& link : links) own.insert(link.parentSid);
      for (const StoredLink& link : m_storage.LinksOf(RecordKind::kEvent, record.cloneOf)) {
        auto found = m_parents.find(link.parentSid);
        if (link.deleted || found == m_parents.end() || !found->second.access.visible) continue;
        if (own.count(link.parentSid) == 0)
          removed.push_back(ViewLink{link.parentSid, viewVersion});
      }
    }
    if (removed.empty()) return;
    XmlElement element("event", &root);
    element.AddAttribute("sid", record.sid);
    element.AddAttribute("ver", viewVersion);
    element.AddAttribute("act", 5u);
    for (const ViewLink& link : removed) WriteLink(element, link.parentSid, link.version);
  }

  void WriteContact(XmlElement& root, const StoredRecord& record, uint32_t viewVersion,
                    const std::vector<ViewLink>& visible) {
    ContactContent content = DecodeContactContent(record.content).value_or(ContactContent());
    {
      XmlElement element("contact", &root);
      element.AddAttribute("sid", record.sid);
      element.AddAttribute("lid", LidOf(record.sid));
      element.AddAttribute("ver", viewVersion);
      element.AddAttribute("act", ActOf(record.sid));
      element.AddAttribute("flg", content.flags);
      element.AddAttribute("opt", content.options);
      element.AddAttribute("ofs", content.offset);
      WriteContactData(element, content);
    }
    XmlElement element("contact", &root);
    element.AddAttribute("sid", record.sid);
    element.AddAttribute("ver", viewVersion);
    element.AddAttribute("act", 4u);
    if (visible.empty()) {
      WriteLink(element, 0, viewVersion);  // unfiled
    } else {
      WriteLink(element, visible.front().parentSid, visible.front().version);
    }
  }

  void WriteClicks(XmlElement& root) {
    if (m_outcome.clicks.empty()) return;
    XmlElement orvel("orvel", &root);
    for (uint32_t eid : m_outcome.clicks) {
      XmlElement click("click", &orvel);
      click.AddAttribute("eid", eid);
    }
  }

  void WriteConflicts(XmlElement& root) {
    for (const ConflictReport& conflict : m_outcome.conflicts) {
      XmlElement element("conflict", &root);
      element.AddAttribute("ctyp", static_cast<uint32_t>(conflict.kind));
      element.AddAttribute("act", conflict.act);
      element.AddAttribute("cerr", conflict.cerr);
      element.AddAttribute("lid", conflict.lid);
      element.AddAttribute("sid", conflict.sid);
    }
  }

  Storage& m_storage;
  const AnswerRequest& m_request;
  const RequestOutcome& m_outcome;
  bool m_full = false;
  std::map<uint32_t, ViewParent> m_parents;
};

}  // namespace

std::string WriteSyncAnswer(Storage& storage, const AnswerRequest& request,
                            const RequestOutcome& outcome) {
  return AnswerWriter(storage, request, outcome).Write();
}

std::string FailureAnswer() {
  XmlElement root("tandroresp", nullptr);
  root.AddAttributeFlag("sts", false);
  return root.Query();
}

}  // namespace brontel::server
