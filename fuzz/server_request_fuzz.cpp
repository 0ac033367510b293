// Fuzz target for the sync server's request handler: the input is a series
// of request documents separated by NUL bytes, applied in order to a fresh
// in-memory database where ann owns a calendar with an event and a category
// with a contact, shared with bob (calendar read-write, category read-only).
//
// Whatever the documents, the handler must not crash, must answer with 200,
// 400 or 413 (a 500 would mean a request failed midway), and every 200 answer
// must parse, have the root tandroresp, and carry record and link versions
// that are valid (below 0x80000000) and not above the answer's own ver.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "brontel/protocol/xml_parser.h"
#include "server/request_handler.h"
#include "server/sharing.h"
#include "server/sqlite_storage.h"

namespace {

using namespace brontel;
using namespace brontel::server;

constexpr char kAnnGid[] = "6F1C2A9E-5B3D-4E81-9A7C-0D2E4F6A8B10";
constexpr char kBobGid[] = "0B0B0B0B-1111-2222-3333-444455556666";

void AddAccount(Storage& storage, const char* name, const char* gid) {
  Account account;
  account.username = name;
  account.passwordHash = HashPassword(name, PasswordCost::kMinimal);
  account.gid.SetString(gid);
  storage.Begin();
  storage.AddAccount(account);
  storage.Commit();
}

void Seed(Storage& storage, RequestHandler& handler) {
  AddAccount(storage, "ann", kAnnGid);
  AddAccount(storage, "bob", kBobGid);
  const std::string root =
      std::string("<tandroreq ts=\"1\" ver=\"1f4\"><gid>") + kAnnGid + "</gid>";
  handler.Handle(root +
                 "<calendar lid=\"80000001\" ver=\"0\" act=\"0\"><name>Team</name>"
                 "<color>10000ff</color></calendar><event lid=\"80000002\" act=\"0\"><name>Meet"
                 "</name><link psid=\"80000001\" pver=\"ffffffff\"/></event></tandroreq>");
  handler.Handle(std::string("<tandroreq ts=\"1\" ver=\"1f4\" typ=\"2\"><gid>") + kAnnGid +
                 "</gid><category act=\"0\" lid=\"80000003\"><name>Club</name></category>"
                 "<contact act=\"0\" lid=\"80000004\"><datum index=\"0\">Cy</datum><link "
                 "psid=\"80000003\" pver=\"ffffffff\"/></contact></tandroreq>");
  Share(storage, ShareOrder{"ann", "bob", RecordKind::kCalendar, "Team", false, false});
  Share(storage, ShareOrder{"ann", "bob", RecordKind::kCategory, "Club", true, false});
}

uint32_t VersionOf(const XmlNode& node, const char* name, bool* found) {
  for (auto it = node.GetAttributes(); it->HasMoreElements();) {
    std::unique_ptr<XmlAttribute> attribute = it->NextElement();
    if (attribute != nullptr && attribute->GetName() == name) {
      *found = true;
      return attribute->GetIntValue();
    }
  }
  *found = false;
  return 0;
}

void CheckVersions(const XmlNode& node, uint32_t answerVersion) {
  for (auto it = node.GetChildNodes(); it->HasMoreElements();) {
    std::unique_ptr<XmlNode> child = it->NextElement();
    if (child == nullptr || child->GetName().empty()) continue;
    bool found = false;
    const char* attribute = child->GetName() == "link" ? "pver" : "ver";
    uint32_t version = VersionOf(*child, attribute, &found);
    if (found && (version >= 0x80000000u || version > answerVersion)) __builtin_trap();
    CheckVersions(*child, answerVersion);
  }
}

void CheckAnswer(const HttpReply& reply) {
  if (reply.status == 400 || reply.status == 413) return;
  if (reply.status != 200) __builtin_trap();
  XmlParser parser;
  if (parser.Parse(reply.body) != ERR_NONE) __builtin_trap();
  std::unique_ptr<XmlNode> root = parser.GetDocument();
  if (root == nullptr || root->GetName() != "tandroresp") __builtin_trap();
  bool found = false;
  uint32_t version = VersionOf(*root, "ver", &found);
  if (found && version >= 0x80000000u) __builtin_trap();
  CheckVersions(*root, version);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SqliteStorage storage(":memory:");
  HandlerOptions options;
  options.passwordCost = PasswordCost::kMinimal;
  options.maxRequestBytes = 64 * 1024;
  RequestHandler handler(storage, options);
  Seed(storage, handler);

  std::string input(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start <= input.size()) {
    size_t end = input.find('\0', start);
    if (end == std::string::npos) end = input.size();
    CheckAnswer(handler.Handle(input.substr(start, end - start)));
    start = end + 1;
  }
  return 0;
}
