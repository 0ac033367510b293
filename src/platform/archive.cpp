#include "brontel/platform/archive.h"

#include <algorithm>
#include <cstring>

#include "brontel/platform/format.h"

namespace brontel {
namespace {

constexpr uint16_t kNullTag = 0x0000;
constexpr uint16_t kNewClassTag = 0xFFFF;
constexpr uint16_t kClassTag = 0x8000;
constexpr uint16_t kBigObjectTag = 0x7FFF;
constexpr uint32_t kBigClassTag = 0x80000000;

}  // namespace

const char* ArchiveStatusName(ArchiveStatus status) {
  switch (status) {
    case ArchiveStatus::kOk:
      return "ok";
    case ArchiveStatus::kEndOfData:
      return "unexpected end of data";
    case ArchiveStatus::kBadLength:
      return "length beyond end of data";
    case ArchiveStatus::kBadCount:
      return "bad count";
    case ArchiveStatus::kUnknownClass:
      return "unknown class";
    case ArchiveStatus::kBadReference:
      return "bad object reference";
    case ArchiveStatus::kWrongClass:
      return "wrong class";
    case ArchiveStatus::kTooDeep:
      return "objects nested too deep";
    case ArchiveStatus::kBadValue:
      return "bad value";
    case ArchiveStatus::kWriteFailed:
      return "write failed";
    case ArchiveStatus::kIoError:
      return "file could not be read";
    case ArchiveStatus::kNotFound:
      return "file not found";
  }
  return "unknown status";
}

ArchiveError::ArchiveError(ArchiveStatus status, uint64_t offset, const std::string& what)
    : std::runtime_error(what), m_status(status), m_offset(offset) {}

bool StringSink::Append(const uint8_t* data, size_t size) {
  m_contents.append(reinterpret_cast<const char*>(data), size);
  return true;
}

Archive::Archive(ByteSink& sink)
    : m_sink(&sink), m_buffer(std::make_unique_for_overwrite<uint8_t[]>(kBufferSize)) {}

Archive::Archive(std::string_view bytes) : m_input(bytes) {
  m_loadTable.emplace_back();  // index 0 is the null object
}

Archive::~Archive() {
  if (IsStoring()) {
    try {
      Flush();
    } catch (const ArchiveError&) {
      // A destructor cannot report; callers that care call Flush() themselves.
    }
  }
  // Objects of a failed read may hold each other in cycles that no owner will
  // ever break: make them let go of each other first.
  if (m_failed) {
    for (LoadEntry& entry : m_loadTable) {
      if (entry.shared) entry.obj->DropReferences();
    }
  }
  for (LoadEntry& entry : m_loadTable) {
    if (entry.shared) entry.obj->ReleaseReference();
  }
}

uint64_t Archive::Position() const {
  return IsStoring() ? m_flushed + m_used : m_readPos;
}

void Archive::Fail(ArchiveStatus status, const std::string& what) const {
  m_failed = true;
  throw ArchiveError(
      status, Position(),
      Format("%s at offset %llu", what.c_str(), static_cast<unsigned long long>(Position())));
}

void Archive::Flush() {
  if (!IsStoring() || m_used == 0) return;
  if (!m_sink->Append(m_buffer.get(), m_used)) {
    Fail(ArchiveStatus::kWriteFailed, "unable to write archive");
  }
  m_flushed += m_used;
  m_used = 0;
}

void Archive::WriteBytes(const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    if (m_used == kBufferSize) Flush();
    size_t n = std::min(size, kBufferSize - m_used);
    std::memcpy(m_buffer.get() + m_used, p, n);
    m_used += n;
    p += n;
    size -= n;
  }
}

void Archive::WriteString(std::string_view s) {
  if (s.size() < 0xFF) {
    WriteByte(static_cast<uint8_t>(s.size()));
  } else if (s.size() < 0xFFFF) {
    WriteByte(0xFF);
    WriteWord(static_cast<uint16_t>(s.size()));
  } else {
    WriteByte(0xFF);
    WriteWord(0xFFFF);
    WriteDword(static_cast<uint32_t>(s.size()));
  }
  WriteBytes(s.data(), s.size());
}

void Archive::FailNeed(size_t n) const {
  Fail(ArchiveStatus::kEndOfData, Format("need %zu bytes, %zu left", n, Remaining()));
}

void Archive::ReadBytes(void* data, size_t size) {
  Need(size);
  if (size > 0) std::memcpy(data, m_input.data() + m_readPos, size);
  m_readPos += size;
}

std::string Archive::ReadString() {
  uint32_t length = ReadByte();
  if (length == 0xFF) {
    length = ReadWord();
    if (length == 0xFFFF) length = ReadDword();
  }
  if (length > Remaining()) {
    Fail(ArchiveStatus::kBadLength, Format("string of %u bytes, %zu left", length, Remaining()));
  }
  std::string s(m_input.substr(m_readPos, length));
  m_readPos += length;
  return s;
}

int32_t Archive::ReadCount(size_t minBytesEach) {
  int32_t count = ReadInt();
  if (count < 0 ||
      (minBytesEach > 0 && static_cast<uint64_t>(count) * minBytesEach > Remaining())) {
    Fail(ArchiveStatus::kBadCount, Format("count %d with %zu bytes left", count, Remaining()));
  }
  return count;
}

void Archive::WriteIndexTag(uint32_t index, bool isClass) {
  if (index < kBigObjectTag) {
    WriteWord(static_cast<uint16_t>(isClass ? (kClassTag | index) : index));
  } else {
    WriteWord(kBigObjectTag);
    WriteDword(isClass ? (kBigClassTag | index) : index);
  }
}

void Archive::WriteObject(const Serializable* obj) {
  if (obj == nullptr) {
    WriteWord(kNullTag);
    return;
  }
  auto known = m_storeIndex.find(obj);
  if (known != m_storeIndex.end()) {
    WriteIndexTag(known->second, false);
    return;
  }
  const ClassInfo& cls = obj->GetClassInfo();
  auto knownClass = m_storeIndex.find(&cls);
  if (knownClass != m_storeIndex.end()) {
    WriteIndexTag(knownClass->second, true);
  } else {
    size_t nameLength = std::strlen(cls.name);
    WriteWord(kNewClassTag);
    WriteWord(cls.schema);
    WriteWord(static_cast<uint16_t>(nameLength));
    WriteBytes(cls.name, nameLength);
    m_storeIndex.emplace(&cls, m_nextIndex++);
  }
  m_storeIndex.emplace(obj, m_nextIndex++);
  const_cast<Serializable*>(obj)->Serialize(*this);
}

Serializable* Archive::ReadObject() {
  uint16_t tag = ReadWord();
  uint32_t objTag;
  if (tag == kBigObjectTag) {
    objTag = ReadDword();
  } else {
    objTag = (static_cast<uint32_t>(tag & kClassTag) << 16) | (tag & ~kClassTag);
  }

  const ClassInfo* cls = nullptr;
  uint32_t schema = 0;
  if (tag == kNewClassTag) {
    schema = ReadWord();
    uint16_t nameLength = ReadWord();
    if (nameLength > Remaining()) {
      Fail(ArchiveStatus::kBadLength, Format("class name of %u bytes", nameLength));
    }
    std::string_view name = m_input.substr(m_readPos, nameLength);
    m_readPos += nameLength;
    cls = ClassRegistry::Find(name);
    if (cls == nullptr) {
      Fail(ArchiveStatus::kUnknownClass, "unknown class \"" + std::string(name) + "\"");
    }
    LoadEntry entry;
    entry.cls = cls;
    entry.schema = schema;
    entry.isClass = true;
    m_loadTable.push_back(entry);
  } else if (objTag & kBigClassTag) {
    uint32_t index = objTag & ~kBigClassTag;
    if (index >= m_loadTable.size() || !m_loadTable[index].isClass) {
      Fail(ArchiveStatus::kBadReference, Format("class index %u not defined", index));
    }
    cls = m_loadTable[index].cls;
    schema = m_loadTable[index].schema;
  } else {
    if (objTag == 0) return nullptr;
    if (objTag >= m_loadTable.size() || m_loadTable[objTag].isClass) {
      Fail(ArchiveStatus::kBadReference, Format("object index %u not read", objTag));
    }
    LoadEntry& entry = m_loadTable[objTag];
    if (!entry.shared) {
      // The object has a single owner already; handing it out again would
      // give it two.
      Fail(ArchiveStatus::kBadReference,
           Format("object index %u of class %s cannot be shared", objTag, entry.cls->name));
    }
    entry.obj->AddReference();
    return entry.obj;
  }

  if (m_depth >= kMaxObjectNesting) Fail(ArchiveStatus::kTooDeep, "objects nested too deep");
  Serializable* obj = cls->create();
  LoadEntry entry;
  entry.cls = cls;
  entry.schema = schema;
  entry.obj = obj;
  entry.shared = obj->IsShared();
  if (entry.shared) obj->AddReference();  // the archive's own reference
  size_t entryIndex = m_loadTable.size();
  m_loadTable.push_back(entry);

  uint32_t outerSchema = m_schema;
  m_schema = schema;
  ++m_depth;
  try {
    obj->Serialize(*this);
  } catch (...) {
    m_failed = true;
    --m_depth;
    m_schema = outerSchema;
    if (!entry.shared) m_loadTable[entryIndex].obj = nullptr;
    obj->ReleaseReference();
    throw;
  }
  --m_depth;
  m_schema = outerSchema;
  return obj;
}

}  // namespace brontel
