#include "brontel/host/ensure_standard_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace brontel {

namespace {

std::mutex g_mutex;
// The open redirection files, -1 when none is in force.
int g_outFile = -1;
int g_errFile = -1;

bool IsOpen(int descriptor) {
  return ::fcntl(descriptor, F_GETFD) != -1;
}

void FlushStdio() {
  std::fflush(stdout);
  std::fflush(stderr);
}

}  // namespace

EnsureStandardFiles::EnsureStandardFiles(const std::string& folder) {
  std::lock_guard<std::mutex> lock(g_mutex);
  FlushStdio();
  redirect(m_out, folder + "stdout.txt", g_outFile);
  redirect(m_err, folder + "stderr.txt", g_errFile);
}

EnsureStandardFiles::~EnsureStandardFiles() {
  std::lock_guard<std::mutex> lock(g_mutex);
  FlushStdio();
  restore(m_out, g_outFile);
  restore(m_err, g_errFile);
}

void EnsureStandardFiles::redirect(Stream& stream, const std::string& path, int& sharedFile) {
  bool valid = IsOpen(stream.descriptor);
  if (sharedFile >= 0 && valid) return;  // another object's redirection is in force
  // Appending keeps what earlier runs wrote whole. The diagnostics name the
  // user's files and records: only the user may read them.
  int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (file >= 0 && file <= 2) {
    // A closed standard descriptor was reused by open: keep the file above
    // them, so that the standard one can be pointed at it.
    int high = ::fcntl(file, F_DUPFD_CLOEXEC, 3);
    ::close(file);
    file = high;
  }
  if (file < 0) return;
  stream.saved = valid ? ::fcntl(stream.descriptor, F_DUPFD_CLOEXEC, 3) : -1;
  if (::dup2(file, stream.descriptor) < 0) {
    ::close(file);
    if (stream.saved >= 0) ::close(stream.saved);
    stream.saved = -1;
    return;
  }
  // A redirection whose descriptor someone closed is replaced by this one.
  if (sharedFile >= 0) ::close(sharedFile);
  sharedFile = file;
  stream.file = file;
  stream.owned = true;
}

void EnsureStandardFiles::restore(Stream& stream, int& sharedFile) {
  if (!stream.owned) return;
  stream.owned = false;
  if (sharedFile != stream.file) {
    // A later object replaced this redirection and now answers for it.
    if (stream.saved >= 0) ::close(stream.saved);
    return;
  }
  if (stream.saved >= 0) {
    ::dup2(stream.saved, stream.descriptor);
    ::close(stream.saved);
  } else {
    ::close(stream.descriptor);  // there was none before
  }
  ::close(sharedFile);
  sharedFile = -1;
}

}  // namespace brontel
