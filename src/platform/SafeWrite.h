// Writing a whole file so that no reader ever sees half of it and a failure keeps the old one.
#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

namespace lumenvale {

// Calls `write` with a short temporary name in the target's directory, then renames the
// finished temporary over `target`. If `write` throws or the rename fails, the temporary is
// removed, `target` is left as it was, and a FileError naming `target` is thrown.
// The file replaced is respected: a read-only one is refused, a symbolic link is written
// through to the file it names, and the mode is kept. Where the directory takes no new files
// but the existing file is writable, `write` is given the file itself, and the old content is
// put back if it fails.
void WriteFileSafely(const std::filesystem::path& target,
                     const std::function<void(const std::filesystem::path& temporary)>& write);

// The same for a file whose whole content is `bytes`.
void WriteFileSafely(const std::filesystem::path& target, std::string_view bytes);

} // namespace lumenvale
