// The byte positions of an open frame file, as the inner loops of the processing steps use them.
#pragma once

#include "frames/FrameFile.h"

#include <cstddef>
#include <cstdint>

namespace lumenvale {

// Reads and writes single bytes of a FrameFile at 1-based positions, exactly as the file's own
// ReadByte and WriteByte do. A step makes one on the stack for each pass over a file: being a
// local whose address never escapes, the compiler keeps its pointer, size and the extent of
// the changes in registers, which a byte store through the file object would force back to
// memory on every call. The changes are handed to the file when the access ends, which must
// be before the file is closed.
class FrameAccess {
public:
    explicit FrameAccess(FrameFile& file)
        : file_(file), bytes_(file.bytes_.get()), size_(file.size_) {
        ++file.accesses_;
    }
    ~FrameAccess() {
        file_.noteChanged(changedBegin_, changedEnd_);
        --file_.accesses_;
    }
    FrameAccess(const FrameAccess&) = delete;
    FrameAccess& operator=(const FrameAccess&) = delete;

    std::uint8_t readByte(std::size_t position) const {
        if (position - 1 >= size_) {
            file_.outsideFrame(position);
        }
        return bytes_[position - 1];
    }

    // Only a byte that really changes counts, so a pass that rewrites what is there leaves the
    // file unwritten.
    void writeByte(std::size_t position, std::uint8_t value) {
        if (position - 1 >= size_) {
            file_.outsideFrame(position);
        }
        const std::size_t index = position - 1;
        if (bytes_[index] != value) {
            bytes_[index] = value;
            changedBegin_ = index < changedBegin_ ? index : changedBegin_;
            changedEnd_ = index + 1 > changedEnd_ ? index + 1 : changedEnd_;
        }
    }

    std::size_t dataOffset() const { return readByte(DataOffsetPosition); }

private:
    FrameFile& file_;
    std::uint8_t* bytes_;
    std::size_t size_;
    std::size_t changedBegin_ = SIZE_MAX;
    std::size_t changedEnd_ = 0;
};

} // namespace lumenvale
