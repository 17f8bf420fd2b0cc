// Locks shared out by address, for objects that exist by the hundred thousand (zip
// entries) and would otherwise each carry a mutex of their own. Each table is a separate
// set of locks: code that holds a lock of one table may take a lock of a later table
// (KQUHashLocks before KQUValueLocks), never the other way round, and never two of one.
#pragma once

#include <mutex>

namespace kqu {

enum class KQULockTable { KQUHashLocks, KQUValueLocks };
std::mutex& KQUStripedLock(KQULockTable table, const void* object);

}  // namespace kqu
