// KQUHasFileName: the small interface of anything that knows the path of the file or
// directory it stands for (a document, a temporary directory). fileName() answers "" when
// the object stands for no path (any more).
//
// Implementations say their own thread rules; the interface adds none.
#pragma once

#include <string>

namespace kqu {

class KQUHasFileName {
public:
    virtual ~KQUHasFileName() = default;
    virtual std::string fileName() const = 0;
};

}  // namespace kqu
