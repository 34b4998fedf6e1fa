#pragma once
// How the process takes its memory from the system, set once at start.

namespace vrindel {

// Large blocks (the lists of a big catalogue, its sort's scratch, the find
// dialog's index) each in memory of their own, given back when freed. By
// default glibc raises its threshold for that after the first large free,
// and the next lists come from the heap, whose freed middle is kept: the
// window with a million records and its find dialog open then held about
// 9 MB more at its peak. Call before anything large is allocated.
void giveLargeBlocksBack();

}  // namespace vrindel
