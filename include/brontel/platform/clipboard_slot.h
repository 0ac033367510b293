// ClipboardSlot: a private clipboard that passes one text per format from one
// of the user's programs to another, kept as a file in a folder only the user
// can enter.
//
// A text is written whole or not at all (temporary file and rename), and it is
// read once: taking it empties the slot, so two readers never both get it.
// The folder is $XDG_RUNTIME_DIR/brontel, or /tmp/brontel-<uid> without a
// runtime folder; a folder that is not the user's own with mode 0700 is not used.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace brontel {

class ClipboardSlot {
 public:
  // The folder of the slots, whether or not it exists yet.
  static std::string Folder();
  // The file that holds the text of format.
  static std::string SlotPath(uint32_t format);

  // Replaces the text held for format. False when the folder cannot be made or
  // is not private, or the file cannot be written.
  static bool Put(uint32_t format, const std::string& text);
  // The text held for format, which leaves the slot empty; nothing when the
  // slot is empty or cannot be read.
  static std::optional<std::string> Take(uint32_t format);
};

}  // namespace brontel
