// Reading compressed input with libarchive: a gzip-compressed file (a flight recording),
// or one member of a gzip-compressed tar archive (a support report).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace tavo {

// True when the file at path begins with the gzip magic bytes (1Fh 8Bh).
bool IsGzipFile(const std::string& path);

// The decompressed text of path. A plain gzip file gives its content; a tar archive gives
// the first member whose name ends with memberSuffix (error says so when none does).
// Reads at most limit + 1 bytes, so a caller can tell "more than limit". A plain gzip
// stream cut short gives what came before the cut (a flight recording of a run that died
// is still read up to its last whole line). Nothing on failure, with error saying why in a few
// words.
std::optional<std::string> ReadCompressedText(const std::string& path,
                                              const std::string& memberSuffix, size_t limit,
                                              std::string& error);

}  // namespace tavo
