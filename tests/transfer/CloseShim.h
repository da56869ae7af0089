#pragma once

#include <string>

namespace qb::test {

// While it lives, close() of any file named `fileName` closes the file and answers EIO. Only in test
// executables that link CloseShim.cpp.
class CloseFailure {
public:
    explicit CloseFailure(std::string fileName);
    ~CloseFailure();
    CloseFailure(const CloseFailure&) = delete;
    CloseFailure& operator=(const CloseFailure&) = delete;
};

}  // namespace qb::test
