#include "Workloads.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace qb::bench {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kBlock = 1 << 20;

class Noise {
public:
    explicit Noise(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    void fill(std::vector<char>& block) {
        for (std::size_t at = 0; at + sizeof state_ <= block.size(); at += sizeof state_) {
            const auto value = next();
            std::memcpy(block.data() + at, &value, sizeof value);
        }
    }

private:
    std::uint64_t state_;
};

void writeFile(const fs::path& path, std::uint64_t size, Noise& noise, std::vector<char>& block) {
    std::ofstream out(path, std::ios::binary);
    for (std::uint64_t written = 0; written < size;) {
        noise.fill(block);
        const auto now = std::min<std::uint64_t>(block.size(), size - written);
        out.write(block.data(), static_cast<std::streamsize>(now));
        written += now;
    }
}

}  // namespace

void writeBigFile(const fs::path& path, std::uint64_t size) {
    Noise noise(0x9E3779B97F4A7C15ULL);
    std::vector<char> block(kBlock);
    writeFile(path, size, noise, block);
}

void writeSmallFiles(const fs::path& folder, int count, std::size_t size) {
    fs::create_directories(folder);
    Noise noise(0x2545F4914F6CDD1DULL);
    std::vector<char> block(std::max<std::size_t>(size, 8));
    for (int index = 0; index < count; ++index) {
        std::string name = std::to_string(index);
        name.append(".bin");
        writeFile(folder / name, size, noise, block);
    }
}

void writeMixedTree(const fs::path& folder, int count, std::uint64_t totalBytes) {
    Noise noise(0x5851F42D4C957F2DULL);
    // Cubed weights: most files are small, a few take most of the bytes.
    std::vector<double> weights;
    double weightSum = 0;
    for (int index = 0; index < count; ++index) {
        const double weight = std::pow(static_cast<double>(noise.next() % 1000 + 1), 3);
        weights.push_back(weight);
        weightSum += weight;
    }
    std::vector<char> block(kBlock);
    for (int index = 0; index < count; ++index) {
        fs::path place = folder;
        for (int depth = 0; depth < index % 5; ++depth) {
            std::string part = "d";
            part.append(std::to_string((index / 5 + depth) % 7));
            place /= part;
        }
        fs::create_directories(place);
        std::string name = "f";
        name.append(std::to_string(index));
        name.append(".dat");
        const auto size = static_cast<std::uint64_t>(static_cast<double>(totalBytes) * weights[index] / weightSum);
        writeFile(place / name, size, noise, block);
    }
}

}  // namespace qb::bench
