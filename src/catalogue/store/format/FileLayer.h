#pragma once
// The file layer: file variables read and written in whole fixed-size
// records, over a seam of operating-system calls that tests can make fail.
//
// Only regular files are read and written: a link is followed to one (see
// HeldFile for which links), and anything else at a name (a FIFO, a device,
// a socket, a folder, a link that loops or leads into a missing folder) is
// refused before it is opened for writing, never created over or replaced.
//
// A variable that holds its file (hold()) resolves its name once; from then
// on every read and write goes to that folder and that name, and a rewrite
// raises FileChanged when the name has come to lead elsewhere.
//
// A rewrite is a safe rewrite (SafeRewrite.h): a failure before the end
// leaves the old file byte for byte as it was.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Errors.h"
#include "store/held/FileIdentity.h"
#include "store/held/HeldFile.h"
#include "store/io/ContentHash.h"
#include "store/io/FileSystem.h"
#include "store/save/SafeRewrite.h"

namespace vrindel {

// A file variable: bound to a name, opened, used and closed within one
// procedure. Failures raise IoError with the file layer's codes.
class FileVar {
public:
    explicit FileVar(FileSystem& fs = systemFileSystem()) : fs_(&fs) {}
    ~FileVar();
    FileVar(const FileVar&) = delete;
    FileVar& operator=(const FileVar&) = delete;

    void setFileSystem(FileSystem& fs) { fs_ = &fs; }

    // Binding touches nothing on disk. Binding to another name lets go of
    // a held file; binding to the same name again keeps it.
    void assign(std::string name);
    const std::string& name() const { return name_; }

    // Resolves the name now and keeps where it led for every later call.
    void hold();
    bool held() const { return held_; }
    // Where the name leads: the held place, or where it leads now.
    const HeldFile& place();
    // Raises FileChanged when the name no longer leads to the held place
    // (never, unheld), or the error that kept it from telling.
    void requireHeldPlace();
    // What is at the place now, links not followed; absent when nothing is.
    FileIdentity currentIdentity();

    // False only when nothing is at the name (nor, for a link, at its
    // target in a folder that is there) and for a folder, which has always
    // counted as missing. Anything else exists, even when it cannot be
    // opened: a FIFO, a device, a link that loops, leads into a missing
    // folder or may not be followed. A failure to tell is raised.
    bool exists();

    // Opens an existing regular file for reading. Like the format's first
    // readers it asks for write access as well, so a read-only file is
    // refused (5); so is anything that is not a regular file.
    void reset(std::size_t recordSize);
    // A variable for reading only asks for read access alone, so that a file
    // on a read-only mount or disc, or one the user may only read, can be
    // looked at; it refuses every rewrite (5).
    void setReadingOnly(bool only) { readingOnly_ = only; }
    // Begins rewriting the file whole. The target must be a writable regular
    // file if it exists (5 otherwise, before anything is written). `records`
    // is how many records will be written, so that an in-place rewrite can
    // reserve their room first. With `expected`, the target must still be
    // that file (or still absent), and a held name must still lead to it:
    // anything else raises FileChanged. The file must also still be as
    // `expected` describes it (size and times), when the rewrite begins and
    // again just before a new file takes its place: otherwise the rewrite
    // stops, nothing changed, with ChangedMeanwhile.
    void rewrite(std::size_t recordSize, std::uint64_t records = 0, const FileIdentity* expected = nullptr);

    // Reads one record. A short one is copied as far as it goes and then
    // fails with 100.
    void readRecord(void* record);
    void writeRecord(const void* record);
    // Whether the position, in whole records, has reached the file's size
    // in whole records.
    bool eof() const;
    std::uint64_t sizeInRecords() const { return recordSize_ ? fileSize_ / recordSize_ : 0; }

    // Closing a variable that is not open fails with 103. Closing a rewrite
    // flushes, syncs and renames; on failure the old file is untouched.
    void close();
    bool isOpen() const { return mode_ != Mode::Closed; }

    // Called with the new file's descriptor just before it takes the old
    // one's place (the lock moves with the catalogue); may raise to stop.
    void beforeReplacing(std::function<void(int fd)> hook) { beforeReplacing_ = std::move(hook); }

    // The file the last reset() opened, or the last rewrite wrote.
    const FileIdentity& identity() const { return identity_; }
    // The bytes the last reset() has read so far, or the last rewrite wrote.
    const ContentHash& content() const { return content_; }
    // Whether the last rewrite failed in place and could not put the file
    // back: its journal will, at the next opening.
    bool rollbackPending() const { return rewrite_ && rewrite_->rollbackPending(); }
    // The way the last rewrite took, and why.
    SaveWay lastWay() const { return rewrite_ ? rewrite_->way() : SaveWay::Replace; }
    SaveReason lastReason() const { return rewrite_ ? rewrite_->reason() : SaveReason::NewFile; }
    bool rewroteInPlace() const { return lastWay() == SaveWay::InPlace; }
    // errno of a folder sync that failed after the last rewrite had renamed
    // its file into place (0 when it succeeded): the save is done, but may
    // not survive a power cut.
    int folderSyncError() const { return rewrite_ ? rewrite_->folderSyncError() : 0; }

private:
    enum class Mode { Closed, Reading, Writing };

    void flushWrites();
    void abandonRewrite() noexcept;
    int openRetrying(int dir, const std::string& name, int flags, mode_t mode);

    FileSystem* fs_;
    bool readingOnly_ = false;
    std::string name_;
    HeldFile place_;
    bool held_ = false;
    Mode mode_ = Mode::Closed;
    int fd_ = -1;                  // reading
    std::size_t recordSize_ = 0;
    std::uint64_t fileSize_ = 0;
    std::uint64_t position_ = 0;   // in bytes

    std::vector<unsigned char> buffer_;
    std::size_t bufferAt_ = 0;     // reading: next unread byte in buffer_
    bool endReached_ = false;

    // Writing, and after it what it did: kept until the next rewrite.
    std::unique_ptr<SafeRewrite> rewrite_;
    ContentHash content_;
    std::function<void(int)> beforeReplacing_;
    FileIdentity identity_;
};

}  // namespace vrindel
