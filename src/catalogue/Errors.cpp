#include "Errors.h"

#include <cerrno>

// Marks a text that vrindel-cli's translations carry; the window shows
// these as they are.
#define N_(text) text

namespace vrindel {

ListError ListError::outOfBounds(long long index) {
    return ListError("List index out of bounds (" + std::to_string(index) + ")");
}

std::string ioErrorText(int code) {
    switch (code) {
    case io::FileNotFound: return N_("File not found");
    case io::InvalidFilename: return N_("Invalid filename");
    case io::TooManyOpenFiles: return N_("Too many open files");
    case io::AccessDenied: return N_("File access denied");
    case io::ReadPastEnd: return N_("Read beyond end of file");
    case io::DiskFull: return N_("Disk full");
    case io::InvalidNumericInput: return N_("Invalid numeric input");
    case io::FileChanged: return N_("File was replaced by another program");
    case io::FileTooLarge: return N_("File too large");
    case io::ChangedMeanwhile: return N_("File was changed by another program");
    case io::KeepsChanging: return N_("File keeps being changed by another program");
    case io::JournalNotWritten: return N_("The rollback journal could not be written");
    case io::JournalPending: return N_("An interrupted save's journal must be resolved first");
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
