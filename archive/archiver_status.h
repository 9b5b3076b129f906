#pragma once
// What the main entry point of an archiver library returns, beside the
// report it writes. The report says "error" whenever no archive was made, so
// a caller that reads only the report still tells success from failure; the
// return value also tells the one failure the caller handles apart.

namespace tessarine {

inline constexpr int kArchiverDone = 0;     // every entry is in the archive
inline constexpr int kArchiverLeftOut = 1;  // archive made; the left-out list says what it lacks
inline constexpr int kArchiverFailed = 2;   // no archive; the report says why
// No archive, because memory ran out in the library. The job fails as a
// whole, as when memory runs out anywhere else in it: any entry left out
// for it would be a loss the user did not choose, and the next one would
// fail the same way.
inline constexpr int kArchiverOutOfMemory = 3;

}  // namespace tessarine
