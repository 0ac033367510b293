// XmlQueryServer: sends one request document to the server page and keeps the
// answer, prefixed with an XML header that names the server and the page.
//
// The document is posted as it is (or, in GET mode, put after the query prefix
// in the query string), without escaping. A status other than 200 gives
// ERR_SERVER_QUERY and a connection failure ERR_CONNECTION, each with its
// message; a proxy's demand for credentials is put to the user, and the
// exchange repeats for as long as the user supplies them.
#pragma once

#include <string>

#include "brontel/core/enumerations.h"

namespace brontel {

class XmlQueryServer {
 public:
  // Used when the settings name no server, or no page.
  static constexpr const char* kDefaultServer = "localhost";
  static constexpr const char* kDefaultUrl = "/tandro/kvRequest.asp";
  static constexpr const char* kDefaultQueryPrefix = "xmlreq=";
  // The User-Agent of every exchange.
  static constexpr const char* kAgentName = "TandroServerSession";

  // The server and page of the settings (ServerSyncName, ServerSyncUrl) or
  // their defaults, and the default query prefix.
  XmlQueryServer();
  // The three values as given.
  XmlQueryServer(const std::string& server, const std::string& url, const std::string& prefix);

  // Sends query and waits for the answer. POST sends query as the body; GET
  // asks for "<url>?<prefix><query>". Returns ERR_NONE and keeps header + body
  // as the response for status 200; otherwise the result and GetErrorMessage()
  // tell what failed, and the response of an earlier success is kept.
  br_error ResponseToQuery(const std::string& query, bool post);

  // Empty after a success.
  const std::string& GetErrorMessage() const { return m_errorMessage; }
  const std::string& GetResponse() const { return m_response; }
  const std::string& GetServer() const { return m_server; }
  const std::string& GetUrl() const { return m_url; }

 private:
  std::string m_server;
  std::string m_url;
  std::string m_queryPrefix;
  std::string m_errorMessage;
  std::string m_response;
};

}  // namespace brontel
