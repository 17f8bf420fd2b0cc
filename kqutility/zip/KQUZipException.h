// The exception class of the zip layer.
//
// The archive reader and writer throw KQUZipException with the library's fixed names
// ("KQUZipEndOfCentralDirectoryError", "KQUZipOutputError", ...) and reasons. It adds
// nothing to KQUException; callers that only care about name and reason may catch
// KQUException, callers that want to tell zip failures apart catch this class.
#pragma once

#include "kqutility/foundation/KQUException.h"

namespace kqu {

class KQUZipException : public KQUException {
public:
    using KQUException::KQUException;
};

}  // namespace kqu
