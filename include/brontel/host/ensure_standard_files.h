// EnsureStandardFiles: while it lives, standard output and standard error go
// to "stdout.txt" and "stderr.txt" in a folder, so that a program without a
// console keeps what it writes there.
//
// One redirection is shared by all objects: an object made while another one's
// redirection is in force leaves it alone, and only the object that opened a
// file restores the descriptor it saw and closes the file. The files are
// appended to, never truncated. Thread-safe.
#pragma once

#include <string>

namespace brontel {

class EnsureStandardFiles {
 public:
  // folder is joined to the file names as it stands (give it a trailing "/").
  explicit EnsureStandardFiles(const std::string& folder);
  ~EnsureStandardFiles();
  EnsureStandardFiles(const EnsureStandardFiles&) = delete;
  EnsureStandardFiles& operator=(const EnsureStandardFiles&) = delete;

  // True when this object's redirection of descriptor 1 (or 2) is in force.
  bool RedirectsOutput() const { return m_out.owned; }
  bool RedirectsError() const { return m_err.owned; }

 private:
  struct Stream {
    int descriptor;      // 1 or 2
    int saved = -1;      // a copy of the descriptor found at construction, or -1
    int file = -1;       // the redirection file this object opened
    bool owned = false;  // this object's redirection is the one in force
  };
  void redirect(Stream& stream, const std::string& path, int& sharedFile);
  void restore(Stream& stream, int& sharedFile);

  Stream m_out{1};
  Stream m_err{2};
};

}  // namespace brontel
