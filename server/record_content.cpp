#include "server/record_content.h"

namespace brontel::server {

namespace {

class ByteWriter {
 public:
  void Number(uint32_t value, int32_t bytes) {
    for (int32_t i = 0; i < bytes; ++i) m_out += static_cast<char>((value >> (8 * i)) & 0xFF);
  }
  void Text(const std::string& text) {
    Number(static_cast<uint32_t>(text.size()), 4);
    m_out += text;
  }
  std::string Take() { return std::move(m_out); }

 private:
  std::string m_out;
};

// Reads what ByteWriter wrote; any read past the end marks the reader failed
// and yields zero or empty values from then on.
class ByteReader {
 public:
  explicit ByteReader(const std::string& bytes) : m_bytes(bytes) {}

  uint32_t Number(int32_t bytes) {
    if (!m_ok || m_bytes.size() - m_position < static_cast<size_t>(bytes)) {
      m_ok = false;
      return 0;
    }
    uint32_t value = 0;
    for (int32_t i = 0; i < bytes; ++i) {
      value |= static_cast<uint32_t>(static_cast<uint8_t>(m_bytes[m_position++])) << (8 * i);
    }
    return value;
  }
  uint8_t Byte() { return static_cast<uint8_t>(Number(1)); }
  uint16_t Short() { return static_cast<uint16_t>(Number(2)); }
  bool Flag() { return Number(1) != 0; }
  std::string Text() {
    uint32_t length = Number(4);
    if (!m_ok || m_bytes.size() - m_position < length) {
      m_ok = false;
      return std::string();
    }
    std::string text = m_bytes.substr(m_position, length);
    m_position += length;
    return text;
  }
  // True when every read succeeded and nothing is left over.
  bool Done() const { return m_ok && m_position == m_bytes.size(); }

 private:
  const std::string& m_bytes;
  size_t m_position = 0;
  bool m_ok = true;
};

template <typename T>
std::optional<T> Finish(const ByteReader& reader, T value) {
  if (!reader.Done()) return std::nullopt;
  return value;
}

}  // namespace

std::string EncodeContent(const CalendarContent& content) {
  ByteWriter w;
  w.Text(content.name);
  w.Text(content.description);
  w.Number(content.color, 4);
  w.Number(content.readOnly ? 1 : 0, 1);
  w.Number(content.hideDetails ? 1 : 0, 1);
  return w.Take();
}

std::optional<CalendarContent> DecodeCalendarContent(const std::string& bytes) {
  ByteReader r(bytes);
  CalendarContent c;
  c.name = r.Text();
  c.description = r.Text();
  c.color = r.Number(4);
  c.readOnly = r.Flag();
  c.hideDetails = r.Flag();
  return Finish(r, std::move(c));
}

std::string EncodeContent(const EventContent& content) {
  ByteWriter w;
  w.Text(content.name);
  w.Text(content.note);
  w.Number(content.date, 2);
  w.Number(content.startTime, 2);
  w.Number(content.endTime, 2);
  w.Number(content.repeatType, 1);
  w.Number(content.repeatEnd, 2);
  w.Number(content.repeatFrequency, 1);
  w.Number(content.repeatOn, 1);
  w.Number(content.repeatStartOfWeek, 1);
  w.Number(static_cast<uint32_t>(content.exceptions.size()), 4);
  for (uint16_t date : content.exceptions) w.Number(date, 2);
  w.Text(content.buttonLabel);
  w.Text(content.desktopUrl);
  w.Text(content.wirelessUrl);
  w.Text(content.sponsor);
  w.Text(content.webText);
  return w.Take();
}

std::optional<EventContent> DecodeEventContent(const std::string& bytes) {
  ByteReader r(bytes);
  EventContent c;
  c.name = r.Text();
  c.note = r.Text();
  c.date = r.Short();
  c.startTime = r.Short();
  c.endTime = r.Short();
  c.repeatType = r.Byte();
  c.repeatEnd = r.Short();
  c.repeatFrequency = r.Byte();
  c.repeatOn = r.Byte();
  c.repeatStartOfWeek = r.Byte();
  uint32_t count = r.Number(4);
  // Each exception takes two bytes, so a count beyond the bytes left is damage.
  if (count > bytes.size() / 2) return std::nullopt;
  for (uint32_t i = 0; i < count; ++i) c.exceptions.push_back(r.Short());
  c.buttonLabel = r.Text();
  c.desktopUrl = r.Text();
  c.wirelessUrl = r.Text();
  c.sponsor = r.Text();
  c.webText = r.Text();
  return Finish(r, std::move(c));
}

std::string EncodeContent(const CategoryContent& content) {
  ByteWriter w;
  w.Text(content.name);
  w.Text(content.description);
  w.Number(content.color, 4);
  w.Number(content.readOnly ? 1 : 0, 1);
  return w.Take();
}

std::optional<CategoryContent> DecodeCategoryContent(const std::string& bytes) {
  ByteReader r(bytes);
  CategoryContent c;
  c.name = r.Text();
  c.description = r.Text();
  c.color = r.Number(4);
  c.readOnly = r.Flag();
  return Finish(r, std::move(c));
}

std::string EncodeContent(const ContactContent& content) {
  ByteWriter w;
  w.Number(content.flags, 4);
  w.Number(content.options, 4);
  w.Number(content.offset, 1);
  for (const std::string& datum : content.data) w.Text(datum);
  return w.Take();
}

std::optional<ContactContent> DecodeContactContent(const std::string& bytes) {
  ByteReader r(bytes);
  ContactContent c;
  c.flags = r.Number(4);
  c.options = r.Number(4);
  c.offset = r.Byte();
  for (std::string& datum : c.data) datum = r.Text();
  return Finish(r, std::move(c));
}

}  // namespace brontel::server
