// The contents of the four kinds of records the server keeps (calendars,
// events, categories, contacts), exactly as clients describe them, with a
// compact byte form for storage. Contents are compared and echoed as whole
// values: two contents are the same record text exactly when their byte forms
// are equal.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brontel::server {

// The record kinds, numbered as the "ctyp" of a conflict element.
enum class RecordKind : uint8_t { kCalendar = 1, kEvent = 2, kCategory = 3, kContact = 4 };

// The two data families; a request's "typ" of 2 selects contacts.
enum class Family : uint8_t { kCalendars = 1, kContacts = 2 };

// Bit of a calendar colour that marks the account's default calendar.
inline constexpr uint32_t kDefaultCalendarColorBit = 0x1000000;
// Number of data fields of a contact.
inline constexpr int32_t kContactDatumCount = 19;

struct CalendarContent {
  std::string name;
  std::string description;
  uint32_t color = 0;
  // The owner's grant: what every subscriber gets at most.
  bool readOnly = false;
  bool hideDetails = false;

  bool IsDefault() const { return (color & kDefaultCalendarColorBit) != 0; }
};

struct EventContent {
  std::string name;
  std::string note;
  uint16_t date = 0;
  uint16_t startTime = 0;
  uint16_t endTime = 0;
  uint8_t repeatType = 0;
  uint16_t repeatEnd = 0;
  uint8_t repeatFrequency = 0;
  uint8_t repeatOn = 0;
  uint8_t repeatStartOfWeek = 0;
  std::vector<uint16_t> exceptions;
  std::string buttonLabel;
  std::string desktopUrl;
  std::string wirelessUrl;
  std::string sponsor;
  std::string webText;

  bool HasWeb() const {
    return !buttonLabel.empty() || !desktopUrl.empty() || !wirelessUrl.empty() ||
           !sponsor.empty() || !webText.empty();
  }
};

struct CategoryContent {
  std::string name;
  std::string description;
  uint32_t color = 0;
  bool readOnly = false;
};

struct ContactContent {
  uint32_t flags = 0;
  uint32_t options = 0;
  uint8_t offset = 0;
  std::array<std::string, kContactDatumCount> data;
};

// Byte forms: fixed-width little-endian numbers and length-prefixed texts in
// field order. Decoding a damaged form gives nullopt, never a partial value.
std::string EncodeContent(const CalendarContent& content);
std::string EncodeContent(const EventContent& content);
std::string EncodeContent(const CategoryContent& content);
std::string EncodeContent(const ContactContent& content);
std::optional<CalendarContent> DecodeCalendarContent(const std::string& bytes);
std::optional<EventContent> DecodeEventContent(const std::string& bytes);
std::optional<CategoryContent> DecodeCategoryContent(const std::string& bytes);
std::optional<ContactContent> DecodeContactContent(const std::string& bytes);

}  // namespace brontel::server
