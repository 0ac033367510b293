// Archive: the library's binary stored form, read and written byte for byte.
//
// An Archive either stores into a ByteSink (through a 64 KiB buffer) or loads
// from a span of bytes. Loading never trusts its input: every length, count and
// object reference is checked against what remains and what was read, and any
// fault ends the read with an ArchiveError carrying a status and a byte offset.
//
// Byte layout (all integers little-endian):
//   BYTE 1, WORD 2, DWORD 4 bytes; a flag is the character '+' (0x2B) or '-'
//   (0x2D), and reads as set for anything but '-'.
//   string:  len < 0xFF: BYTE len | else 0xFF, WORD len (len < 0xFFFF)
//            | else 0xFF, WORD 0xFFFF, DWORD len; then the bytes, no terminator.
//   object record, tag WORD first:
//     0x0000                              null object
//     0xFFFF, WORD schema, WORD n, name[n] first object of a new class, then body
//     0x8000 | class index                 object of a class already named, then body
//     index (< 0x7FFF)                     the object already read with that index
//     0x7FFF, DWORD x                      large form of the two above: x is
//                                          0x80000000 | class index, or an object index
//   One counter per archive numbers classes and objects from 1 in the order they
//   first occur: a new class takes the next index when its name is written, then
//   the object takes the next index before its body, so nested objects can refer
//   back to an enclosing one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "brontel/platform/serializable.h"

namespace brontel {

enum class ArchiveStatus : uint32_t {
  kOk = 0,
  kEndOfData,     // the bytes end inside a value
  kBadLength,     // a string or name longer than what remains
  kBadCount,      // a negative count, or more items than the bytes can hold
  kUnknownClass,  // a class name that no registered class answers to
  kBadReference,  // a reference to a class or object not read, or not shareable
  kWrongClass,    // an object of a class the reader cannot use here
  kTooDeep,       // objects nested deeper than kMaxObjectNesting
  kBadValue,      // a value outside its allowed range
  kWriteFailed,   // the sink refused bytes
  kIoError,       // the file could not be opened or read
  kNotFound,      // the file does not exist
};

// Short English name of a status, for messages.
const char* ArchiveStatusName(ArchiveStatus status);

class ArchiveError : public std::runtime_error {
 public:
  ArchiveError(ArchiveStatus status, uint64_t offset, const std::string& what);
  ArchiveStatus status() const { return m_status; }
  uint64_t offset() const { return m_offset; }

 private:
  ArchiveStatus m_status;
  uint64_t m_offset;
};

// Destination of stored bytes.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Returns false when the bytes could not be taken (the archive then fails).
  virtual bool Append(const uint8_t* data, size_t size) = 0;
};

// Collects stored bytes in memory.
class StringSink : public ByteSink {
 public:
  bool Append(const uint8_t* data, size_t size) override;
  const std::string& contents() const { return m_contents; }

 private:
  std::string m_contents;
};

class Archive {
 public:
  static constexpr uint32_t kNoSchema = 0xFFFFFFFF;
  static constexpr int kMaxObjectNesting = 1000;
  static constexpr size_t kBufferSize = 64 * 1024;

  // A storing archive; Flush() (or the destructor) passes buffered bytes on.
  explicit Archive(ByteSink& sink);
  // A loading archive over bytes that must outlive it.
  explicit Archive(std::string_view bytes);
  // The bytes must outlive the archive; a temporary string would not.
  explicit Archive(std::string&& bytes) = delete;
  ~Archive();
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;

  bool IsStoring() const { return m_sink != nullptr; }
  bool IsLoading() const { return m_sink == nullptr; }

  // Bytes written so far (storing) or read so far (loading).
  uint64_t Position() const;
  // Bytes left to read.
  size_t Remaining() const { return m_input.size() - m_readPos; }

  // Passes buffered bytes to the sink. Throws ArchiveError on a refused write.
  void Flush();

  // Fixed-size values go straight into the buffer while it has room.
  void WriteByte(uint8_t v) {
    if (m_used < kBufferSize) {
      m_buffer[m_used++] = v;
    } else {
      WriteBytes(&v, 1);
    }
  }
  void WriteWord(uint16_t v) {
    const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    WriteFixed(b);
  }
  void WriteDword(uint32_t v) {
    const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                          static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    WriteFixed(b);
  }
  void WriteInt(int32_t v) { WriteDword(static_cast<uint32_t>(v)); }
  void WriteFlag(bool v) { WriteByte(v ? '+' : '-'); }
  void WriteBytes(const void* data, size_t size);
  void WriteString(std::string_view s);

  uint8_t ReadByte() {
    Need(1);
    return static_cast<uint8_t>(m_input[m_readPos++]);
  }
  uint16_t ReadWord() {
    Need(2);
    const auto* b = reinterpret_cast<const uint8_t*>(m_input.data() + m_readPos);
    m_readPos += 2;
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
  }
  uint32_t ReadDword() {
    Need(4);
    const auto* b = reinterpret_cast<const uint8_t*>(m_input.data() + m_readPos);
    m_readPos += 4;
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
  }
  int32_t ReadInt() { return static_cast<int32_t>(ReadDword()); }
  bool ReadFlag() { return ReadByte() != '-'; }
  void ReadBytes(void* data, size_t size);
  std::string ReadString();
  // Reads a signed 32-bit count and checks that count items of at least
  // minBytesEach bytes fit in what remains.
  int32_t ReadCount(size_t minBytesEach);

  // Writes obj as an object record (null writes the null tag). An object already
  // written to this archive is written as a back-reference, without its body.
  void WriteObject(const Serializable* obj);

  // Reads one object record. Returns null for the null tag; otherwise the object
  // with one reference for the caller (a new object, or a shared one that was
  // read earlier). The caller owns that reference: it calls ReleaseReference()
  // to drop it.
  Serializable* ReadObject();

  // Schema of the object whose body is being read; kNoSchema while storing or
  // outside any object body.
  uint32_t GetObjectSchema() const { return m_schema; }

  // Throws ArchiveError(status) at the current position.
  [[noreturn]] void Fail(ArchiveStatus status, const std::string& what) const;

 private:
  // One numbered entry of a loading archive: a class, or an object with its
  // class. Objects that are not shared are never dereferenced through the
  // table, since their owner may have freed them.
  struct LoadEntry {
    const ClassInfo* cls = nullptr;
    uint32_t schema = 0;
    Serializable* obj = nullptr;
    bool isClass = false;
    bool shared = false;
  };

  // Ends the read with kEndOfData unless n more bytes remain.
  void Need(size_t n) {
    if (n > Remaining()) FailNeed(n);
  }
  [[noreturn]] void FailNeed(size_t n) const;
  template <size_t N>
  void WriteFixed(const uint8_t (&bytes)[N]) {
    if (kBufferSize - m_used >= N) {
      std::memcpy(m_buffer.get() + m_used, bytes, N);
      m_used += N;
    } else {
      WriteBytes(bytes, N);
    }
  }
  void WriteIndexTag(uint32_t index, bool isClass);

  ByteSink* m_sink = nullptr;
  // kBufferSize bytes when storing, m_used of them not yet handed to the sink.
  std::unique_ptr<uint8_t[]> m_buffer;
  size_t m_used = 0;
  uint64_t m_flushed = 0;
  std::unordered_map<const void*, uint32_t> m_storeIndex;
  uint32_t m_nextIndex = 1;

  std::string_view m_input;
  size_t m_readPos = 0;
  std::vector<LoadEntry> m_loadTable;
  uint32_t m_schema = kNoSchema;
  int m_depth = 0;
  mutable bool m_failed = false;
};

// Reads an object record and requires an object of class T (or null).
// Throws ArchiveError(kWrongClass) for an object of another class.
template <class T>
T* ReadObjectAs(Archive& ar) {
  Serializable* obj = ar.ReadObject();
  if (obj == nullptr) return nullptr;
  T* typed = dynamic_cast<T*>(obj);
  if (typed == nullptr) {
    std::string name = obj->GetClassInfo().name;
    obj->ReleaseReference();
    ar.Fail(ArchiveStatus::kWrongClass, "unexpected object of class " + name);
  }
  return typed;
}

}  // namespace brontel
