#pragma once

namespace quendle {

// Past its file-size limit a process gets SIGXFSZ, whose default action ends it in the middle of
// a write without a word to the user. With the signal ignored the write fails instead (EFBIG), so
// replaceFile() keeps the old page and reports why. Every program calls this first in main(),
// before any thread starts.
void failWritesPastFileSizeLimit();

} // namespace quendle
