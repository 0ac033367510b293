#include "server/request_handler.h"

#include <memory>
#include <optional>
#include <vector>

#include "brontel/protocol/xml_parser.h"
#include "server/answer_writer.h"
#include "server/record_xml.h"
#include "server/sync_session.h"

namespace brontel::server {

// A parsed request: the root's attributes and its child elements.
class RequestHandler::Request {
 public:
  explicit Request(const XmlNode& root) : m_root(root) {}

  const RequestElement& Root() const { return m_root; }
  // The first child element called name.
  const XmlNode* Child(const std::string& name) const {
    for (const auto& child : m_root.Children()) {
      if (child->GetName() == name) return child.get();
    }
    return nullptr;
  }
  std::string TextOf(const std::string& name) const {
    const XmlNode* child = Child(name);
    if (child == nullptr) return std::string();
    return RequestElement::TextOf(*child).value_or(std::string());
  }

 private:
  RequestElement m_root;
};

RequestHandler::RequestHandler(Storage& storage, HandlerOptions options)
    : m_storage(storage), m_options(options) {}

HttpReply RequestHandler::Handle(const std::string& body) {
  if (body.size() > m_options.maxRequestBytes) return HttpReply{413, std::string()};
  XmlParser parser;
  if (parser.Parse(body) != ERR_NONE) return HttpReply{400, std::string()};
  std::unique_ptr<XmlNode> root = parser.GetDocument();
  if (root == nullptr || root->GetName() != "tandroreq") return HttpReply{400, std::string()};
  return Serve(Request(*root));
}

HttpReply RequestHandler::Serve(const Request& request) {
  bool gidRequest = request.Child("username") != nullptr;
  try {
    m_storage.Begin();
    std::string answer = gidRequest ? AnswerGidRequest(request) : AnswerSyncRequest(request);
    m_storage.Commit();
    return HttpReply{200, std::move(answer)};
  } catch (const std::exception&) {
    // Nothing of a failed request stays applied.
    try {
      m_storage.Rollback();
    } catch (const std::exception&) {
      // The database ends the transaction itself when it cannot go on.
    }
    return HttpReply{500, std::string()};
  }
}

std::string RequestHandler::AnswerGidRequest(const Request& request) {
  std::string username = request.TextOf("username");
  std::string password = request.TextOf("password");
  if (username.empty()) return FailureAnswer();
  std::optional<Account> account = m_storage.FindAccountByName(username);
  if (account) {
    if (!VerifyPassword(account->passwordHash, password)) return FailureAnswer();
  } else {
    Account fresh;
    fresh.username = username;
    fresh.passwordHash = HashPassword(password, m_options.passwordCost);
    // One GID per account, for every client and both families.
    do {
      fresh.gid = NewGid();
    } while (m_storage.FindAccountByGid(fresh.gid));
    fresh.id = m_storage.AddAccount(fresh);
    account = fresh;
  }
  XmlElement root("tandroresp", nullptr);
  root.AddAttribute("ts", 0u);
  root.AddAttributeFlag("sts", true);
  root.AddAttribute("ver", 0u);
  root.AddAttribute("rev", std::string(kServerRevision));
  root.AddAttributeFlag("full", false);
  {
    XmlElement gid("newgid", &root);
    gid.AddValue(account->gid);
  }
  return root.Query();
}

std::string RequestHandler::AnswerSyncRequest(const Request& request) {
  const XmlNode* gidNode = request.Child("gid");
  if (gidNode == nullptr) return FailureAnswer();
  UID128 gid;
  gid.SetString(RequestElement::TextOf(*gidNode).value_or(std::string()));
  if (gid.IsZero()) return FailureAnswer();
  std::optional<Account> account = m_storage.FindAccountByGid(gid);
  if (!account) return FailureAnswer();

  AnswerRequest answer;
  answer.account = account->id;
  answer.family = request.Root().Number("typ") == 2 ? Family::kContacts : Family::kCalendars;
  answer.gid = gid;
  answer.version = request.Root().Number("ver", kInvalidVersion);
  answer.stamp = request.Root().Number("ts");

  SyncSession session(m_storage, account->id, answer.family, answer.version);
  for (const auto& child : request.Root().Children()) session.Apply(*child);
  session.Finish();
  return WriteSyncAnswer(m_storage, answer, session.Outcome());
}

}  // namespace brontel::server
