// brontel-server: the reference sync server.
//   brontel-server serve --db FILE [--listen HOST:PORT] [--page PATH]
//                        [--cert FILE --key FILE] [--port-file FILE]
//   brontel-server share|unshare --db FILE --owner USER --to USER
//                        (--calendar NAME | --category NAME)
//                        (--read-only | --read-write | --hide-details)
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "server/http_service.h"
#include "server/sharing.h"
#include "server/sqlite_storage.h"

namespace {

using brontel::server::RecordKind;

constexpr char kUsage[] =
    "usage: brontel-server serve --db FILE [--listen HOST:PORT] [--page PATH]\n"
    "                            [--cert FILE --key FILE] [--port-file FILE]\n"
    "       brontel-server share|unshare --db FILE --owner USER --to USER\n"
    "                            (--calendar NAME | --category NAME)\n"
    "                            (--read-only | --read-write | --hide-details)\n";

int Usage(const std::string& problem) {
  std::cerr << "brontel-server: " << problem << '\n' << kUsage;
  return 2;
}

// Options with a value, and flags (value "").
struct Arguments {
  std::map<std::string, std::string> values;
  std::string error;

  bool Has(const std::string& name) const { return values.count(name) != 0; }
  std::string Get(const std::string& name) const {
    auto found = values.find(name);
    return found == values.end() ? std::string() : found->second;
  }
};

Arguments Parse(const std::vector<std::string>& words) {
  static const std::vector<std::string> kFlags = {"--read-only", "--read-write", "--hide-details"};
  Arguments arguments;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    bool flag = false;
    for (const std::string& known : kFlags) flag = flag || known == word;
    if (flag) {
      arguments.values[word] = "";
    } else if (word.rfind("--", 0) == 0 && i + 1 < words.size()) {
      arguments.values[word] = words[++i];
    } else {
      arguments.error = "unexpected argument " + word;
      return arguments;
    }
  }
  return arguments;
}

int RunServe(const Arguments& arguments) {
  brontel::server::ServeOptions options;
  options.database = arguments.Get("--db");
  if (options.database.empty()) return Usage("--db is required");
  if (arguments.Has("--listen")) {
    std::string listen = arguments.Get("--listen");
    size_t colon = listen.rfind(':');
    if (colon == std::string::npos) return Usage("--listen needs HOST:PORT");
    options.host = listen.substr(0, colon);
    std::string port = listen.substr(colon + 1);
    char* end = nullptr;
    long value = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || value < 0 || value > 65535) {
      return Usage("bad port in --listen");
    }
    options.port = static_cast<int32_t>(value);
  }
  if (arguments.Has("--page")) options.page = arguments.Get("--page");
  options.certificate = arguments.Get("--cert");
  options.privateKey = arguments.Get("--key");
  options.portFile = arguments.Get("--port-file");
  return brontel::server::Serve(options, std::cerr);
}

int RunShare(const Arguments& arguments, bool revoke) {
  brontel::server::ShareOrder order;
  order.owner = arguments.Get("--owner");
  order.subscriber = arguments.Get("--to");
  if (arguments.Get("--db").empty() || order.owner.empty() || order.subscriber.empty()) {
    return Usage("--db, --owner and --to are required");
  }
  if (arguments.Has("--calendar") == arguments.Has("--category")) {
    return Usage("give one of --calendar and --category");
  }
  order.kind = arguments.Has("--calendar") ? RecordKind::kCalendar : RecordKind::kCategory;
  order.name = arguments.Get(arguments.Has("--calendar") ? "--calendar" : "--category");
  int modes = (arguments.Has("--read-only") ? 1 : 0) + (arguments.Has("--read-write") ? 1 : 0) +
              (arguments.Has("--hide-details") ? 1 : 0);
  if (!revoke && modes != 1) {
    return Usage("give one of --read-only, --read-write and --hide-details");
  }
  order.readOnly = !arguments.Has("--read-write");
  order.hideDetails = arguments.Has("--hide-details");
  try {
    brontel::server::SqliteStorage storage(arguments.Get("--db"));
    std::string error =
        revoke ? brontel::server::Unshare(storage, order) : brontel::server::Share(storage, order);
    if (!error.empty()) {
      std::cerr << "brontel-server: " << error << '\n';
      return 1;
    }
  } catch (const std::exception& error) {
    std::cerr << "brontel-server: " << error.what() << '\n';
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("no command");
  std::string command = argv[1];
  Arguments arguments = Parse(std::vector<std::string>(argv + 2, argv + argc));
  if (!arguments.error.empty()) return Usage(arguments.error);
  if (command == "serve") return RunServe(arguments);
  if (command == "share") return RunShare(arguments, false);
  if (command == "unshare") return RunShare(arguments, true);
  return Usage("unknown command " + command);
}
