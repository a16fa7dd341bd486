// Writing a whole file so that no reader ever sees half of it and a failure keeps the old one.
#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

namespace lumenvale {

// Calls `write` with a temporary name in the target's directory, then renames the finished
// temporary over `target`. If `write` throws or the rename fails, the temporary is removed,
// `target` is left as it was, and a FileError naming `target` is thrown.
void WriteFileSafely(const std::filesystem::path& target,
                     const std::function<void(const std::filesystem::path& temporary)>& write);

// The same for a file whose whole content is `bytes`.
void WriteFileSafely(const std::filesystem::path& target, std::string_view bytes);

} // namespace lumenvale
