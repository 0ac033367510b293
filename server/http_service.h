// The HTTP(S) front of the server: answers POSTs to one page with the
// RequestHandler, one request at a time, until SIGINT or SIGTERM. The body is
// handed over as sent (never form-decoded, whatever the content type says).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace brontel::server {

struct ServeOptions {
  std::string database;
  std::string host = "127.0.0.1";
  // 0 picks a free port.
  int32_t port = 8080;
  std::string page = "/tandro/kvRequest.asp";
  // HTTPS when both are given (PEM files).
  std::string certificate;
  std::string privateKey;
  // When not empty, receives the port listened on, once listening.
  std::string portFile;
};

// Serves until a stop signal; returns the process exit status. Problems are
// reported on log.
int Serve(const ServeOptions& options, std::ostream& log);

}  // namespace brontel::server
