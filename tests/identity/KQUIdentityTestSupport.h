// Helpers shared by the identity tests.
#pragma once

#include <string>

#include "kqutility/foundation/KQUException.h"

namespace kqu {

// "<name>: <reason>" of the KQUException f throws, or "nothing".
template <typename F>
std::string thrownName(F f) {
    try {
        f();
    } catch (const KQUException& e) {
        return e.name() + ": " + e.reason();
    }
    return "nothing";
}

}  // namespace kqu
