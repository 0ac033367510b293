// WebContent: the sponsored web content an event can carry.
//
// A handle (shared holder) with a button label, a desktop address, a handheld
// address, the sponsor, a text and a use-me flag. Content without either address
// is empty. Every operation requires a live holder.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/core/handle.h"

namespace brontel {

class WebContentHolder : public Holder {
  BRONTEL_DECLARE_SERIAL()

 public:
  // Stored form: button label, desktop address, handheld address, sponsor, text
  // (archive strings), use-me flag (one byte).
  void SerializeFields(Archive& ar);
  void Serialize(Archive& ar) override { SerializeFields(ar); }

  std::string m_buttonLabel;
  std::string m_desktopURL;
  std::string m_palm7URL;
  std::string m_sponsor;
  std::string m_text;
  uint8_t m_useMe = 0;
};

class WebContent : public Handle<WebContentHolder> {
 public:
  WebContent();
  virtual ~WebContent() = default;
  WebContent(const WebContent&) = default;
  WebContent& operator=(const WebContent&) = default;
  static WebContent CreateEmpty() { return WebContent(); }

  const std::string& GetButtonLabel() const { return Live()->m_buttonLabel; }
  void SetButtonLabel(const std::string& v) { Live()->m_buttonLabel = v; }
  const std::string& GetDesktopURL() const { return Live()->m_desktopURL; }
  void SetDesktopURL(const std::string& v) { Live()->m_desktopURL = v; }
  // The address for the wireless handheld.
  const std::string& GetPalm7URL() const { return Live()->m_palm7URL; }
  void SetPalm7URL(const std::string& v) { Live()->m_palm7URL = v; }
  const std::string& GetSponsor() const { return Live()->m_sponsor; }
  void SetSponsor(const std::string& v) { Live()->m_sponsor = v; }
  const std::string& GetText() const { return Live()->m_text; }
  void SetText(const std::string& v) { Live()->m_text = v; }
  uint8_t UseMe() const { return Live()->m_useMe; }
  void SetUseMe(uint8_t v) { Live()->m_useMe = v; }

  // Both addresses are empty.
  bool IsEmpty() const;
  // The five texts are equal; the use-me flag is not compared.
  bool Equal(const WebContent& other) const;
  void Copy(const WebContent& other);
  WebContent Clone() const;

  // Storing writes the stored form. Loading first lets go of the holder (other
  // handles keep their values) and reads into a fresh one; only format versions
  // above 6 (and not 0xFFFFFFFF) have the fields, older ones give empty content.
  void SerializeQuick(Archive& ar, uint32_t version);

  // Empty for empty content; else "web content:  %s %s %s %s %s %s" with '+' or
  // '-' for use-me, the desktop address, the handheld address, text, sponsor
  // and button label.
  std::string GetDisplayString() const;
};

}  // namespace brontel
