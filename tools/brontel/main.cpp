// brontel: command-line tool of the Brontel library.
//
//   brontel version            prints the build tag
//   brontel show FILE          prints a file the library wrote as an indented tree
//   brontel sample-log FILE    writes a sample log file to look at with `show`
//   brontel calendar OP --dir DIR --copy FILE.json
//                              runs a calendar sync of the copy in FILE.json
//   brontel contacts OP --dir DIR --copy FILE.json
//                              runs a contact sync of the copy in FILE.json
//   brontel demo [--dir DIR] [--server-program PATH]
//                              two users' desktops and a handheld kept in step
//                              through a brontel-server it starts itself
#include <cstdio>
#include <cstring>
#include <string>

#include <vector>

#include "brontel/brontel.h"
#include "commands.h"

namespace {

using namespace brontel;

int Usage() {
  std::fprintf(stderr,
               "usage: brontel version\n"
               "       brontel show FILE\n"
               "       brontel sample-log FILE\n"
               "       brontel calendar OP --dir DIR --copy FILE.json\n"
               "       brontel contacts OP --dir DIR --copy FILE.json\n"
               "       brontel demo [--dir DIR] [--server-program PATH]\n");
  return 2;
}

int Show(const std::string& path) {
  TextTree tree;
  ReadResult result = DisplayStoredFile(path, tree);
  std::fputs(tree.Render().c_str(), stdout);
  if (!result.ok()) {
    std::fprintf(stderr, "brontel: %s: %s\n", ArchiveStatusName(result.status),
                 result.message.c_str());
    return 1;
  }
  return 0;
}

// A log such as a calendar synchronization leaves behind: texts, an identity
// and a status, the request document of a server pass, and a nested list.
int SampleLog(const std::string& path) {
  LogList log;
  log.Log("start", "SyncHandheld started, lock file cachecal.lck taken");

  RecordIdentification id;
  id.SetCacheId(0x40000012);
  id.SetLocalId(0x2A);
  id.GenerateFixedId(true);
  id.SetVersion(7);
  RecordStatus status;
  status.SetDirtyFlag(true);
  status.SetSource(SOURCE_HANDHELD);
  LogList record;
  record.Log("identity", id.GetDisplayString());
  record.Log("status", status.GetDisplayString());

  LogList pass;
  pass.Log("request",
           "<?xml version=\"1.0\"?><tandroreq><syncbegin gid=\"00000000-0000-0000-0000-"
           "000000000001\" version=\"12\"/><event lid=\"42\"><name>Dentist</name>"
           "<date>2026-12-10</date></event></tandroreq>");
  pass.Log("response", "<tandroresp><status>success</status><version>13</version></tandroresp>");

  log.Log("event before", record);
  log.Log("server pass 0", pass);
  log.Log("end", "SyncHandheld finished: 0 conflicts");

  std::string error;
  if (!WriteLogFile(path, "CalendarApi log", log, &error)) {
    std::fprintf(stderr, "brontel: %s\n", error.c_str());
    return 1;
  }
  std::printf("wrote %s\n", path.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string command = argv[1];
  if (command == "version" && argc == 2) {
    std::printf("%s\n", brontel::BrontelAPI::GetVersion().c_str());
    return 0;
  }
  if (command == "show" && argc == 3) return Show(argv[2]);
  if (command == "sample-log" && argc == 3) return SampleLog(argv[2]);
  std::vector<std::string> rest(argv + 2, argv + argc);
  if (command == "calendar") return brontel::tool::CalendarCommand(rest);
  if (command == "contacts") return brontel::tool::ContactsCommand(rest);
  if (command == "demo") return brontel::tool::DemoCommand(rest);
  return Usage();
}
