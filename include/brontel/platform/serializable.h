// Objects that an Archive can write and re-create by class name.
//
// Every stored class describes itself with one static ClassInfo (its name, its
// schema and a factory) and registers it in the ClassRegistry, so that a reader
// can create the object named in a stream. Registration is idempotent and must
// happen before a stream naming the class is read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brontel {

class Archive;
class Serializable;

struct ClassInfo {
  const char* name;
  uint16_t schema;
  Serializable* (*create)();
};

// Base of every object stored through Archive::WriteObject/ReadObject.
class Serializable {
 public:
  virtual ~Serializable() = default;
  virtual const ClassInfo& GetClassInfo() const = 0;
  // Writes or reads the object's body; Archive::GetObjectSchema() gives the
  // schema of the record being read.
  virtual void Serialize(Archive& ar) = 0;

  // Ownership while reading. An object that may be named twice in one stream
  // (a shared, reference-counted object) answers true to IsShared; the archive
  // then keeps a reference of its own until it is destroyed, so a later
  // back-reference never names a freed object. Other objects have exactly one
  // owner and a back-reference to them is refused.
  virtual bool IsShared() const { return false; }
  virtual void AddReference() {}
  // Drops one reference; a single-owner object is deleted.
  virtual void ReleaseReference() { delete this; }
  // Lets go of every reference the object holds to other objects. Called on
  // each shared object of a read that failed, whose objects may refer to each
  // other in cycles that nothing else would break.
  virtual void DropReferences() {}
};

// Process-wide map from class name to ClassInfo.
class ClassRegistry {
 public:
  // Adds info; registering the same name again keeps the first entry.
  static void Register(const ClassInfo& info);
  // Returns the class registered under name, or null.
  static const ClassInfo* Find(std::string_view name);
};

}  // namespace brontel

// Declares the class-info members of a stored class; put in the class body.
#define BRONTEL_DECLARE_SERIAL()                              \
 public:                                                      \
  static const ::brontel::ClassInfo kClassInfo;               \
  const ::brontel::ClassInfo& GetClassInfo() const override { \
    return kClassInfo;                                        \
  }

// Defines the class-info of Class under the stored name Name with schema 15.
#define BRONTEL_IMPLEMENT_SERIAL(Class, Name)      \
  const ::brontel::ClassInfo Class::kClassInfo = { \
      Name, 15, []() -> ::brontel::Serializable* { return new Class(); }}
