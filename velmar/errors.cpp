#include "errors.h"

#include <cerrno>

namespace velmar {

std::string EInOutError::FileErrorText(int code) {
    switch (code) {
        case 2: return "File not found";
        case 3: return "Invalid filename";
        case 4: return "Too many open files";
        case 5: return "File access denied";
        case 100: return "Read beyond end of file";
        case 101: return "Disk full";
        case 106: return "Invalid numeric input";
        default: return "I/O error " + std::to_string(code);
    }
}

EInOutError EInOutError::FromErrno(int err) {
    switch (err) {
        case ENOENT: return EInOutError(2);
        case ENOTDIR:
        case ENAMETOOLONG:
        case EINVAL: return EInOutError(3);
        case EMFILE:
        case ENFILE: return EInOutError(4);
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
        case ETXTBSY: return EInOutError(5);
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return EInOutError(101);
        // Clear of every code with a text of its own, so EIO never reads as access denied.
        default: return EInOutError(kOtherErrnoBase + err);
    }
}

const char* ClassNameOf(const std::exception& e) {
    if (auto* v = dynamic_cast<const Exception*>(&e)) return v->ClassName();
    if (dynamic_cast<const std::bad_alloc*>(&e)) return "EOutOfMemory";
    return "Exception";
}

}  // namespace velmar
