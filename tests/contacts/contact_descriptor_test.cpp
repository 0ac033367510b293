// Tests of ContactDescriptor: the datums and their bounds, comparison and hash
// with the masked flags and phone labels, copies and the display forms.
#include "brontel/contacts/contact_descriptor.h"

#include <gtest/gtest.h>

#include <string>

#include "brontel/core/hasher.h"
#include "brontel/platform/tree_view.h"

namespace brontel {
namespace {

TEST(ContactDescriptorTest, ANewDescriptorIsEmpty) {
  ContactDescriptor d;
  for (int32_t i = 0; i < ContactDescriptor::numDatums; ++i) EXPECT_EQ(d.GetDatum(i), "");
  EXPECT_EQ(d.GetFlags(), 0u);
  EXPECT_EQ(d.GetOptions(), 0u);
  EXPECT_EQ(d.GetOffset(), 0);
  EXPECT_FALSE(d.GetIsPrivate());
}

#ifndef NDEBUG  // preconditions stop only debug builds
TEST(ContactDescriptorDeathTest, DatumIndexesOutsideTheRecordAreRefused) {
  ContactDescriptor d;
  EXPECT_DEATH((void)d.GetDatum(19), "index >= 0 && index < numDatums");
  EXPECT_DEATH((void)d.GetDatum(-1), "index >= 0 && index < numDatums");
  EXPECT_DEATH(d.SetDatum(19, "x"), "index >= 0 && index < numDatums");
}
#endif

TEST(ContactDescriptorTest, EveryDatumAndFieldTakesPartInEqualAndHash) {
  ContactDescriptor base;
  for (int32_t i = 0; i < ContactDescriptor::numDatums; ++i) {
    ContactDescriptor changed = base.Clone();
    changed.SetDatum(i, "x");
    EXPECT_FALSE(base.Equal(changed)) << "datum " << i;
    EXPECT_NE(base.CalculateHash(), changed.CalculateHash()) << "datum " << i;
  }
  ContactDescriptor flags = base.Clone();
  flags.SetFlags(0x40000);
  ContactDescriptor isPrivate = base.Clone();
  isPrivate.SetIsPrivate(true);
  ContactDescriptor offset = base.Clone();
  offset.SetOffset(3);
  for (const ContactDescriptor& changed : {flags, isPrivate, offset}) {
    EXPECT_FALSE(base.Equal(changed));
    EXPECT_NE(base.CalculateHash(), changed.CalculateHash());
  }
}

TEST(ContactDescriptorTest, FlagsAboveTheLow19BitsDoNotCount) {
  ContactDescriptor a;
  ContactDescriptor b;
  b.SetFlags(0xFFF80000);
  EXPECT_TRUE(a.Equal(b));
  EXPECT_EQ(a.CalculateHash(), b.CalculateHash());
}

TEST(ContactDescriptorTest, LabelsOfEmptyPhonesDoNotCountInEqualButDoInTheHash) {
  ContactDescriptor a;
  a.SetDatum(15, "555-1234");  // phone 1: label nibble 0 and display nibble 5
  ContactDescriptor b = a.Clone();
  b.SetOptions(0x000F0);  // the label of phone 2, which is empty
  EXPECT_TRUE(a.Equal(b));
  EXPECT_NE(a.CalculateHash(), b.CalculateHash());

  ContactDescriptor c = a.Clone();
  c.SetOptions(0x000003);  // the label of phone 1
  EXPECT_FALSE(a.Equal(c));
  ContactDescriptor d = a.Clone();
  d.SetOptions(0x100000);  // the phone shown in lists
  EXPECT_FALSE(a.Equal(d));

  // With no phone at all, no option bit counts; above 24 bits none hashes.
  ContactDescriptor none;
  ContactDescriptor noneLabelled;
  noneLabelled.SetOptions(0xFFFFFF);
  EXPECT_TRUE(none.Equal(noneLabelled));
  ContactDescriptor high;
  high.SetOptions(0xFF000000);
  EXPECT_EQ(none.CalculateHash(), high.CalculateHash());
}

TEST(ContactDescriptorTest, EachPhoneOwnsItsLabelNibble) {
  // Phone k is datum 15 - k and owns nibble k.
  for (int32_t k = 0; k < 5; ++k) {
    ContactDescriptor a;
    a.SetDatum(15 - k, "1");
    ContactDescriptor b = a.Clone();
    b.SetOptions(0xFu << (4 * k));
    EXPECT_FALSE(a.Equal(b)) << "phone " << k;
    ContactDescriptor c = a.Clone();
    c.SetOptions(0xFu << (4 * ((k + 1) % 5)));
    EXPECT_TRUE(a.Equal(c)) << "phone " << k;
  }
}

TEST(ContactDescriptorTest, HashFeedsTheFieldsInTheirOrder) {
  ContactDescriptor d;
  d.SetDatum(0, "note");
  d.SetDatum(18, "Smith");
  d.SetFlags(0xFFFFFFFF);
  d.SetIsPrivate(true);
  d.SetOffset(9);
  d.SetOptions(0x12345678);
  Hasher expected;
  expected.AddFlag(true);
  for (int32_t i = 0; i < ContactDescriptor::numDatums; ++i) expected.AddString(d.GetDatum(i));
  expected.AddUINT32(0x7FFFF);
  expected.AddFlag(true);
  expected.AddByte(9);
  expected.AddUINT32(0x345678);
  EXPECT_EQ(d.CalculateHash(), expected.GetHash());
}

TEST(ContactDescriptorTest, CopyTakesEveryField) {
  ContactDescriptor source;
  source.SetDatum(3, "street");
  source.SetFlags(5);
  source.SetIsPrivate(true);
  source.SetOffset(2);
  source.SetOptions(0x123);
  ContactDescriptor copy;
  copy.Copy(source);
  EXPECT_TRUE(copy.Equal(source));
  EXPECT_EQ(copy.GetOptions(), 0x123u);
  EXPECT_EQ(copy.CalculateHash(), source.CalculateHash());
}

TEST(ContactDescriptorTest, DisplayShowsTheNamesAndEveryFilledDatum) {
  ContactDescriptor d;
  d.SetDatum(18, "Smith");
  d.SetDatum(17, "Ann");
  d.SetDatum(4, "x");
  EXPECT_EQ(d.GetDisplayString(), "Smith, Ann");
  TextTree tree;
  TreeItem root = tree.InsertItem("contact", kTreeRoot);
  d.DisplayTree(tree, root);
  EXPECT_EQ(tree.GetChildren(root).size(), 3u);
}

}  // namespace
}  // namespace brontel
