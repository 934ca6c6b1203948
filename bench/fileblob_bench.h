// Reading and writing a 256 MiB file through the file blob's IBlob::Read and Write in 64 KiB
// requests, against plain ReadFile and WriteFile on the same file in the same run.
#pragma once

namespace bench {

// Prints the rows fileblob-write and fileblob-read; false when the file blob read back other
// bytes than were written.
bool MeasureFileBlob();

}  // namespace bench
