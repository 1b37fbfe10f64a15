#pragma once

#include <memory>

#include <openssl/evp.h>

namespace velk::test {

// RSA-2048 keys for tests. Generating one takes a noticeable fraction of a
// second, and every test case runs as a process of its own that needs several
// (a CA, the fake agency's servers, the user), so the keys come from a pool
// file kept in the build tree: the first process that needs it writes it
// under a file lock, and later ones only read it. Each call within one process
// returns a different key; past the pool's size fresh keys are generated.
// Without a usable pool folder every key is generated fresh.
std::shared_ptr<EVP_PKEY> pooledRsa2048Key();

}  // namespace velk::test
