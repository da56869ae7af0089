// Throughput and memory of a real transfer over loopback: the built executable's --send mode (a child process)
// against a TransferServer hosted in this process, plain and TLS, for one large file and for many small ones.
// Baselines measured in the same run: a raw loopback TCP copy of the same bytes into a file, and `cp -r` of
// the same tree. Everything lives in one temporary folder that is removed at the end.
//
//     bench_transfer [--big-mib N] [--small-count N] [--executable PATH]

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "identity/Identity.h"
#include "platform/NetRuntime.h"
#include "transfer/TransferServer.h"

extern char** environ;

namespace {

namespace identity = qb::identity;
namespace platform = qb::platform;
namespace transfer = qb::transfer;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kMiB = 1 << 20;
constexpr std::size_t kSmallFileSize = 4096;
constexpr auto kRunLimit = 600s;

struct Options {
    std::uint64_t bigBytes = 1024 * kMiB;
    int smallCount = 10'000;
    std::string executable = QB_QUOBBLEFIN_PATH;
};

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int index = 1; index + 1 < argc; index += 2) {
        const std::string flag = argv[index];
        const std::string value = argv[index + 1];
        if (flag == "--big-mib")
            options.bigBytes = std::stoull(value) * kMiB;
        else if (flag == "--small-count")
            options.smallCount = std::stoi(value);
        else if (flag == "--executable")
            options.executable = value;
    }
    return options;
}

// A fresh folder under the system temp folder, removed with everything in it.
class Workspace {
public:
    Workspace() {
        std::string pattern = (fs::temp_directory_path() / "qbbench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot make a temporary folder");
        path_ = pattern;
    }
    ~Workspace() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;
    fs::path operator/(const fs::path& child) const { return path_ / child; }

private:
    fs::path path_;
};

// Bytes that no layer could compress, made quickly.
void fillPseudoRandom(std::vector<char>& block, std::uint64_t& state) {
    for (std::size_t at = 0; at + sizeof state <= block.size(); at += sizeof state) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(block.data() + at, &state, sizeof state);
    }
}

void generateBig(const fs::path& path, std::uint64_t size) {
    std::ofstream out(path, std::ios::binary);
    std::vector<char> block(kMiB);
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (std::uint64_t written = 0; written < size; written += block.size()) {
        fillPseudoRandom(block, state);
        out.write(block.data(), static_cast<std::streamsize>(std::min<std::uint64_t>(block.size(), size - written)));
    }
}

void generateSmall(const fs::path& folder, int count) {
    fs::create_directories(folder);
    std::vector<char> block(kSmallFileSize);
    std::uint64_t state = 0x2545F4914F6CDD1DULL;
    for (int index = 0; index < count; ++index) {
        fillPseudoRandom(block, state);
        // Appended rather than concatenated: GCC 12 at -O3 warns falsely about "f" + std::string (-Wrestrict).
        std::string name = std::to_string(index);
        name.append(".bin");
        std::ofstream(folder / name, std::ios::binary).write(block.data(), static_cast<std::streamsize>(block.size()));
    }
}

// Peak resident memory of this process since the last reset, in KiB.
struct PeakMemory {
    static void reset() { std::ofstream("/proc/self/clear_refs") << "5"; }
    static long kib() {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("VmHWM:", 0) == 0)
                return std::stol(line.substr(6));
        }
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    }
};

double cpuSeconds(const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ownCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return cpuSeconds(usage);
}

struct ChildRun {
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKib = 0;
    int status = -1;
};

// Runs a program with its output thrown away and returns its time, exit status and peak resident memory.
ChildRun runChild(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& extraEnv) {
    std::vector<std::string> envText;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        if (!extraEnv.contains(text.substr(0, text.find('='))))
            envText.push_back(text);
    }
    for (const auto& [name, value] : extraEnv)
        envText.push_back(name + "=" + value);
    std::vector<std::string> argText = arguments;
    std::vector<char*> argv;
    std::vector<char*> envp;
    for (auto& text : argText)
        argv.push_back(text.data());
    for (auto& text : envText)
        envp.push_back(text.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ChildRun run;
    pid_t child = -1;
    const auto started = Clock::now();
    const int spawned = ::posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return run;
    int waitStatus = 0;
    rusage usage{};
    ::wait4(child, &waitStatus, 0, &usage);
    run.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    run.peakKib = usage.ru_maxrss;
    run.cpuSeconds = cpuSeconds(usage);
    run.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
    return run;
}

// A TransferServer on 127.0.0.1 that accepts everything into a fresh folder per run.
class BenchServer {
public:
    BenchServer(platform::NetRuntime& runtime, const identity::Identity* identity, fs::path inbox)
        : inbox_(std::move(inbox)) {
        transfer::ServerOptions options;
        options.runtime = &runtime;
        options.identity = identity;
        options.bindAddress = asio::ip::make_address("127.0.0.1");
        auto created = transfer::TransferServer::create(
            "Bench", [this] { return inbox_; }, options);
        if (created.error)
            throw std::system_error(created.error);
        server_ = created.server;
        server_->onFinish = [this](const std::string&, const transfer::ReceiveResult& result) {
            const std::lock_guard lock(mutex_);
            results_.push_back(result.ok());
            changed_.notify_all();
        };
        server_->start();
    }
    ~BenchServer() { server_->cancel(); }

    std::uint16_t port() const { return server_->port(); }
    const fs::path& inbox() const { return inbox_; }

    // True when the n-th transfer finished and was stored.
    bool finishedOk(std::size_t n) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kRunLimit, [&] { return results_.size() >= n; });
        return results_.size() >= n && results_[n - 1];
    }

private:
    fs::path inbox_;
    std::shared_ptr<transfer::TransferServer> server_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<bool> results_;
};

// One file from `from` over a plain loopback TCP connection into `to`, in 1 MiB pieces: what the network and
// the disk allow without any protocol.
double rawTcpCopySeconds(const fs::path& from, const fs::path& to) {
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
    const auto started = Clock::now();
    std::thread receiver([&] {
        asio::ip::tcp::socket socket(io);
        acceptor.accept(socket);
        std::ofstream out(to, std::ios::binary);
        std::vector<char> piece(kMiB);
        std::error_code error;
        for (;;) {
            const std::size_t got = asio::read(socket, asio::buffer(piece), error);
            out.write(piece.data(), static_cast<std::streamsize>(got));
            if (error)
                break;
        }
    });
    asio::ip::tcp::socket socket(io);
    socket.connect(acceptor.local_endpoint());
    std::ifstream in(from, std::ios::binary);
    std::vector<char> piece(kMiB);
    while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0)
        asio::write(socket, asio::buffer(piece.data(), static_cast<std::size_t>(in.gcount())));
    socket.close();
    receiver.join();
    return std::chrono::duration<double>(Clock::now() - started).count();
}

std::string mib(long kib) {
    std::ostringstream text;
    text.precision(1);
    text << std::fixed << static_cast<double>(kib) / 1024.0 << " MiB";
    return text.str();
}

std::string fixed(double value, int decimals = 1) {
    std::ostringstream text;
    text.precision(decimals);
    text << std::fixed << value;
    return text.str();
}

struct Case {
    std::string label;
    fs::path source;
    bool tls = false;
};

}  // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    Workspace work;
    const std::map<std::string, std::string> childEnv{{"QUOBBLEFIN_EPHEMERAL_ID", "1"},
                                                      {"HOME", (work / "home").string()},
                                                      {"XDG_CONFIG_HOME", (work / "home/config").string()},
                                                      {"XDG_DATA_HOME", (work / "home/data").string()},
                                                      {"QUOBBLEFIN_NAME", "bench"}};

    std::cout << "generating " << options.bigBytes / kMiB << " MiB and " << options.smallCount << " x 4 KiB files\n";
    generateBig(work / "big.bin", options.bigBytes);
    generateSmall(work / "small", options.smallCount);
    const double bigMB = static_cast<double>(options.bigBytes) / 1e6;

    // Baselines: the better of two runs each, so a cold first run does not flatter the figures below.
    double rawSeconds = 1e9;
    double cpSeconds = 1e9;
    for (int round = 0; round < 2; ++round) {
        rawSeconds = std::min(rawSeconds, rawTcpCopySeconds(work / "big.bin", work / "raw-copy.bin"));
        fs::remove(work / "raw-copy.bin");
        cpSeconds = std::min(
            cpSeconds, runChild({"cp", "-r", (work / "small").string(), (work / "cp-copy").string()}, {}).seconds);
        fs::remove_all(work / "cp-copy");
    }
    const double rawMBps = bigMB / rawSeconds;
    const double cpFilesPerSecond = options.smallCount / cpSeconds;
    std::cout << "baseline raw loopback TCP copy: " << fixed(rawMBps)
              << " MB/s; cp -r of the small tree: " << fixed(cpFilesPerSecond, 0) << " files/s\n";
    // What the executable costs before it sends anything: a send with no path fails at once.
    const ChildRun idle = runChild({options.executable, "--send", "127.0.0.1", "1", "v2"}, childEnv);
    std::cout << "sender that sends nothing: peak memory " << mib(idle.peakKib) << "\n";

    platform::NetRuntime runtime(2);
    std::ostringstream identityLines;
    identity::Identity receiverIdentity(
        identity::Identity::Options{false, work / "receiver-keys", work / "receiver.json", &identityLines});
    BenchServer plain(runtime, nullptr, work / "inbox-plain");
    BenchServer tls(runtime, &receiverIdentity, work / "inbox-tls");
    std::map<bool, std::size_t> runsPerServer;

    int failures = 0;
    for (const Case& item : {Case{"1 file", work / "big.bin", false}, Case{"1 file", work / "big.bin", true},
                             Case{"small files", work / "small", false}, Case{"small files", work / "small", true}}) {
        BenchServer& server = item.tls ? tls : plain;
        fs::create_directories(server.inbox());
        std::vector<std::string> arguments{options.executable, "--send", "127.0.0.1", std::to_string(server.port())};
        if (item.tls)
            arguments.push_back("key=" + receiverIdentity.ownFingerprint());
        arguments.push_back(item.source.string());
        PeakMemory::reset();
        const long serverBeforeKib = PeakMemory::kib();
        const double serverCpuBefore = ownCpuSeconds();
        const ChildRun run = runChild(arguments, childEnv);
        const bool stored = run.status == 0 && server.finishedOk(++runsPerServer[item.tls]);
        const long serverKib = PeakMemory::kib();
        const double serverCpu = ownCpuSeconds() - serverCpuBefore;
        fs::remove_all(server.inbox());
        if (!stored) {
            std::cout << item.label << (item.tls ? " TLS" : " plain") << ": FAILED (exit " << run.status << ")\n";
            ++failures;
            continue;
        }
        std::cout << (item.tls ? "TLS   " : "plain ");
        if (item.source == work / "big.bin") {
            const double mbps = bigMB / run.seconds;
            std::cout << "one " << options.bigBytes / kMiB << " MiB file: " << fixed(mbps) << " MB/s ("
                      << fixed(mbps / rawMBps, 2) << " x raw TCP copy)";
        } else {
            const double filesPerSecond = options.smallCount / run.seconds;
            std::cout << options.smallCount << " files of 4 KiB: " << fixed(filesPerSecond, 0) << " files/s ("
                      << fixed(filesPerSecond / cpFilesPerSecond, 2) << " x cp -r)";
        }
        std::cout << "; peak memory sender " << mib(run.peakKib) << ", server process " << mib(serverKib) << " ("
                  << mib(serverBeforeKib) << " before); CPU sender " << fixed(run.cpuSeconds, 2) << " s, server "
                  << fixed(serverCpu, 2) << " s of " << fixed(run.seconds, 2) << " s\n";
    }
    return failures == 0 ? 0 : 1;
}
