// Account credentials: password hashes and account ids. Passwords are kept
// only as salted libsodium hash strings; account ids (GIDs) are 128 random
// bits, never all zero, since the GID is the only credential a sync request
// carries.
#pragma once

#include <string>

#include "brontel/core/uid128.h"

namespace brontel::server {

// How much work a password hash costs. Servers use kInteractive; kMinimal is
// for fuzzing, where every hash is thrown away.
enum class PasswordCost { kInteractive, kMinimal };

// A salted hash string of password (crypto_pwhash_str); throws
// std::runtime_error when libsodium cannot make one (out of memory).
std::string HashPassword(const std::string& password, PasswordCost cost);
// True when password matches hash, made by HashPassword.
bool VerifyPassword(const std::string& hash, const std::string& password);
// A fresh random account id.
UID128 NewGid();

}  // namespace brontel::server
