// The test policy of KQUAssertionHandler: under a test harness every assertion failure
// throws KQUException("AssertionFailure", ...) after logging, so a test can see it. For the
// library's own tests only; this header is not installed.
//
// The switch is process-wide and atomic.
#pragma once

namespace kqu {

struct KQUAssertionHandlerTesting {
    static void setRaisesForTests(bool raises);
    static bool raisesForTests();
};

}  // namespace kqu
