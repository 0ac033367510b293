#include "support/scripted_sync_server.h"

#include "brontel/host/registry.h"

namespace brontel::testing {

ScriptedSyncServer::ScriptedSyncServer() {
  CRegistry registry;
  registry.SetServerSyncName(m_server.Address());
  registry.SetConnectTimeoutSeconds(2);
  registry.SetStallTimeoutSeconds(2);
}

void ScriptedSyncServer::Answer(std::string document) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_script.push_back(Step{ScriptedReply{200, std::move(document), {}}, nullptr});
}

void ScriptedSyncServer::Fail(int status) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_script.push_back(Step{ScriptedReply{status, "", {}}, nullptr});
}

void ScriptedSyncServer::Cut(std::string document) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_script.push_back(Step{
      ScriptedReply{200, std::move(document), {}, ScriptedReply::Ending::kCutMidBody}, nullptr});
}

void ScriptedSyncServer::AnswerWith(std::function<std::string(const std::string&)> make) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_script.push_back(Step{ScriptedReply{200, "", {}}, std::move(make)});
}

ScriptedReply ScriptedSyncServer::next(const RecordedRequest& request) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_script.empty()) return ScriptedReply{500, "", {}};
  Step step = std::move(m_script.front());
  m_script.pop_front();
  if (step.make) step.reply.body = step.make(request.body);
  return step.reply;
}

std::vector<std::string> ScriptedSyncServer::Requests() const {
  std::vector<std::string> bodies;
  for (const RecordedRequest& request : m_server.Requests()) bodies.push_back(request.body);
  return bodies;
}

size_t ScriptedSyncServer::Pending() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_script.size();
}

}  // namespace brontel::testing
