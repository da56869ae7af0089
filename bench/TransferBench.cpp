// Speed, CPU and memory of real transfers over loopback, each against a baseline measured in the same run:
// the built executable's --send mode into a real receiving instance (--hidden, offscreen, accepting
// automatically, with its own settings, key store and receive folder), plain and TLS, beside the reference
// program (bench/reference) doing the same work with nothing but sockets and OpenSSL. Rounds alternate the
// two, so drift on a shared machine hits both alike. Prints one table and writes it as JSON.
//
// Sizes and round counts come from the environment (see README.md in this folder), so a quick run is possible:
//     QB_BENCH_ROUNDS=1 QB_BENCH_BIG_MIB=64 QB_BENCH_SMALL_COUNT=1000 QB_BENCH_MEMORY_MIB=0 make bench

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include <unistd.h>

#include "BenchProcess.h"
#include "Workloads.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qb::bench::Child;
using qb::bench::Environment;
using Json = nlohmann::ordered_json;

constexpr std::uint64_t kMiB = 1 << 20;
constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;
constexpr auto kStartLimit = 30s;
constexpr auto kRunLimit = 600s;

std::uint64_t fromEnvironment(const char* name, std::uint64_t fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::stoull(value) : fallback;
}

std::vector<std::uint64_t> listFromEnvironment(const char* name, std::vector<std::uint64_t> fallback) {
    const char* value = std::getenv(name);
    if (value == nullptr)
        return fallback;
    std::vector<std::uint64_t> numbers;
    std::istringstream items(value);
    for (std::string item; std::getline(items, item, ',');) {
        if (!item.empty() && std::stoull(item) > 0)
            numbers.push_back(std::stoull(item));
    }
    return numbers;
}

struct Config {
    int rounds = static_cast<int>(fromEnvironment("QB_BENCH_ROUNDS", 5));
    std::uint64_t bigBytes = fromEnvironment("QB_BENCH_BIG_MIB", 1024) * kMiB;
    int smallCount = static_cast<int>(fromEnvironment("QB_BENCH_SMALL_COUNT", 10'000));
    std::size_t smallBytes = fromEnvironment("QB_BENCH_SMALL_BYTES", 1024);
    std::uint64_t mixedBytes = fromEnvironment("QB_BENCH_MIXED_MIB", 100) * kMiB;
    int mixedCount = static_cast<int>(fromEnvironment("QB_BENCH_MIXED_COUNT", 2000));
    std::vector<std::uint64_t> memoryMiB = listFromEnvironment("QB_BENCH_MEMORY_MIB", {1024, 4096});
    bool probe = fromEnvironment("QB_BENCH_PROBE", 1) != 0;
    fs::path results = std::getenv("QB_BENCH_RESULTS") ? std::getenv("QB_BENCH_RESULTS") : "results.json";
};

// A fresh folder on the disk, removed with everything in it.
class Workspace {
public:
    Workspace() {
        const char* chosen = std::getenv("QB_BENCH_WORK");
        std::string pattern = ((chosen ? fs::path(chosen) : fs::temp_directory_path()) / "qbbench-XXXXXX").string();
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

struct Workload {
    std::string key;  // "big", "small", "mixed"
    std::string label;
    fs::path source;
    std::uint64_t bytes = 0;
    int files = 1;
    bool tls = false;
    bool perFile() const { return key == "small"; }
};

// Every run starts with the earlier runs' dirty pages on disk, so that none pays for another's writeback (the
// big workloads leave a GiB or more behind; deleted files' pages go without being written).
void settleDisk() {
    ::sync();
}

struct Sample {
    bool ok = false;
    double seconds = 0;
    double sendCpu = 0;
    double receiveCpu = 0;
    long sendPeakKib = 0;
    long receivePeakKib = 0;
};

// A device's home: settings, key store and receive folder of its own.
Environment homeEnvironment(const fs::path& home, const std::string& name) {
    return {{"HOME", home.string()},
            {"XDG_CONFIG_HOME", (home / "config").string()},
            {"XDG_DATA_HOME", (home / "data").string()},
            {"QUOBBLEFIN_NAME", name},
            {"QUOBBLEFIN_SAVEDIR", (home / "inbox").string()},
            {"QUOBBLEFIN_AUTOACCEPT", "1"},
            {"QT_QPA_PLATFORM", "offscreen"}};
}

class Bench {
public:
    Bench(Config config, Workspace& work) : config_(std::move(config)), work_(work) {}

    int run();

private:
    struct Instance {
        std::unique_ptr<Child> child;
        std::uint16_t port = 0;
        std::string key;  // empty: plain
        fs::path inbox;
    };

    std::string makeIdentity(const Environment& environment, const std::string& logName);
    // A receiving process in its own home: the application (`--hidden`), the probe, or the reference receiver.
    std::optional<Instance> startInstance(const std::string& name, bool tls, const std::string& program);
    std::optional<Instance> referenceInstance_[2];  // plain, TLS
    Sample runReference(const Workload& workload, int round);
    Sample runApp(Instance& instance, const Workload& workload, const fs::path& source);
    Json measure(const Workload& workload);
    Json memoryCheck();
    Json probe();
    void printRow(const Json& row) const;

    Config config_;
    Workspace& work_;
    Environment senderEnvironment_;
    std::optional<Instance> tlsInstance_;
    std::optional<Instance> plainInstance_;
    int failures_ = 0;
};

std::string Bench::makeIdentity(const Environment& environment, const std::string& logName) {
    Child identity({QB_QUOBBLEFIN_PATH, "--identity", (work_ / (logName + ".der")).string()}, environment,
                   work_ / (logName + ".log"));
    identity.wait(kStartLimit);
    const auto line = identity.waitForLine("fingerprint ", 0ms);
    return line ? line->substr(0, line->find(' ')) : std::string();
}

std::optional<Bench::Instance> Bench::startInstance(const std::string& name, bool tls, const std::string& program) {
    const fs::path home = work_ / name;
    fs::create_directories(home / "inbox");
    auto environment = homeEnvironment(home, name);
    Instance instance;
    instance.inbox = home / "inbox";
    const bool isReference = program == QB_REFERENCE_PATH;
    if (tls && !isReference) {
        instance.key = makeIdentity(environment, name + "-identity");
    } else if (!tls) {
        // A key store that cannot exist: the instance listens in plain TCP, as a device without a key does.
        std::ofstream(home / "no-key-store");
        environment["XDG_DATA_HOME"] = (home / "no-key-store").string();
    }
    std::vector<std::string> arguments{program};
    if (program == QB_QUOBBLEFIN_PATH)
        arguments.push_back("--hidden");
    if (isReference)
        arguments.insert(arguments.end(), {"receive", instance.inbox.string(), tls ? "tls" : "plain"});
    instance.child = std::make_unique<Child>(arguments, environment, work_ / (name + ".log"));
    const auto portLine = instance.child->waitForLine(
        program == QB_QUOBBLEFIN_PATH ? "[quobblefin] listening as " : "port ", kStartLimit);
    if (!portLine || (tls && !isReference && instance.key.empty())) {
        std::cerr << name << " did not start: " << instance.child->output() << "\n";
        return std::nullopt;
    }
    instance.port = static_cast<std::uint16_t>(std::stoul(portLine->substr(portLine->rfind(' ') + 1)));
    return instance;
}

Sample Bench::runReference(const Workload& workload, int) {
    Sample sample;
    auto& instance = referenceInstance_[workload.tls ? 1 : 0];
    if (!instance)
        return sample;
    settleDisk();
    const double cpuBefore = instance->child->cpuSeconds();
    instance->child->resetPeak();
    Child sender({QB_REFERENCE_PATH, "send", std::to_string(instance->port), workload.tls ? "tls" : "plain",
                  workload.source.string()},
                 {}, work_ / "reference-send.log");
    const auto sent = sender.wait(kRunLimit);
    std::this_thread::sleep_for(100ms);  // as for the application's receiver
    sample.ok = sent.status == 0;
    sample.seconds = sent.seconds;
    sample.sendCpu = sent.cpuSeconds;
    sample.sendPeakKib = sent.peakKib;
    sample.receiveCpu = instance->child->cpuSeconds() - cpuBefore;
    sample.receivePeakKib = instance->child->peakKib();
    if (workload.key == "big") {
        fs::remove_all(instance->inbox);
        fs::create_directories(instance->inbox);
    }
    return sample;
}

Sample Bench::runApp(Instance& instance, const Workload& workload, const fs::path& source) {
    std::vector<std::string> arguments{QB_QUOBBLEFIN_PATH, "--send", "127.0.0.1", std::to_string(instance.port)};
    if (!instance.key.empty())
        arguments.push_back("key=" + instance.key);
    arguments.push_back(source.string());
    settleDisk();
    const double cpuBefore = instance.child->cpuSeconds();
    instance.child->resetPeak();
    Child sender(arguments, senderEnvironment_, work_ / "app-send.log");
    const auto sent = sender.wait(kRunLimit);
    // The receiver's report of the arrival runs right after its "OK": give it a moment to count.
    std::this_thread::sleep_for(100ms);
    Sample sample;
    sample.ok = sent.status == 0 && sender.output().find("sent OK") != std::string::npos;
    sample.seconds = sent.seconds;
    sample.sendCpu = sent.cpuSeconds;
    sample.sendPeakKib = sent.peakKib;
    sample.receiveCpu = instance.child->cpuSeconds() - cpuBefore;
    sample.receivePeakKib = instance.child->peakKib();
    if (workload.key == "big") {
        std::error_code ignored;
        fs::remove(instance.inbox / source.filename(), ignored);
    }
    return sample;
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

Json summary(const Workload& workload, const std::vector<Sample>& samples) {
    std::vector<double> rates;
    std::vector<double> sendCpu;
    std::vector<double> receiveCpu;
    long sendPeak = 0;
    long receivePeak = 0;
    const double gib = static_cast<double>(workload.bytes) / kGiB;
    for (const auto& sample : samples) {
        if (!sample.ok)
            continue;
        rates.push_back(workload.perFile() ? workload.files / sample.seconds
                                           : static_cast<double>(workload.bytes) / kMiB / sample.seconds);
        sendCpu.push_back(sample.sendCpu / gib);
        receiveCpu.push_back(sample.receiveCpu / gib);
        sendPeak = std::max(sendPeak, sample.sendPeakKib);
        receivePeak = std::max(receivePeak, sample.receivePeakKib);
    }
    return {{"rate", median(rates)},
            {"rounds", rates.size()},
            {"cpu_s_per_gib_send", median(sendCpu)},
            {"cpu_s_per_gib_receive", median(receiveCpu)},
            {"peak_rss_mib_send", static_cast<double>(sendPeak) / 1024},
            {"peak_rss_mib_receive", static_cast<double>(receivePeak) / 1024}};
}

Json Bench::measure(const Workload& workload) {
    auto& instance = workload.tls ? tlsInstance_ : plainInstance_;
    std::vector<Sample> reference;
    std::vector<Sample> app;
    for (int round = 0; round < config_.rounds; ++round) {
        // Alternating which goes first, too, so neither always finds the other's dirty pages.
        const auto runReferenceRound = [&] { reference.push_back(runReference(workload, round)); };
        const auto runAppRound = [&] {
            app.push_back(instance ? runApp(*instance, workload, workload.source) : Sample{});
        };
        if (round % 2 == 0) {
            runReferenceRound();
            runAppRound();
        } else {
            runAppRound();
            runReferenceRound();
        }
        std::cerr << "  " << workload.label << " round " << round + 1 << ": reference " << reference.back().seconds
                  << " s, app " << app.back().seconds << " s" << (app.back().ok && reference.back().ok ? "" : " FAILED")
                  << "\n";
        failures_ += (app.back().ok ? 0 : 1) + (reference.back().ok ? 0 : 1);
    }
    Json row{{"workload", workload.label},
             {"unit", workload.perFile() ? "files/s" : "MiB/s"},
             {"reference", summary(workload, reference)},
             {"app", summary(workload, app)}};
    const double referenceRate = row["reference"]["rate"];
    row["ratio"] = referenceRate > 0 ? row["app"]["rate"].get<double>() / referenceRate : 0.0;
    printRow(row);
    return row;
}

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

void Bench::printRow(const Json& row) const {
    const auto& reference = row["reference"];
    const auto& app = row["app"];
    const int decimals = row["unit"] == "files/s" ? 0 : 1;
    const auto pair = [](const Json& left, const Json& right, const char* key, int places) {
        return fixed(left[key].get<double>(), places) + " / " + fixed(right[key].get<double>(), places);
    };
    std::printf(
        "%-28s %10s %10s %-7s %6s | %-13s %-13s | %-13s %-13s\n", row["workload"].get<std::string>().c_str(),
        fixed(reference["rate"], decimals).c_str(), fixed(app["rate"], decimals).c_str(),
        row["unit"].get<std::string>().c_str(), fixed(row["ratio"], 2).c_str(),
        pair(reference, app, "cpu_s_per_gib_send", 2).c_str(), pair(reference, app, "cpu_s_per_gib_receive", 2).c_str(),
        pair(reference, app, "peak_rss_mib_send", 1).c_str(), pair(reference, app, "peak_rss_mib_receive", 1).c_str());
    std::fflush(stdout);
}

Json Bench::memoryCheck() {
    Json result = Json::object();
    if (config_.memoryMiB.empty())
        return result;
    // A fresh instance, so that its idle figure is not the remains of the rounds above.
    auto instance = startInstance("memory", true, QB_QUOBBLEFIN_PATH);
    if (!instance) {
        ++failures_;
        return result;
    }
    std::this_thread::sleep_for(1s);
    Child idleSender({QB_QUOBBLEFIN_PATH, "--send", "127.0.0.1", "1", (work_ / "nothing-here").string()},
                     senderEnvironment_, work_ / "idle-send.log");
    result["idle_rss_mib_send"] = static_cast<double>(idleSender.wait(kStartLimit).peakKib) / 1024;
    result["idle_rss_mib_receive"] = static_cast<double>(instance->child->residentKib()) / 1024;
    result["transfers"] = Json::array();
    for (const auto mib : config_.memoryMiB) {
        const fs::path source = work_ / ("memory-" + std::to_string(mib) + ".bin");
        qb::bench::writeBigFile(source, mib * kMiB);
        const Workload workload{"big", "", source, mib * kMiB, 1, true};
        const auto sample = runApp(*instance, workload, source);
        fs::remove(source);
        failures_ += sample.ok ? 0 : 1;
        result["transfers"].push_back({{"mib", mib},
                                       {"peak_rss_mib_send", static_cast<double>(sample.sendPeakKib) / 1024},
                                       {"peak_rss_mib_receive", static_cast<double>(sample.receivePeakKib) / 1024},
                                       {"mib_per_s", static_cast<double>(mib) / sample.seconds}});
    }
    std::printf("\nmemory (MiB)  idle: sender %.1f, receiving instance %.1f\n",
                result["idle_rss_mib_send"].get<double>(), result["idle_rss_mib_receive"].get<double>());
    for (const auto& transfer : result["transfers"]) {
        std::printf("  %5llu MiB TLS transfer, peak: sender %.1f, receiver %.1f\n",
                    transfer["mib"].get<unsigned long long>(), transfer["peak_rss_mib_send"].get<double>(),
                    transfer["peak_rss_mib_receive"].get<double>());
    }
    return result;
}

Json Bench::probe() {
    if (!config_.probe)
        return nullptr;
    auto instance = startInstance("probe", true, QB_PROBE_PATH);
    if (!instance) {
        ++failures_;
        return nullptr;
    }
    const Workload workload{"big", "", work_ / "big.bin", config_.bigBytes, 1, true};
    const auto sample = runApp(*instance, workload, workload.source);
    const auto lateness = instance->child->waitForLine("lateness ", kStartLimit);
    if (!sample.ok || !lateness) {
        ++failures_;
        return nullptr;
    }
    const double worstMs = std::stod(lateness->substr(0, lateness->find(' ')));
    const auto when = lateness->find("worst ");
    std::printf(
        "\nresponsiveness: receiving main thread at worst %.0f ms late (10 ms timer, %s TLS transfer of "
        "%llu MiB at %.0f MiB/s; %s)\n",
        worstMs, "one", static_cast<unsigned long long>(config_.bigBytes / kMiB),
        static_cast<double>(config_.bigBytes) / kMiB / sample.seconds,
        when == std::string::npos ? "" : lateness->substr(when).c_str());
    return {{"worst_lateness_ms", worstMs},
            {"mib_per_s", static_cast<double>(config_.bigBytes) / kMiB / sample.seconds}};
}

Json targets(const Json& rows, const Json& memory, const Json& responsiveness) {
    Json checks = Json::array();
    const auto check = [&](const std::string& what, bool met, const std::string& figure) {
        checks.push_back({{"target", what}, {"met", met}, {"figure", figure}});
        std::printf("  [%s] %s: %s\n", met ? "met   " : "MISSED", what.c_str(), figure.c_str());
    };
    std::printf("\ntargets\n");
    for (const auto& row : rows) {
        const std::string name = row["workload"];
        const double ratio = row["ratio"];
        const auto cpuRatio = [&](const char* side) {
            const double reference = row["reference"][side];
            return reference > 0 ? row["app"][side].get<double>() / reference : 0.0;
        };
        if (name.starts_with("1 file") && name.ends_with("TLS")) {
            check("1 file TLS >= 95 % of reference", ratio >= 0.95, fixed(ratio * 100, 0) + " %");
            check("1 file TLS CPU/GiB sender <= 1.15 x reference", cpuRatio("cpu_s_per_gib_send") <= 1.15,
                  fixed(cpuRatio("cpu_s_per_gib_send"), 2) + " x");
            check("1 file TLS CPU/GiB receiver <= 1.15 x reference", cpuRatio("cpu_s_per_gib_receive") <= 1.15,
                  fixed(cpuRatio("cpu_s_per_gib_receive"), 2) + " x");
        } else if (name.starts_with("1 file")) {
            check("1 file plain >= 90 % of reference", ratio >= 0.90, fixed(ratio * 100, 0) + " %");
        } else if (name.starts_with("small") && name.ends_with("TLS")) {
            const double rate = row["app"]["rate"];
            check("small files TLS >= 20,000 files/s", rate >= 20'000, fixed(rate, 0) + " files/s");
            check("small files TLS >= 80 % of reference", ratio >= 0.80, fixed(ratio * 100, 0) + " %");
        }
    }
    if (memory.contains("transfers") && !memory["transfers"].empty()) {
        const auto& smallest = memory["transfers"].front();
        const auto& largest = memory["transfers"].back();
        for (const std::string side : {"send", "receive"}) {
            const std::string peak = "peak_rss_mib_" + side;
            const double growth = largest[peak].get<double>() - memory["idle_rss_mib_" + side].get<double>();
            const double drift = std::abs(largest[peak].get<double>() - smallest[peak].get<double>());
            check(side + " peak over idle <= 16 MiB (" + std::to_string(largest["mib"].get<int>()) + " MiB)",
                  growth <= 16, fixed(growth, 1) + " MiB");
            check(side + " peak " + std::to_string(largest["mib"].get<int>()) + " vs " +
                      std::to_string(smallest["mib"].get<int>()) + " MiB transfer <= 2 MiB apart",
                  drift <= 2, fixed(drift, 1) + " MiB");
        }
    }
    if (!responsiveness.is_null()) {
        const double late = responsiveness["worst_lateness_ms"];
        check("receiving main thread late <= 50 ms", late <= 50, fixed(late, 0) + " ms");
    }
    return checks;
}

int Bench::run() {
    const double loadBefore = qb::bench::loadAverage();
    std::cerr << "generating sources\n";
    qb::bench::writeBigFile(work_ / "big.bin", config_.bigBytes);
    qb::bench::writeSmallFiles(work_ / "small", config_.smallCount, config_.smallBytes);
    qb::bench::writeMixedTree(work_ / "mixed", config_.mixedCount, config_.mixedBytes);

    senderEnvironment_ = homeEnvironment(work_ / "sender", "bench-sender");
    makeIdentity(senderEnvironment_, "sender-identity");
    tlsInstance_ = startInstance("receiver-tls", true, QB_QUOBBLEFIN_PATH);
    plainInstance_ = startInstance("receiver-plain", false, QB_QUOBBLEFIN_PATH);
    referenceInstance_[0] = startInstance("reference-plain", false, QB_REFERENCE_PATH);
    referenceInstance_[1] = startInstance("reference-tls", true, QB_REFERENCE_PATH);
    if (!tlsInstance_ || !plainInstance_ || !referenceInstance_[0] || !referenceInstance_[1])
        return 1;

    const std::string smallLabel =
        "small " + std::to_string(config_.smallCount) + " x " + std::to_string(config_.smallBytes) + " B";
    const std::string bigLabel = "1 file " + std::to_string(config_.bigBytes / kMiB) + " MiB";
    const std::string mixedLabel = "mixed " + std::to_string(config_.mixedCount) + " files";
    const std::vector<Workload> workloads{
        {"big", bigLabel + " TLS", work_ / "big.bin", config_.bigBytes, 1, true},
        {"big", bigLabel + " plain", work_ / "big.bin", config_.bigBytes, 1, false},
        {"small", smallLabel + " TLS", work_ / "small", config_.smallCount * config_.smallBytes, config_.smallCount,
         true},
        {"small", smallLabel + " plain", work_ / "small", config_.smallCount * config_.smallBytes, config_.smallCount,
         false},
        {"mixed", mixedLabel + " TLS", work_ / "mixed", config_.mixedBytes, config_.mixedCount, true},
    };
    std::printf("%d alternating rounds each; medians; figures are reference / app\n", config_.rounds);
    std::printf("%-28s %10s %10s %-7s %6s | %-13s %-13s | %-13s %-13s\n", "workload", "reference", "app", "unit",
                "app/ref", "CPU s/GiB snd", "CPU s/GiB rcv", "peak MiB snd", "peak MiB rcv");
    Json rows = Json::array();
    for (const auto& workload : workloads)
        rows.push_back(measure(workload));
    tlsInstance_.reset();
    plainInstance_.reset();
    referenceInstance_[0].reset();
    referenceInstance_[1].reset();
    const Json memory = memoryCheck();
    const Json responsiveness = probe();
    const Json checks = targets(rows, memory, responsiveness);
    const double loadAfter = qb::bench::loadAverage();
    std::printf("\nload average (1 min): %.2f at the start, %.2f at the end; %u cores\n", loadBefore, loadAfter,
                std::thread::hardware_concurrency());

    const Json results{{"rounds", config_.rounds},
                       {"load_average_start", loadBefore},
                       {"load_average_end", loadAfter},
                       {"cores", std::thread::hardware_concurrency()},
                       {"workloads", rows},
                       {"memory", memory},
                       {"responsiveness", responsiveness},
                       {"targets", checks},
                       {"failed_runs", failures_}};
    fs::create_directories(fs::absolute(config_.results).parent_path());
    std::ofstream(config_.results) << results.dump(2) << "\n";
    std::printf("results: %s\n", fs::absolute(config_.results).c_str());
    return failures_ == 0 ? 0 : 1;
}

}  // namespace

int main() {
    try {
        Workspace work;
        Bench bench(Config{}, work);
        return bench.run();
    } catch (const std::exception& error) {
        std::cerr << "bench: " << error.what() << "\n";
        return 1;
    }
}
