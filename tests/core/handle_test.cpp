#include "brontel/core/handle.h"

#include <gtest/gtest.h>

#include <string>

#include "brontel/platform/archive.h"

namespace brontel {
namespace {

int g_liveNodes = 0;

class Node;

// A record-like holder: a value, an owned child, an optional snapshot, and a
// non-counting reference back to the node that owns it.
class NodeHolder : public Holder, public BackReferenceTarget {
  BRONTEL_DECLARE_SERIAL()

 public:
  NodeHolder() { ++g_liveNodes; }
  ~NodeHolder() override;
  void Serialize(Archive& ar) override;

  int32_t m_value = 0;
  Node* m_child = nullptr;     // owned (a counting handle), created lazily
  Node* m_snapshot = nullptr;  // owned, created lazily
  BackReference<Node>* m_owner = nullptr;
};
BRONTEL_IMPLEMENT_SERIAL(NodeHolder, "NodeHolder");

class Node : public Handle<NodeHolder> {
 public:
  Node() = default;  // null
  static Node CreateEmpty() { return Node(new NodeHolder()); }

  int32_t GetValue() const { return Live()->m_value; }
  void SetValue(int32_t v) { Live()->m_value = v; }

  // Makes child a counting child of this node, pointing back without counting.
  void AdoptChild(const Node& child) {
    NodeHolder* h = Live();
    delete h->m_child;
    h->m_child = new Node(child);
    NodeHolder* c = child.Live();
    if (c->m_owner == nullptr) c->m_owner = new BackReference<Node>();
    c->m_owner->Set(*this);
  }
  Node GetOwner() const {
    const NodeHolder* h = Live();
    return h->m_owner == nullptr ? Node() : h->m_owner->Get();
  }
  void SetSnapshot(const Node& n) {
    delete Live()->m_snapshot;
    Live()->m_snapshot = new Node(n);
  }
  // A reference into this node's holder, as a record's conflict accessor gives.
  const Node& SnapshotRef() const { return *Live()->m_snapshot; }

  bool Equal(const Node& other) const {
    RequireLiveOther(other);
    return GetValue() == other.GetValue();
  }
  Node Clone() const {
    Node copy = CreateEmpty();
    copy.SetValue(GetValue());
    return copy;
  }

  void Store(Archive& ar) const { StoreHolderObject(ar); }
  void Load(Archive& ar) { LoadHolderObject(ar, true); }

 private:
  explicit Node(NodeHolder* adopted) : Handle(adopted) {}
};

NodeHolder::~NodeHolder() {
  // Fields go in reverse order of declaration: the owner reference first
  // rebalances the owner's count, then the snapshot and the child.
  delete m_owner;
  delete m_snapshot;
  delete m_child;
  --g_liveNodes;
}

void NodeHolder::Serialize(Archive& ar) {
  if (ar.IsStoring()) {
    ar.WriteInt(m_value);
  } else {
    m_value = ar.ReadInt();
  }
}

class HandleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClassRegistry::Register(NodeHolder::kClassInfo);
    g_liveNodes = 0;
  }
  void TearDown() override { EXPECT_EQ(g_liveNodes, 0) << "holders leaked"; }
};

TEST_F(HandleTest, CopiesShareAndAssignmentMovesCounts) {
  Node a = Node::CreateEmpty();
  Node b = a;
  EXPECT_TRUE(a.EqualEqual(b));
  EXPECT_EQ(a.GetReferenceCount(), 2u);
  b.SetValue(5);
  EXPECT_EQ(a.GetValue(), 5);

  Node& self = a;
  a = self;
  EXPECT_EQ(a.GetReferenceCount(), 2u);

  Node c = Node::CreateEmpty();
  b = c;
  EXPECT_EQ(a.GetReferenceCount(), 1u);
  EXPECT_EQ(c.GetReferenceCount(), 2u);
}

TEST_F(HandleTest, NullHandlesCopyWithoutCounts) {
  Node null;
  Node copy = null;
  EXPECT_TRUE(copy.IsNull());
  Node a = Node::CreateEmpty();
  a = null;
  EXPECT_TRUE(a.IsNull());
  EXPECT_EQ(g_liveNodes, 0);
}

TEST_F(HandleTest, CloneIsEqualButNotTheSameRecord) {
  Node b = Node::CreateEmpty();
  b.SetValue(3);
  Node a = b.Clone();
  EXPECT_FALSE(a.EqualEqual(b));
  EXPECT_TRUE(a.Equal(b));
  a = b;
  EXPECT_TRUE(a.EqualEqual(b));
}

TEST_F(HandleTest, AssigningFromAValueInsideTheReleasedHolderIsSafe) {
  Node a = Node::CreateEmpty();
  Node snapshot = Node::CreateEmpty();
  snapshot.SetValue(9);
  a.SetSnapshot(snapshot);
  snapshot = Node();
  // a's holder is the only owner of the snapshot handle that is read here.
  a = a.SnapshotRef();
  EXPECT_EQ(a.GetValue(), 9);
  EXPECT_EQ(a.GetReferenceCount(), 1u);
}

TEST_F(HandleTest, BackReferencesDoNotKeepTheOwnerAlive) {
  {
    Node owner = Node::CreateEmpty();
    Node child = Node::CreateEmpty();
    owner.AdoptChild(child);
    EXPECT_EQ(owner.GetReferenceCount(), 1u);
    EXPECT_TRUE(child.GetOwner().EqualEqual(owner));
    EXPECT_EQ(owner.GetReferenceCount(), 1u);  // the temporary owner handle is gone
    child = Node();
    EXPECT_EQ(g_liveNodes, 2);
  }
  EXPECT_EQ(g_liveNodes, 0);  // the owner went, and took its child with it
}

TEST_F(HandleTest, ABackReferenceThatOutlivesItsTargetReadsNull) {
  Node child = Node::CreateEmpty();
  {
    Node owner = Node::CreateEmpty();
    owner.AdoptChild(child);
    EXPECT_FALSE(child.GetOwner().IsNull());
  }
  // The child is still held here; its owner is gone and must not be touched.
  EXPECT_TRUE(child.GetOwner().IsNull());
  EXPECT_EQ(g_liveNodes, 1);
}

TEST_F(HandleTest, ChildDestroyedBeforeItsOwnerRebalancesTheOwner) {
  Node owner = Node::CreateEmpty();
  owner.AdoptChild(Node::CreateEmpty());
  owner.AdoptChild(Node::CreateEmpty());  // the first child is released here
  EXPECT_EQ(owner.GetReferenceCount(), 1u);
  EXPECT_EQ(g_liveNodes, 2);
}

TEST_F(HandleTest, ReferAndUnreferNeverDestroy) {
  Node a = Node::CreateEmpty();
  a.unrefer();
  EXPECT_EQ(a.GetReferenceCount(), 0u);
  EXPECT_EQ(g_liveNodes, 1);
  a.refer();
  EXPECT_EQ(a.GetReferenceCount(), 1u);
}

TEST_F(HandleTest, SharedHoldersRoundTripThroughAnArchiveAsOneHolder) {
  Node a = Node::CreateEmpty();
  a.SetValue(11);
  StringSink sink;
  {
    Archive ar(sink);
    a.Store(ar);
    a.Store(ar);  // the second record is a back-reference
  }
  Node x, y;
  {
    Archive ar(sink.contents());
    x.Load(ar);
    y.Load(ar);
  }
  EXPECT_TRUE(x.EqualEqual(y));
  EXPECT_FALSE(x.EqualEqual(a));
  EXPECT_EQ(x.GetValue(), 11);
  EXPECT_EQ(x.GetReferenceCount(), 2u);  // the archive let go of its own count
}

TEST_F(HandleTest, FailedLoadLeavesTheHandleAsItWas) {
  Node a = Node::CreateEmpty();
  a.SetValue(4);
  std::string damaged("\xFF\xFF\x0F\x00\x0A\x00NodeHolder\x01", 17);  // body cut short
  {
    Archive ar(damaged);
    EXPECT_THROW(a.Load(ar), ArchiveError);
  }
  EXPECT_EQ(a.GetValue(), 4);
  EXPECT_EQ(g_liveNodes, 1);  // the half-read holder went with the archive
}

#ifndef NDEBUG
TEST_F(HandleTest, UsingANullHandleStopsDebugBuilds) {
  EXPECT_DEATH(Node().GetValue(), "m_holder && m_holder->m_referenceCount");
  Node a = Node::CreateEmpty();
  EXPECT_DEATH(a.EqualEqual(Node()), "other.m_holder && other.m_holder->m_referenceCount");
}
#endif

}  // namespace
}  // namespace brontel
