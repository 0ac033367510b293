// What the manager fuzz targets share: read one object record of a holder
// class from hostile bytes, exercise what was read, and check that the stored
// form round-trips. A damaged input must end in an ArchiveError; our own
// stored form must always read back to its end, and after a first rewrite
// (which may normalize what a hostile input held) every rewrite is identical.
#pragma once

#include <string>
#include <string_view>

#include "brontel/platform/archive.h"

namespace brontel::fuzz {

// Releases the reference that ReadObjectAs hands to its caller.
template <class H>
class Read {
 public:
  explicit Read(H* holder) : m_holder(holder) {}
  ~Read() {
    if (m_holder != nullptr) m_holder->ReleaseReference();
  }
  Read(const Read&) = delete;
  Read& operator=(const Read&) = delete;
  H* get() const { return m_holder; }

 private:
  H* m_holder;
};

// Reads one object record of class H; null for the null record.
template <class H>
H* ReadHolder(std::string_view bytes, bool wholeInput) {
  Archive ar(bytes);
  H* holder = ReadObjectAs<H>(ar);
  if (wholeInput && ar.Remaining() != 0) {
    if (holder != nullptr) holder->ReleaseReference();
    __builtin_trap();  // our own stored form must be read to its end
  }
  return holder;
}

inline std::string Store(const Serializable* holder) {
  StringSink sink;
  Archive ar(sink);
  ar.WriteObject(holder);
  ar.Flush();
  return sink.contents();
}

// Reads input as H; on success calls exercise(holder) on it and on two
// rewrites, trapping when a rewrite does not read back or is not stable.
template <class H, class Exercise>
void RoundTrip(std::string_view input, Exercise&& exercise) {
  std::string stored;
  {
    H* first = nullptr;
    try {
      first = ReadHolder<H>(input, false);
    } catch (const ArchiveError&) {
      return;
    }
    Read<H> owner(first);
    if (first == nullptr) return;
    exercise(first);
    stored = Store(first);
  }
  try {
    std::string again;
    {
      Read<H> second(ReadHolder<H>(stored, true));
      if (second.get() == nullptr) __builtin_trap();
      exercise(second.get());
      again = Store(second.get());
    }
    Read<H> third(ReadHolder<H>(again, true));
    if (third.get() == nullptr) __builtin_trap();
    if (Store(third.get()) != again) __builtin_trap();
  } catch (const ArchiveError&) {
    __builtin_trap();  // our own stored form failed to read back
  }
}

}  // namespace brontel::fuzz
