// The test injection point of KQUCryptoUtils: known random bytes make byte-exact known
// answers (IVs, nonces, verifiers) possible. For the library's own tests and tools only;
// this header is not installed.
//
// The source is process-wide and guarded by a lock, so it may be swapped from any thread,
// but a test that installs one must restore the previous source before it ends.
#pragma once

#include "kqutility/crypto/KQUCryptoUtils.h"

namespace kqu {

struct KQUCryptoUtilsTesting {
    // Replaces the random source of KQUCryptoUtils::generateRandomDataInBuffer and returns
    // the previous one; an empty source restores RAND_bytes.
    static KQUCryptoUtils::RandomSource setRandomSource(KQUCryptoUtils::RandomSource source);
};

}  // namespace kqu
