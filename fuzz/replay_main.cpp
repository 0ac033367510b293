// Replay driver for the fuzz targets, linked with one fuzz/X_fuzz.cpp instead of
// libFuzzer so that any compiler (and the gcc sanitizer build) can run them.
//
//   X_fuzz_replay <corpus-dir-or-file>... [iterations] [seed]
//
// Feeds every corpus file to LLVMFuzzerTestOneInput, then `iterations`
// (default 2000) inputs made by deterministic mutations of the corpus: bit and
// byte flips, truncations, insertions and deletions, splices of two files. The
// same arguments always produce the same inputs. When an input crashes the
// target, it is saved as ./<program>.crash, which the libFuzzer binary (or this
// program) can run again directly.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" __attribute__((weak)) void __sanitizer_set_death_callback(void (*callback)(void));

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint64_t kDefaultIterations = 2000;
constexpr uint64_t kDefaultSeed = 0x6272'6f6e'74656c;  // "brontel"
constexpr size_t kMinMaxLength = 4096;

// The input currently being run, kept where a crash handler can reach it
// without allocating.
const uint8_t* g_current_data = nullptr;
size_t g_current_size = 0;
char g_crash_path[4096] = "fuzz_replay.crash";

void SaveCurrentInput() {
  if (g_current_data == nullptr) return;
  int fd = ::open(g_crash_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  size_t done = 0;
  while (done < g_current_size) {
    ssize_t n = ::write(fd, g_current_data + done, g_current_size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  static const char kNote[] = "\nfuzz replay: crashing input saved to ";
  [[maybe_unused]] ssize_t ignored = ::write(2, kNote, sizeof kNote - 1);
  ignored = ::write(2, g_crash_path, std::strlen(g_crash_path));
  ignored = ::write(2, "\n", 1);
  g_current_data = nullptr;
}

void OnFatalSignal(int signo) {
  SaveCurrentInput();
  ::signal(signo, SIG_DFL);
  ::raise(signo);
}

// splitmix64: small, fast and identical everywhere.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // Uniform-enough value in [0, bound); bound > 0.
  size_t Below(size_t bound) { return static_cast<size_t>(Next() % bound); }
  uint8_t Byte() { return static_cast<uint8_t>(Next()); }

 private:
  uint64_t state_;
};

bool ReadFile(const std::filesystem::path& path, Bytes* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Runs one input from an exactly sized heap block, so reads past the end are
// caught by AddressSanitizer as they are under libFuzzer.
void RunOne(const Bytes& input) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[input.size()]);
  if (!input.empty()) std::memcpy(copy.get(), input.data(), input.size());
  g_current_data = copy.get();
  g_current_size = input.size();
  LLVMFuzzerTestOneInput(copy.get(), input.size());
  g_current_data = nullptr;
  g_current_size = 0;
}

const uint8_t kInteresting[] = {0x00, 0x01, 0x7f, 0x80, 0xff, 0x20, 0x0a, 0x0d, '0', '9', '{', '"'};

void MutateOnce(Bytes& data, const std::vector<Bytes>& corpus, size_t max_length, Rng& rng) {
  switch (rng.Below(9)) {
    case 0:  // flip one bit
      if (!data.empty()) data[rng.Below(data.size())] ^= static_cast<uint8_t>(1u << rng.Below(8));
      break;
    case 1:  // overwrite one byte with a random value
      if (!data.empty()) data[rng.Below(data.size())] = rng.Byte();
      break;
    case 2:  // overwrite one byte with a boundary or syntax value
      if (!data.empty()) {
        data[rng.Below(data.size())] = kInteresting[rng.Below(sizeof kInteresting)];
      }
      break;
    case 3:  // truncate
      data.resize(data.empty() ? 0 : rng.Below(data.size() + 1));
      break;
    case 4: {  // insert 1..16 random bytes
      size_t at = rng.Below(data.size() + 1);
      size_t count = 1 + rng.Below(16);
      Bytes fresh(count);
      for (auto& b : fresh) b = rng.Byte();
      data.insert(data.begin() + static_cast<std::ptrdiff_t>(at), fresh.begin(), fresh.end());
      break;
    }
    case 5: {  // delete a range
      if (data.empty()) break;
      size_t at = rng.Below(data.size());
      size_t count = 1 + rng.Below(std::min<size_t>(data.size() - at, 32));
      auto first = data.begin() + static_cast<std::ptrdiff_t>(at);
      data.erase(first, first + static_cast<std::ptrdiff_t>(count));
      break;
    }
    case 6: {  // duplicate a chunk of the input in place
      if (data.empty()) break;
      size_t at = rng.Below(data.size());
      size_t count = 1 + rng.Below(std::min<size_t>(data.size() - at, 64));
      Bytes chunk(data.begin() + static_cast<std::ptrdiff_t>(at),
                  data.begin() + static_cast<std::ptrdiff_t>(at + count));
      size_t to = rng.Below(data.size() + 1);
      data.insert(data.begin() + static_cast<std::ptrdiff_t>(to), chunk.begin(), chunk.end());
      break;
    }
    case 7: {  // splice: our prefix + a suffix of another corpus file
      const Bytes& other = corpus[rng.Below(corpus.size())];
      size_t keep = rng.Below(data.size() + 1);
      size_t from = rng.Below(other.size() + 1);
      data.resize(keep);
      data.insert(data.end(), other.begin() + static_cast<std::ptrdiff_t>(from), other.end());
      break;
    }
    default: {  // copy a chunk of another corpus file over/into ours
      const Bytes& other = corpus[rng.Below(corpus.size())];
      if (other.empty()) break;
      size_t from = rng.Below(other.size());
      size_t count = 1 + rng.Below(std::min<size_t>(other.size() - from, 64));
      size_t to = rng.Below(data.size() + 1);
      data.insert(data.begin() + static_cast<std::ptrdiff_t>(to),
                  other.begin() + static_cast<std::ptrdiff_t>(from),
                  other.begin() + static_cast<std::ptrdiff_t>(from + count));
      break;
    }
  }
  if (data.size() > max_length) data.resize(max_length);
}

bool ParseCount(const char* text, uint64_t* out) {
  if (*text == '\0') return false;
  char* end = nullptr;
  unsigned long long value = std::strtoull(text, &end, 0);
  if (*end != '\0') return false;
  *out = value;
  return true;
}

int Usage(const char* argv0) {
  std::fprintf(stderr, "usage: %s <corpus-dir-or-file>... [iterations (default %llu)] [seed]\n",
               argv0, static_cast<unsigned long long>(kDefaultIterations));
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string program = std::filesystem::path(argv[0]).filename().string();
  std::snprintf(g_crash_path, sizeof g_crash_path, "%s.crash", program.c_str());

  // Arguments: paths first, then up to two numbers.
  std::vector<std::filesystem::path> paths;
  std::vector<uint64_t> numbers;
  for (int i = 1; i < argc; ++i) {
    uint64_t value = 0;
    if (!paths.empty() && ParseCount(argv[i], &value)) {
      numbers.push_back(value);
    } else if (numbers.empty()) {
      paths.emplace_back(argv[i]);
    } else {
      return Usage(argv[0]);
    }
  }
  if (paths.empty() || numbers.size() > 2) return Usage(argv[0]);
  const uint64_t iterations = numbers.size() > 0 ? numbers[0] : kDefaultIterations;
  const uint64_t seed = numbers.size() > 1 ? numbers[1] : kDefaultSeed;

  // Corpus files in a stable order, so runs are reproducible across machines.
  std::vector<std::filesystem::path> files;
  for (const auto& path : paths) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(path, ec)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
      if (ec) {
        std::fprintf(stderr, "%s: cannot list %s: %s\n", program.c_str(), path.c_str(),
                     ec.message().c_str());
        return 2;
      }
    } else if (std::filesystem::is_regular_file(path, ec)) {
      files.push_back(path);
    } else {
      std::fprintf(stderr, "%s: no such file or directory: %s\n", program.c_str(), path.c_str());
      return 2;
    }
  }
  std::sort(files.begin(), files.end());

  std::vector<Bytes> corpus;
  size_t largest = 0;
  for (const auto& file : files) {
    Bytes data;
    if (!ReadFile(file, &data)) {
      std::fprintf(stderr, "%s: cannot read %s\n", program.c_str(), file.c_str());
      return 2;
    }
    largest = std::max(largest, data.size());
    corpus.push_back(std::move(data));
  }

  // Sanitizers report memory errors themselves and then run the death callback;
  // only without them do the fatal signals need our handler. abort() (failed
  // asserts and preconditions) is not a sanitizer report, so it always does.
  if (__sanitizer_set_death_callback != nullptr) {
    __sanitizer_set_death_callback(SaveCurrentInput);
  } else {
    for (int signo : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) ::signal(signo, OnFatalSignal);
  }
  ::signal(SIGABRT, OnFatalSignal);

  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);

  for (const auto& input : corpus) RunOne(input);

  // An empty corpus still gets mutated inputs, grown from nothing.
  if (corpus.empty()) corpus.emplace_back();
  const size_t max_length = std::max(kMinMaxLength, 2 * largest);
  Rng rng(seed);
  Bytes input;
  for (uint64_t i = 0; i < iterations; ++i) {
    input = corpus[rng.Below(corpus.size())];
    const size_t steps = 1 + rng.Below(4);
    for (size_t s = 0; s < steps; ++s) MutateOnce(input, corpus, max_length, rng);
    RunOne(input);
  }

  std::printf("%s: %zu corpus inputs and %llu mutations (seed %llu) ran cleanly\n", program.c_str(),
              files.size(), static_cast<unsigned long long>(iterations),
              static_cast<unsigned long long>(seed));
  return 0;
}
