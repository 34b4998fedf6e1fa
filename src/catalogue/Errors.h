#pragma once
// The two kinds of run-time error that end a handler: an index outside a
// list, and a failed input or output call. The window shows either through
// its generic error message; the library never shows anything itself.

#include <stdexcept>
#include <string>

namespace vrindel {

class ListError : public std::runtime_error {
public:
    explicit ListError(const std::string& text) : std::runtime_error(text) {}
    // "List index out of bounds (%d)"
    static ListError outOfBounds(long long index);
};

// An input or output error. `code` is the file layer's own code (2, 3, 4,
// 5, 100, 101, 102, 103) or, for an operating-system error we have no code
// for, the errno value itself.
class IoError : public std::runtime_error {
public:
    IoError(int code, const std::string& text) : std::runtime_error(text), code_(code) {}
    int code() const noexcept { return code_; }

    // The error raised for one of the file layer's codes, with its text.
    static IoError fromCode(int code);
    // The error raised for a failed system call.
    static IoError fromErrno(int err);

private:
    int code_;
};

// File layer codes.
namespace io {
inline constexpr int FileNotFound = 2;
inline constexpr int InvalidFilename = 3;
inline constexpr int TooManyOpenFiles = 4;
inline constexpr int AccessDenied = 5;
inline constexpr int ReadPastEnd = 100;
inline constexpr int DiskFull = 101;
inline constexpr int FileNotAssigned = 102;
inline constexpr int FileNotOpen = 103;
inline constexpr int InvalidNumericInput = 106;
// The name no longer leads to the file that was read: another program put
// a different file, or a link to one, in its place.
inline constexpr int FileChanged = 150;
// The file grew past the size a process may write (ulimit -f).
inline constexpr int FileTooLarge = 151;
// Another program wrote to the file between the merge of its records and
// the save; the save starts again from a new merge.
inline constexpr int ChangedMeanwhile = 152;
// ...and went on doing so every time: the save gives up.
inline constexpr int KeepsChanging = 153;
// An in-place save found no folder to put its rollback journal in: the
// file was not touched. The error's text says where it tried.
inline constexpr int JournalNotWritten = 154;
// An earlier save's journal is there but cannot be applied by this process
// (it cannot read it, or putting the file back failed): saving over the
// half-written file would make the damage permanent.
inline constexpr int JournalPending = 155;
}  // namespace io

// The text shown for a file layer code: "File not found", ..., or
// "I/O error N" for any code without a text of its own.
std::string ioErrorText(int code);

// The file layer code for an errno, or 0 when the errno has none (and is
// then reported as "I/O error N" with its own number).
int ioCodeForErrno(int err);

}  // namespace vrindel
