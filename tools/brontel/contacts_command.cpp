// brontel contacts OP --dir DIR --copy FILE.json: one contact synchronization
// of a desktop or handheld copy kept in a JSON file.
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "brontel/api/brontel_api.h"
#include "brontel/api/category_api.h"
#include "brontel/contacts/category.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/contacts/contact_lists.h"
#include "brontel/platform/file_system.h"
#include "brontel/platform/format.h"
#include "commands.h"
#include "contact_copy_json.h"
#include "copy_command.h"

namespace brontel::tool {
namespace {

constexpr int32_t kPhoneCount = 5;
// Datum index of phone 5; the datums below it have no meaning of their own.
constexpr int32_t kLastPhone = ContactDescriptor::kFirstPhone - (kPhoneCount - 1);

std::string Marks(bool deleted, bool dirty, bool conflicted) {
  std::string out;
  if (deleted) out += " (deleted)";
  if (dirty) out += " (changed)";
  if (conflicted) out += " (CONFLICT)";
  return out;
}

// "local", "published" or "subscribed", as the category's sharing flags say.
std::string Kind(const Category& category) {
  if (category.IsUnfiled()) return "unfiled";
  CategoryDescriptor d = category.GetCategoryDescriptor();
  if (!d.GetSharedFlag()) return "local";
  if (d.GetOwnedFlag()) return "published";
  return d.IsReadOnly() ? "subscribed, read-only" : "subscribed";
}

std::string CategoryName(const Category& category) {
  if (category.IsUnfiled()) return "Unfiled";
  return category.GetCategoryDescriptor().GetCategoryName();
}

std::string Phones(const ContactDescriptor& d) {
  std::string out;
  for (int32_t k = 0; k < kPhoneCount; ++k) {
    const std::string& phone = d.GetDatum(ContactDescriptor::kFirstPhone - k);
    if (phone.empty()) continue;
    out += (out.empty() ? ", phones " : ", ") + phone;
  }
  return out;
}

// The contact's name as lists show it, its phones and its privacy.
std::string Summary(const Contact& contact) {
  ContactDescriptor d = contact.GetContactDescriptor();
  return Format("\"%s\"%s%s", contact.GetShortDisplayString().c_str(), Phones(d).c_str(),
                d.GetIsPrivate() ? " (private)" : "");
}

}  // namespace

std::string DescribeContacts(const CategoryManager& manager, const std::string& indent) {
  std::string out;
  const CategoryList& categories = manager.GetCategoryList();
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    const Category& c = categories[i];
    out += indent + Format("category \"%s\" (%s)%s\n",
                           c.GetCategoryDescriptor().GetCategoryName().c_str(), Kind(c).c_str(),
                           Marks(c.IsDeleted(), c.IsDirty(), c.IsConflicted()).c_str());
    if (c.IsConflicted()) {
      Category other = c.GetConflict();
      out += indent + Format("    other version: \"%s\" (%s)%s\n",
                             other.GetCategoryDescriptor().GetCategoryName().c_str(),
                             Kind(other).c_str(), other.IsDeleted() ? " (deleted)" : "");
    }
  }
  const ContactList& contacts = manager.GetContactList();
  for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
    const Contact& c = contacts[i];
    ContactDescriptor d = c.GetContactDescriptor();
    out += indent + Format("contact %s in %s%s\n", Summary(c).c_str(),
                           CategoryName(c.GetCategory()).c_str(),
                           Marks(c.IsDeleted(), c.IsDirty(), c.IsConflicted()).c_str());
    // The company shows in the name only when there is no last name.
    const std::string& company = d.GetDatum(ContactDescriptor::kCompany);
    if (!company.empty() && !d.GetDatum(ContactDescriptor::kLastName).empty()) {
      out += indent + "    company: " + company + "\n";
    }
    for (int32_t k = 0; k < kLastPhone; ++k) {
      if (!d.GetDatum(k).empty())
        out += indent + Format("    datum %d: ", k) + d.GetDatum(k) + "\n";
    }
    if (c.IsConflicted()) {
      Contact other = c.GetConflict();
      out += indent + Format("    other version: %s%s\n", Summary(other).c_str(),
                             other.IsDeleted() ? " (deleted)" : "");
    }
    if (c.IsLinkConflicted()) {
      out +=
          indent + "    other category: " + CategoryName(c.GetLinkConflict().GetCategory()) + "\n";
    }
  }
  if (out.empty()) out = indent + "(no records)\n";
  return out;
}

std::string DescribeNotices(const UserNoticeManager& notices, const std::string& indent) {
  std::string out;
  for (int32_t i = 0; i < notices.GetListCount(); ++i) {
    if (notices[i].IsHandled()) continue;
    out += indent + "notice: " + notices[i].GetTitle() + "\n";
    out += indent + "  " + notices[i].GetSummary() + "\n";
    const std::string& details = notices[i].GetDetails();
    for (size_t at = 0; at < details.size();) {
      size_t end = details.find('\n', at);
      if (end == std::string::npos) end = details.size();
      out += indent + "  " + details.substr(at, end - at) + "\n";
      at = end + 1;
    }
  }
  return out;
}

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: brontel contacts sync-desktop|sync-handheld|handheld-overrides "
               "--dir DIR --copy FILE.json\n");
  return 2;
}

}  // namespace

int ContactsCommand(const std::vector<std::string>& args) {
  CopyCommandArgs a;
  if (!ParseCopyCommandArgs(args, &a)) return Usage();
  if (a.op != "sync-desktop" && a.op != "sync-handheld" && a.op != "handheld-overrides") {
    return Usage();
  }
  std::string text, error;
  if (!ReadCopyFile(a.copyPath, &text)) return 1;
  CategoryApi api = BrontelAPI::CreateCategoryApi(a.dir, "brontel tool");
  CategoryManager manager = api.GetCategoryManager();
  if (!LoadContactCopy(text, manager, &error)) {
    std::fprintf(stderr, "brontel: %s: %s\n", a.copyPath.c_str(), error.c_str());
    return 1;
  }

  br_error result;
  if (a.op == "sync-desktop") {
    result = api.SyncDesktop();
  } else if (a.op == "sync-handheld") {
    result = api.SyncHandheld();
  } else {
    result = api.SyncHandheldOverideDesktop();
  }

  if (!WriteCopyFile(a.copyPath, SaveContactCopy(api.GetCategoryManager()))) return 1;
  PrintOutcome(result, api);
  std::printf("%s", DescribeContacts(api.GetCategoryManager(), "  ").c_str());
  return result == ERR_NONE ? 0 : 1;
}

}  // namespace brontel::tool
