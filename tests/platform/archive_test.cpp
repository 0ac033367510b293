#include "brontel/platform/archive.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace brontel {
namespace {

// A single-owner object: a value and an optional owned child.
class Thing : public Serializable {
  BRONTEL_DECLARE_SERIAL()

 public:
  void Serialize(Archive& ar) override {
    if (ar.IsStoring()) {
      ar.WriteInt(value);
      ar.WriteObject(child.get());
    } else {
      schemaSeen = ar.GetObjectSchema();
      value = ar.ReadInt();
      child.reset(ReadObjectAs<Thing>(ar));
    }
  }
  int32_t value = 0;
  uint32_t schemaSeen = 0;
  std::unique_ptr<Thing> child;
};
BRONTEL_IMPLEMENT_SERIAL(Thing, "Thing");

// A reference-counted object that may be named twice; it can point at another
// shared object (or at itself).
class Shared : public Serializable {
  BRONTEL_DECLARE_SERIAL()

 public:
  ~Shared() override {
    if (peer != nullptr && peer != this) peer->ReleaseReference();
  }
  bool IsShared() const override { return true; }
  void AddReference() override { ++count; }
  void ReleaseReference() override {
    if (--count == 0) delete this;
  }
  void Serialize(Archive& ar) override {
    if (ar.IsStoring()) {
      ar.WriteDword(value);
      ar.WriteObject(peer);
    } else {
      value = ar.ReadDword();
      Serializable* read = ar.ReadObject();
      peer = read == nullptr ? nullptr : dynamic_cast<Shared*>(read);
      if (read != nullptr && peer == nullptr) {
        read->ReleaseReference();
        ar.Fail(ArchiveStatus::kWrongClass, "peer");
      }
      // A self-reference must not keep the object alive.
      if (peer == this) --count;
    }
  }
  uint32_t value = 0;
  uint32_t count = 1;
  Shared* peer = nullptr;
};
BRONTEL_IMPLEMENT_SERIAL(Shared, "Shared");

class ArchiveTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ClassRegistry::Register(Thing::kClassInfo);
    ClassRegistry::Register(Shared::kClassInfo);
  }

  template <class F>
  static std::string Store(F write) {
    StringSink sink;
    {
      Archive ar(sink);
      write(ar);
    }
    return sink.contents();
  }

  // Runs read over bytes and returns the status it ended with.
  template <class F>
  static ArchiveStatus LoadStatus(const std::string& bytes, F read) {
    try {
      Archive ar(bytes);
      read(ar);
    } catch (const ArchiveError& e) {
      return e.status();
    }
    return ArchiveStatus::kOk;
  }

  static std::string Bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s += static_cast<char>(b);
    return s;
  }
};

TEST_F(ArchiveTest, IntegersAreLittleEndianAndFlagsAreCharacters) {
  std::string bytes = Store([](Archive& ar) {
    ar.WriteByte(0xAB);
    ar.WriteWord(0x1234);
    ar.WriteDword(0xDEADBEEF);
    ar.WriteInt(-2);
    ar.WriteFlag(true);
    ar.WriteFlag(false);
  });
  EXPECT_EQ(bytes,
            Bytes({0xAB, 0x34, 0x12, 0xEF, 0xBE, 0xAD, 0xDE, 0xFE, 0xFF, 0xFF, 0xFF, '+', '-'}));
  Archive ar(bytes);
  EXPECT_EQ(ar.ReadByte(), 0xAB);
  EXPECT_EQ(ar.ReadWord(), 0x1234);
  EXPECT_EQ(ar.ReadDword(), 0xDEADBEEFu);
  EXPECT_EQ(ar.ReadInt(), -2);
  EXPECT_TRUE(ar.ReadFlag());
  EXPECT_FALSE(ar.ReadFlag());
  EXPECT_EQ(ar.Remaining(), 0u);
}

TEST_F(ArchiveTest, AnyFlagByteButMinusReadsAsSet) {
  for (int b : {0, int{'+'}, int{'x'}, 0xFF}) {
    std::string bytes = Bytes({b});
    Archive ar(bytes);
    EXPECT_TRUE(ar.ReadFlag()) << b;
  }
}

TEST_F(ArchiveTest, StringsUseTheThreeLengthPrefixes) {
  struct Case {
    size_t length;
    std::string prefix;
  };
  const Case cases[] = {
      {0, Bytes({0x00})},
      {254, Bytes({0xFE})},
      {255, Bytes({0xFF, 0xFF, 0x00})},
      {0xFFFE, Bytes({0xFF, 0xFE, 0xFF})},
      {0xFFFF, Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00})},
      {70000, Bytes({0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00})},
  };
  for (const Case& c : cases) {
    std::string text(c.length, 'q');
    if (!text.empty()) text[0] = '\0';  // bytes, not C strings
    std::string bytes = Store([&](Archive& ar) { ar.WriteString(text); });
    ASSERT_EQ(bytes.size(), c.prefix.size() + c.length) << c.length;
    EXPECT_EQ(bytes.substr(0, c.prefix.size()), c.prefix) << c.length;
    Archive ar(bytes);
    EXPECT_EQ(ar.ReadString(), text) << c.length;
  }
}

TEST_F(ArchiveTest, ObjectRecordsNameEachClassOnceAndNumberFromOne) {
  Thing first, second;
  first.value = 7;
  second.value = 8;
  std::string bytes = Store([&](Archive& ar) {
    ar.WriteObject(&first);
    ar.WriteObject(&second);
    ar.WriteObject(nullptr);
  });
  // class 1, object 2, object 3: the second object is tagged 0x8000 | 1.
  std::string expected = Bytes({0xFF, 0xFF, 0x0F, 0x00, 0x05, 0x00}) + "Thing" +
                         Bytes({7, 0, 0, 0, 0, 0}) + Bytes({0x01, 0x80, 8, 0, 0, 0, 0, 0}) +
                         Bytes({0, 0});
  EXPECT_EQ(bytes, expected);

  Archive ar(bytes);
  std::unique_ptr<Thing> a(ReadObjectAs<Thing>(ar));
  std::unique_ptr<Thing> b(ReadObjectAs<Thing>(ar));
  EXPECT_EQ(ar.ReadObject(), nullptr);
  EXPECT_EQ(a->value, 7);
  EXPECT_EQ(b->value, 8);
  EXPECT_EQ(a->schemaSeen, 15u);
}

TEST_F(ArchiveTest, BodyIsReadWithTheSchemaOfItsClassRecord) {
  std::string bytes = Bytes({0xFF, 0xFF, 0x04, 0x00, 0x05, 0x00}) + "Thing" +
                      Bytes({1, 0, 0, 0, 0, 0}) + Bytes({0x01, 0x80, 2, 0, 0, 0, 0, 0});
  Archive ar(bytes);
  std::unique_ptr<Thing> a(ReadObjectAs<Thing>(ar));
  std::unique_ptr<Thing> b(ReadObjectAs<Thing>(ar));
  EXPECT_EQ(a->schemaSeen, 4u);
  EXPECT_EQ(b->schemaSeen, 4u);
  EXPECT_EQ(ar.GetObjectSchema(), Archive::kNoSchema);
}

TEST_F(ArchiveTest, SharedObjectIsWrittenOnceAndReadBackShared) {
  auto* target = new Shared();
  target->value = 42;
  auto* holder = new Shared();
  holder->peer = target;
  target->AddReference();
  std::string bytes = Store([&](Archive& ar) {
    ar.WriteObject(holder);  // class 1, holder 2, target 3 nested
    ar.WriteObject(target);  // back-reference: WORD 3
  });
  EXPECT_EQ(bytes.substr(bytes.size() - 2), Bytes({0x03, 0x00}));
  holder->ReleaseReference();
  target->ReleaseReference();

  Serializable* first;
  Serializable* second;
  {
    Archive ar(bytes);
    first = ar.ReadObject();
    second = ar.ReadObject();
  }
  auto* readHolder = dynamic_cast<Shared*>(first);
  ASSERT_NE(readHolder, nullptr);
  EXPECT_EQ(second, readHolder->peer);
  EXPECT_EQ(readHolder->peer->value, 42u);
  EXPECT_EQ(readHolder->peer->count, 2u);  // the caller's and the holder's
  second->ReleaseReference();
  first->ReleaseReference();
}

TEST_F(ArchiveTest, LargeIndexesUseTheBigTag) {
  // Shared is class 1 and its objects take 2..0x8002, so the class Thing named
  // next gets index 0x8003 and its first object 0x8004.
  std::vector<Shared*> objects;
  for (int i = 0; i < 0x8001; ++i) objects.push_back(new Shared());
  objects.back()->value = 99;
  Thing first, second;
  second.value = 5;
  std::string bytes = Store([&](Archive& ar) {
    for (Shared* s : objects) ar.WriteObject(s);
    ar.WriteObject(&first);
    ar.WriteObject(&second);
    ar.WriteObject(objects.back());
  });
  std::string tail = Bytes({0xFF, 0x7F, 0x03, 0x80, 0x00, 0x80}) +  // class 0x8003
                     Bytes({5, 0, 0, 0, 0, 0}) +                    // second's body
                     Bytes({0xFF, 0x7F, 0x02, 0x80, 0x00, 0x00});   // object 0x8002
  EXPECT_EQ(bytes.substr(bytes.size() - tail.size()), tail);

  Archive ar(bytes);
  std::vector<Serializable*> read;
  for (size_t i = 0; i < objects.size() + 3; ++i) read.push_back(ar.ReadObject());
  EXPECT_EQ(read.back(), read[objects.size() - 1]);
  EXPECT_EQ(dynamic_cast<Shared*>(read.back())->value, 99u);
  EXPECT_EQ(dynamic_cast<Thing*>(read[objects.size() + 1])->value, 5);
  for (Serializable* s : read) s->ReleaseReference();
  for (Shared* s : objects) s->ReleaseReference();
}

TEST_F(ArchiveTest, MalformedInputEndsWithAStatusNeverACrash) {
  const std::string thingClass = Bytes({0xFF, 0xFF, 0x0F, 0x00, 0x05, 0x00}) + "Thing";
  struct Case {
    const char* what;
    std::string bytes;
    ArchiveStatus status;
  };
  const Case cases[] = {
      {"empty", "", ArchiveStatus::kEndOfData},
      {"half a tag", Bytes({0xFF}), ArchiveStatus::kEndOfData},
      {"class name cut", Bytes({0xFF, 0xFF, 0x0F, 0x00, 0x05, 0x00, 'T'}),
       ArchiveStatus::kBadLength},
      {"unknown class", Bytes({0xFF, 0xFF, 0x0F, 0x00, 0x03, 0x00}) + "Bad",
       ArchiveStatus::kUnknownClass},
      {"body cut", thingClass + Bytes({1, 0}), ArchiveStatus::kEndOfData},
      {"object not yet read", Bytes({0x05, 0x00}), ArchiveStatus::kBadReference},
      {"big object not yet read", Bytes({0xFF, 0x7F, 0x00, 0x00, 0x01, 0x00}),
       ArchiveStatus::kBadReference},
      {"class never named", Bytes({0x01, 0x80}), ArchiveStatus::kBadReference},
      {"class tag naming an object", thingClass + Bytes({1, 0, 0, 0, 0, 0}) + Bytes({0x02, 0x80}),
       ArchiveStatus::kBadReference},
      {"object tag naming a class", thingClass + Bytes({1, 0, 0, 0, 0, 0}) + Bytes({0x01, 0x00}),
       ArchiveStatus::kBadReference},
      {"second owner of a single-owner object",
       thingClass + Bytes({1, 0, 0, 0, 0, 0}) + Bytes({0x02, 0x00}), ArchiveStatus::kBadReference},
      {"child of another class",
       thingClass + Bytes({1, 0, 0, 0}) + Bytes({0xFF, 0xFF, 0x0F, 0x00, 0x06, 0x00}) + "Shared" +
           Bytes({0, 0, 0, 0, 0, 0}),
       ArchiveStatus::kWrongClass},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LoadStatus(c.bytes,
                         [](Archive& ar) {
                           for (int i = 0; i < 3; ++i) {
                             Serializable* obj = ar.ReadObject();
                             if (obj != nullptr) obj->ReleaseReference();
                           }
                         }),
              c.status)
        << c.what;
  }
}

TEST_F(ArchiveTest, LengthsAndCountsBeyondTheDataFailBeforeAllocating) {
  EXPECT_EQ(LoadStatus(Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}),
                       [](Archive& ar) { ar.ReadString(); }),
            ArchiveStatus::kBadLength);
  EXPECT_EQ(LoadStatus(Bytes({0xFF, 0xFF, 0xFF, 0x7F, 1, 2}), [](Archive& ar) { ar.ReadCount(1); }),
            ArchiveStatus::kBadCount);
  EXPECT_EQ(LoadStatus(Bytes({0xFF, 0xFF, 0xFF, 0xFF}), [](Archive& ar) { ar.ReadCount(0); }),
            ArchiveStatus::kBadCount);
}

TEST_F(ArchiveTest, DeepNestingIsRefused) {
  // Each Thing's child is a Thing: tag 0x8001, value, then the child.
  std::string bytes = Bytes({0xFF, 0xFF, 0x0F, 0x00, 0x05, 0x00}) + "Thing" + Bytes({0, 0, 0, 0});
  for (int i = 0; i < Archive::kMaxObjectNesting + 5; ++i) bytes += Bytes({0x01, 0x80, 0, 0, 0, 0});
  bytes += Bytes({0, 0});
  EXPECT_EQ(
      LoadStatus(bytes, [](Archive& ar) { std::unique_ptr<Thing> t(ReadObjectAs<Thing>(ar)); }),
      ArchiveStatus::kTooDeep);
}

TEST_F(ArchiveTest, ErrorsCarryTheOffset) {
  std::string bytes = Bytes({1, 2, 3});
  try {
    Archive ar(bytes);
    ar.ReadWord();
    ar.ReadWord();
    FAIL() << "read past the end";
  } catch (const ArchiveError& e) {
    EXPECT_EQ(e.status(), ArchiveStatus::kEndOfData);
    EXPECT_EQ(e.offset(), 2u);
  }
}

TEST_F(ArchiveTest, SelfReferenceThroughAnEnclosingObjectIsAllowed) {
  auto* loop = new Shared();
  loop->peer = loop;
  std::string bytes = Store([&](Archive& ar) { ar.WriteObject(loop); });
  delete loop;
  Archive ar(bytes);
  Serializable* read = ar.ReadObject();
  auto* shared = dynamic_cast<Shared*>(read);
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(shared->peer, shared);
  read->ReleaseReference();
}

TEST_F(ArchiveTest, ValuesAcrossTheBufferBoundaryKeepTheirBytes) {
  // Each value starts at every position around the end of the first buffer,
  // so that it is written whole, split, or just after a flush.
  const std::string tail = Bytes({0xAB, 0x34, 0x12, 0xEF, 0xBE, 0xAD, 0xDE, 0x03, 'a', 'b', 'c'});
  for (size_t pad = Archive::kBufferSize - 8; pad <= Archive::kBufferSize + 1; ++pad) {
    SCOPED_TRACE(pad);
    const std::string filler(pad, 'f');
    std::string bytes = Store([&](Archive& ar) {
      ar.WriteBytes(filler.data(), filler.size());
      ar.WriteByte(0xAB);
      ar.WriteWord(0x1234);
      ar.WriteDword(0xDEADBEEF);
      ar.WriteString("abc");
      EXPECT_EQ(ar.Position(), pad + tail.size());
    });
    EXPECT_EQ(bytes, filler + tail);
    Archive ar(bytes);
    ar.ReadBytes(bytes.data(), pad);
    EXPECT_EQ(ar.ReadByte(), 0xAB);
    EXPECT_EQ(ar.ReadWord(), 0x1234);
    EXPECT_EQ(ar.ReadDword(), 0xDEADBEEFu);
    EXPECT_EQ(ar.ReadString(), "abc");
    EXPECT_EQ(ar.Remaining(), 0u);
  }
}

class RefusingSink : public ByteSink {
 public:
  bool Append(const uint8_t*, size_t) override { return false; }
};

TEST_F(ArchiveTest, RefusedWriteIsReported) {
  RefusingSink sink;
  Archive ar(sink);
  EXPECT_THROW(
      {
        ar.WriteString(std::string(100, 'x'));
        ar.Flush();
      },
      ArchiveError);
  // A write of more than one buffer fails on the way.
  EXPECT_THROW(ar.WriteString(std::string(Archive::kBufferSize + 1, 'x')), ArchiveError);
}

}  // namespace
}  // namespace brontel
