#pragma once

#include <functional>
#include <string>

class TStream;

// Writes a file through a temporary file in the same folder and renames it into place only when
// `write` succeeded, so a failure leaves an existing file untouched and never a partial one. A new
// file gets the usual permissions; a replaced file keeps its own. A symbolic link is written through
// to the file it names. Raises "Cannot create file %s" when the folder does not take the file or an
// existing file could not be opened for writing (read-only, not a regular file); whatever `write`
// raises passes through.
void WriteFileAtomically(const std::string& fileName, const std::function<void(TStream&)>& write);
