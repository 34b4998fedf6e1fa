#pragma once
// The label of the filesystem a folder is on, for `scan`'s default location.
//
// The filesystem is the mount /proc/self/mountinfo lists for the folder's
// device; what holds it is the mount's source when that names a block device
// or an image file, the block device of that number otherwise, and for a
// FUSE mount whose source names nothing (fusefat writes its own name there)
// the files its daemon holds open. libblkid reads the label from it. Where
// the device may not be read (a stick is root:disk 0660), the label comes
// from libblkid's cache, and then from udev's /dev/disk/by-label links;
// neither is there in every container or chroot.

#include <string>

namespace vrindel::cli {

// Empty where the filesystem has no label or none can be found.
std::string volumeLabel(const std::string& dir);

}  // namespace vrindel::cli
