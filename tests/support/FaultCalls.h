#pragma once
// The kinds of system call that the fault tests make fail, each occurrence
// in turn, with the name a failure message gives it: every call of the
// seam. One list, so that the file layer's fault tests and the window's
// walk through the same calls.

#include "store/io/FileSystem.h"

namespace vrindel {

struct CallKind {
    FileSystem::Call call;
    const char* name;
};

inline constexpr CallKind CallKinds[] = {
    {FileSystem::Call::Open, "open"},           {FileSystem::Call::Read, "read"},
    {FileSystem::Call::Write, "write"},         {FileSystem::Call::Fsync, "fsync"},
    {FileSystem::Call::Rename, "rename"},       {FileSystem::Call::Close, "close"},
    {FileSystem::Call::Stat, "stat"},           {FileSystem::Call::Lstat, "lstat"},
    {FileSystem::Call::Readlink, "readlink"},   {FileSystem::Call::Fstat, "fstat"},
    {FileSystem::Call::Fchmod, "fchmod"},       {FileSystem::Call::Unlink, "unlink"},
    {FileSystem::Call::Fchown, "fchown"},       {FileSystem::Call::Ftruncate, "ftruncate"},
    {FileSystem::Call::Fallocate, "fallocate"}, {FileSystem::Call::Link, "link"},
    {FileSystem::Call::Pread, "pread"},         {FileSystem::Call::Pwrite, "pwrite"},
    {FileSystem::Call::Mkdir, "mkdir"},         {FileSystem::Call::CopyAccess, "copyAccess"},
    {FileSystem::Call::ListFolder, "listFolder"},
};

}  // namespace vrindel
