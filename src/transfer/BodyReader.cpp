#include "transfer/BodyReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace qb::transfer {

namespace {

// Reads until `count` bytes are in or the file ends; -1 on a read error.
ssize_t readUpTo(int file, std::uint8_t* into, std::size_t count) {
    std::size_t filled = 0;
    while (filled < count) {
        const ssize_t got = ::read(file, into + filled, count - filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        filled += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(filled);
}

}  // namespace

BodyReader::BodyReader(std::vector<SourceFile> files, std::size_t maxPiece)
    : files_(std::move(files)), maxPiece_(std::max<std::size_t>(maxPiece, 1)) {}

BodyReader::~BodyReader() {
    closeFile();
}

BodyReader::BodyReader(BodyReader&& other) noexcept
    : files_(std::move(other.files_)),
      maxPiece_(other.maxPiece_),
      nextIndex_(other.nextIndex_),
      openFile_(std::exchange(other.openFile_, -1)),
      remaining_(other.remaining_) {}

BodyReader& BodyReader::operator=(BodyReader&& other) noexcept {
    if (this != &other) {
        closeFile();
        files_ = std::move(other.files_);
        maxPiece_ = other.maxPiece_;
        nextIndex_ = other.nextIndex_;
        openFile_ = std::exchange(other.openFile_, -1);
        remaining_ = other.remaining_;
    }
    return *this;
}

BodyReader::Status BodyReader::next(platform::Bytes& piece) {
    piece.clear();
    while (openFile_ < 0) {
        if (nextIndex_ == files_.size())
            return Status::done;
        const SourceFile& file = files_[nextIndex_++];
        if (file.size == 0)
            continue;
        if (!openNext(file))
            return Status::failed;
    }
    const auto count =
        static_cast<std::size_t>(std::min<std::int64_t>(remaining_, static_cast<std::int64_t>(maxPiece_)));
    piece.resize(count);
    if (readUpTo(openFile_, piece.data(), count) != static_cast<ssize_t>(count)) {
        closeFile();
        return Status::failed;
    }
    remaining_ -= static_cast<std::int64_t>(count);
    if (remaining_ == 0) {
        // The file must end exactly where the header says it does.
        std::uint8_t beyond = 0;
        const bool endsHere = readUpTo(openFile_, &beyond, 1) == 0;
        closeFile();
        if (!endsHere)
            return Status::failed;
    }
    return Status::piece;
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
