// The null object: one shared instance that stands for "an explicit nothing" where
// nullptr already means "no object given" (for example the argument of an undo record,
// where the two mean different things). Compare by identity with KQUNull::null().
#pragma once

#include <memory>

namespace kqu {

class KQUNull final {
public:
    static const std::shared_ptr<KQUNull>& null() {
        static const std::shared_ptr<KQUNull> sNull(new KQUNull());
        return sNull;
    }
    static bool isNull(const void* object) { return object == null().get(); }

private:
    KQUNull() = default;
};

}  // namespace kqu
