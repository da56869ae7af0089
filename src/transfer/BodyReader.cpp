#include "transfer/BodyReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace qb::transfer {

namespace {

// Reads until `count` bytes are in, the file ends or a read gives less than it was asked for: a regular file
// does that only at its end, so the last read of a file needs no further call to see the end. -1 on a read
// error.
ssize_t readUpTo(int file, std::uint8_t* into, std::size_t count) {
    std::size_t filled = 0;
    while (filled < count) {
        const std::size_t asked = count - filled;
        const ssize_t got = ::read(file, into + filled, asked);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        filled += static_cast<std::size_t>(got);
        if (static_cast<std::size_t>(got) < asked)
            break;
    }
    return static_cast<ssize_t>(filled);
}

std::int64_t totalOf(const std::vector<SourceFile>& files) {
    std::int64_t total = 0;
    for (const auto& file : files)
        total += file.size;
    return total;
}

}  // namespace

BodyReader::BodyReader(std::vector<SourceFile> files, std::size_t maxPiece)
    : files_(std::move(files)), maxPiece_(std::max<std::size_t>(maxPiece, 1)), bodyLeft_(totalOf(files_)) {}

BodyReader::~BodyReader() {
    closeFile();
}

BodyReader::BodyReader(BodyReader&& other) noexcept
    : files_(std::move(other.files_)),
      maxPiece_(other.maxPiece_),
      nextIndex_(other.nextIndex_),
      openFile_(std::exchange(other.openFile_, -1)),
      remaining_(other.remaining_),
      bodyLeft_(other.bodyLeft_) {}

BodyReader& BodyReader::operator=(BodyReader&& other) noexcept {
    if (this != &other) {
        closeFile();
        files_ = std::move(other.files_);
        maxPiece_ = other.maxPiece_;
        nextIndex_ = other.nextIndex_;
        openFile_ = std::exchange(other.openFile_, -1);
        remaining_ = other.remaining_;
        bodyLeft_ = other.bodyLeft_;
    }
    return *this;
}

BodyReader::Status BodyReader::next(platform::Bytes& piece) {
    const auto capacity =
        static_cast<std::size_t>(std::min<std::int64_t>(bodyLeft_, static_cast<std::int64_t>(maxPiece_)));
    if (capacity == 0) {
        piece.clear();
        return Status::done;
    }
    // One spare byte past the piece: asking a file for one byte more than it should still hold shows, in the
    // same read, whether it grew.
    piece.resize(capacity + 1);
    std::size_t filled = 0;
    while (filled < capacity) {
        if (openFile_ < 0 && !openNextNonEmpty())
            return Status::failed;
        const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(remaining_, capacity - filled));
        const bool lastOfFile = static_cast<std::int64_t>(wanted) == remaining_;
        const auto got = readUpTo(openFile_, piece.data() + filled, wanted + (lastOfFile ? 1 : 0));
        if (got != static_cast<ssize_t>(wanted)) {
            closeFile();
            return Status::failed;
        }
        filled += wanted;
        remaining_ -= static_cast<std::int64_t>(wanted);
        if (lastOfFile)
            closeFile();
    }
    piece.resize(filled);
    bodyLeft_ -= static_cast<std::int64_t>(filled);
    return Status::piece;
}

bool BodyReader::openNextNonEmpty() {
    while (nextIndex_ < files_.size()) {
        const SourceFile& file = files_[nextIndex_++];
        if (file.size > 0)
            return openNext(file);
    }
    return false;
}

bool BodyReader::openNext(const SourceFile& file) {
    // O_NONBLOCK keeps a file that became a FIFO since planning from blocking the open; it has no effect on the
    // regular files that pass the check below.
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
    if (!file.followLinks)
        flags |= O_NOFOLLOW;
    int opened = -1;
    do {
        opened = ::open(file.path.c_str(), flags);
    } while (opened < 0 && errno == EINTR);
    if (opened < 0)
        return false;
    openFile_ = opened;
    struct stat info {};
    if (::fstat(openFile_, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != file.size) {
        closeFile();
        return false;
    }
    remaining_ = file.size;
    return true;
}

void BodyReader::closeFile() {
    if (openFile_ >= 0)
        ::close(openFile_);
    openFile_ = -1;
    remaining_ = 0;
}

}  // namespace qb::transfer
