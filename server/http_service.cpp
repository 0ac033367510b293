#include "server/http_service.h"

#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "server/request_handler.h"
#include "server/sqlite_storage.h"

namespace brontel::server {

namespace {

// Writes the port through a temporary file and a rename, so a reader never
// sees a partial number.
bool WritePortFile(const std::string& path, int32_t port) {
  std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << port << '\n';
    if (!out.good()) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int Serve(const ServeOptions& options, std::ostream& log) {
  // Stop signals are taken by one thread with sigwait; every thread started
  // from here on inherits the blocked mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::unique_ptr<SqliteStorage> storage;
  try {
    storage = std::make_unique<SqliteStorage>(options.database);
  } catch (const StorageError& error) {
    log << "brontel-server: " << error.what() << '\n';
    return 1;
  }
  HandlerOptions handlerOptions;
  RequestHandler handler(*storage, handlerOptions);
  std::mutex serialized;

  std::unique_ptr<httplib::Server> server;
  if (options.certificate.empty() != options.privateKey.empty()) {
    log << "brontel-server: --cert and --key go together\n";
    return 2;
  }
  if (!options.certificate.empty()) {
    server = std::make_unique<httplib::SSLServer>(options.certificate.c_str(),
                                                  options.privateKey.c_str());
  } else {
    server = std::make_unique<httplib::Server>();
  }
  if (!server->is_valid()) {
    log << "brontel-server: cannot use the certificate or key\n";
    return 1;
  }
  server->set_payload_max_length(handlerOptions.maxRequestBytes);
  // The body is read through a content reader so that no form decoding (and
  // no form size limit) applies to it.
  server->Post(options.page, [&](const httplib::Request&, httplib::Response& response,
                                 const httplib::ContentReader& reader) {
    std::string body;
    bool complete = reader([&](const char* data, size_t length) {
      if (body.size() + length > handlerOptions.maxRequestBytes) return false;
      body.append(data, length);
      return true;
    });
    if (!complete) {
      response.status = 413;
      return;
    }
    HttpReply reply;
    {
      std::lock_guard<std::mutex> lock(serialized);
      reply = handler.Handle(body);
    }
    response.status = reply.status;
    response.set_content(reply.body, "text/xml");
  });

  int32_t port = options.port;
  if (port == 0) {
    port = server->bind_to_any_port(options.host);
  } else if (!server->bind_to_port(options.host, port)) {
    port = -1;
  }
  if (port <= 0) {
    log << "brontel-server: cannot listen on " << options.host << ':' << options.port << '\n';
    return 1;
  }
  if (!options.portFile.empty() && !WritePortFile(options.portFile, port)) {
    log << "brontel-server: cannot write " << options.portFile << '\n';
    return 1;
  }
  log << "brontel-server: listening on " << options.host << ':' << port << '\n';

  std::thread stopper([&] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server->stop();
  });
  bool listened = server->listen_after_bind();
  // Wakes the stopper when listening ended for another reason.
  pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  log << "brontel-server: stopped\n";
  return listened ? 0 : 1;
}

}  // namespace brontel::server
