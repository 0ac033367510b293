#include "server/credentials.h"

#include <sodium.h>

#include <stdexcept>

namespace brontel::server {

namespace {

void InitSodium() {
  // sodium_init may run any number of times, from any thread.
  if (sodium_init() < 0) throw std::runtime_error("libsodium cannot start");
}

}  // namespace

std::string HashPassword(const std::string& password, PasswordCost cost) {
  InitSodium();
  unsigned long long ops = cost == PasswordCost::kInteractive ? crypto_pwhash_OPSLIMIT_INTERACTIVE
                                                              : crypto_pwhash_OPSLIMIT_MIN;
  size_t memory = cost == PasswordCost::kInteractive ? crypto_pwhash_MEMLIMIT_INTERACTIVE
                                                     : crypto_pwhash_MEMLIMIT_MIN;
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(hash, password.data(), password.size(), ops, memory) != 0) {
    throw std::runtime_error("cannot hash a password");
  }
  return std::string(hash);
}

bool VerifyPassword(const std::string& hash, const std::string& password) {
  InitSodium();
  // crypto_pwhash_str_verify reads a terminated string of at most STRBYTES.
  if (hash.empty() || hash.size() >= crypto_pwhash_STRBYTES) return false;
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

UID128 NewGid() {
  InitSodium();
  uint8_t bytes[UID128::kByteCount];
  UID128 gid;
  while (gid.IsZero()) {
    randombytes_buf(bytes, sizeof bytes);
    gid = UID128(bytes);
  }
  return gid;
}

}  // namespace brontel::server
