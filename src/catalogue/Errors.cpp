#include "Errors.h"

#include <cerrno>

namespace vrindel {

ListError ListError::outOfBounds(long long index) {
    return ListError("List index out of bounds (" + std::to_string(index) + ")");
}

std::string ioErrorText(int code) {
    switch (code) {
    case io::FileNotFound: return "File not found";
    case io::InvalidFilename: return "Invalid filename";
    case io::TooManyOpenFiles: return "Too many open files";
    case io::AccessDenied: return "File access denied";
    case io::ReadPastEnd: return "Read beyond end of file";
    case io::DiskFull: return "Disk full";
    case io::InvalidNumericInput: return "Invalid numeric input";
    case io::FileChanged: return "File was replaced by another program";
    case io::FileTooLarge: return "File too large";
    case io::ChangedMeanwhile: return "File was changed by another program";
    case io::KeepsChanging: return "File keeps being changed by another program";
    default: return "I/O error " + std::to_string(code);
    }
}

int ioCodeForErrno(int err) {
    switch (err) {
    case ENOENT: return io::FileNotFound;
    case ENAMETOOLONG: return io::InvalidFilename;
    case EMFILE:
    case ENFILE: return io::TooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ETXTBSY: return io::AccessDenied;
    case ENOSPC:
    case EDQUOT: return io::DiskFull;
    case EFBIG: return io::FileTooLarge;
    default: return 0;
    }
}

IoError IoError::fromCode(int code) { return IoError(code, ioErrorText(code)); }

IoError IoError::fromErrno(int err) {
    if (int code = ioCodeForErrno(err))
        return fromCode(code);
    // Reported with the system's own number, never under a file layer text
    // that happens to share it (EIO is 5, which is not "access denied").
    return IoError(err, "I/O error " + std::to_string(err));
}

}  // namespace vrindel
