#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/Bytes.h"
#include "transfer/SendPlan.h"

namespace qb::transfer {

// Reads the body of a plan one piece at a time. The receiver reads exactly the declared size of each file, so
// a file whose content disagrees with the plan (it shrank, grew, was replaced by something that is not a
// regular file, or cannot be read) fails the body instead of sending bytes that would shift every file after
// it. Files of size 0 are never opened.
class BodyReader {
public:
    enum class Status {
        piece,   // the next piece is ready
        done,    // every planned byte has been read
        failed,  // a file could not be read as planned
    };

    explicit BodyReader(std::vector<SourceFile> files, std::size_t maxPiece = kDefaultMaxPiece);
    ~BodyReader();
    BodyReader(const BodyReader&) = delete;
    BodyReader& operator=(const BodyReader&) = delete;
    BodyReader(BodyReader&&) noexcept;
    BodyReader& operator=(BodyReader&&) noexcept;

    // Fills `piece` with the next bytes of the body, at most maxPiece of them. A piece runs on from one file into
    // the next (the body has no framing between files), so a folder of small files goes out in few large writes
    // instead of one per file. `piece` keeps its capacity from call to call: the whole body holds one piece of
    // memory.
    Status next(platform::Bytes& piece);

    static constexpr std::size_t kDefaultMaxPiece = 1'048'576;

private:
    bool openNext(const SourceFile& file);
    bool openNextNonEmpty();
    void closeFile();

    std::vector<SourceFile> files_;
    std::size_t maxPiece_;
    std::size_t nextIndex_ = 0;
    int openFile_ = -1;
    std::int64_t remaining_ = 0;  // bytes of the open file still to read
    std::int64_t bodyLeft_ = 0;   // bytes of all files still to read
};

}  // namespace qb::transfer
