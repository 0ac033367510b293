#include "brontel/host/web_content.h"

#include "brontel/platform/format.h"

namespace brontel {

BRONTEL_IMPLEMENT_SERIAL(WebContentHolder, "WebContentHolder");

void WebContentHolder::SerializeFields(Archive& ar) {
  std::string* texts[] = {&m_buttonLabel, &m_desktopURL, &m_palm7URL, &m_sponsor, &m_text};
  if (ar.IsStoring()) {
    for (const std::string* t : texts) ar.WriteString(*t);
    ar.WriteByte(m_useMe);
  } else {
    for (std::string* t : texts) *t = ar.ReadString();
    m_useMe = ar.ReadByte();
  }
}

WebContent::WebContent() : Handle(new WebContentHolder()) {}

bool WebContent::IsEmpty() const {
  const WebContentHolder* h = Live();
  return h->m_desktopURL.empty() && h->m_palm7URL.empty();
}

bool WebContent::Equal(const WebContent& other) const {
  const WebContentHolder* a = Live();
  RequireLiveOther(other);
  const WebContentHolder* b = other.m_holder;
  return a->m_buttonLabel == b->m_buttonLabel && a->m_desktopURL == b->m_desktopURL &&
         a->m_palm7URL == b->m_palm7URL && a->m_sponsor == b->m_sponsor && a->m_text == b->m_text;
}

void WebContent::Copy(const WebContent& other) {
  WebContentHolder* a = Live();
  RequireLiveOther(other);
  const WebContentHolder* b = other.m_holder;
  a->m_buttonLabel = b->m_buttonLabel;
  a->m_desktopURL = b->m_desktopURL;
  a->m_palm7URL = b->m_palm7URL;
  a->m_sponsor = b->m_sponsor;
  a->m_text = b->m_text;
  a->m_useMe = b->m_useMe;
}

WebContent WebContent::Clone() const {
  WebContent copy;
  copy.Copy(*this);
  return copy;
}

void WebContent::SerializeQuick(Archive& ar, uint32_t version) {
  if (ar.IsStoring()) {
    Live()->SerializeFields(ar);
    return;
  }
  // Read into a fresh holder and adopt it only when the read succeeded.
  WebContent fresh;
  if (version != Archive::kNoSchema && version > 6) fresh.Live()->SerializeFields(ar);
  *this = fresh;
}

std::string WebContent::GetDisplayString() const {
  if (IsEmpty()) return std::string();
  const WebContentHolder* h = Live();
  return Format("web content:  %s %s %s %s %s %s", h->m_useMe ? "+" : "-", h->m_desktopURL.c_str(),
                h->m_palm7URL.c_str(), h->m_text.c_str(), h->m_sponsor.c_str(),
                h->m_buttonLabel.c_str());
}

}  // namespace brontel
