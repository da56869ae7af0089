// Two instances of the built program on one machine: a hidden receiver that accepts on its own, and a
// command-line sender pinned to the receiver's key. Traffic stays on 127.0.0.1.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>

#include "support/TestEnv.h"

namespace qb::test {
namespace {

namespace fs = std::filesystem;

fs::path executable() {
    return QB_EXECUTABLE;
}

// A device's own folders: settings, key store and home.
QProcessEnvironment deviceEnvironment(const fs::path& root, const std::string& name) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), QString::fromStdString((root / "home").string()));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString((root / "config").string()));
    env.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString((root / "data").string()));
    env.insert(QStringLiteral("QUOBBLEFIN_NAME"), QString::fromStdString(name));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QStringLiteral("QUOBBLEFIN_EPHEMERAL_ID"));
    env.remove(QStringLiteral("QUOBBLEFIN_AUTOACCEPT"));
    return env;
}

// Runs a command-line mode to its end and returns its standard output.
std::string runMode(const QProcessEnvironment& env, const QStringList& arguments, int* status) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QString::fromStdString(executable().string()), arguments);
    if (!process.waitForFinished(60'000)) {
        process.kill();
        process.waitForFinished(5'000);
        *status = -1;
        return {};
    }
    *status = process.exitCode();
    return process.readAllStandardOutput().toStdString();
}

// Reads the receiver's output until the listener line appears; its port, or 0 after the time limit.
int waitForListenerPort(QProcess& receiver, std::string& output) {
    static const std::regex line(R"(\[quobblefin\] listening as "Receiver" port (\d+))");
    QElapsedTimer clock;
    clock.start();
    std::smatch match;
    while (!std::regex_search(output, match, line)) {
        if (clock.elapsed() > 30'000 || receiver.state() == QProcess::NotRunning) {
            return 0;
        }
        receiver.waitForReadyRead(200);
        output += receiver.readAllStandardOutput().toStdString();
    }
    return std::stoi(match[1].str());
}

TEST(ExchangeTest, AHiddenReceiverTakesFilesFromTheCommandLineSender) {
    TempDir dir;
    const fs::path saveDir = dir / "received";
    writeFile(saveDir / "a.txt", "already here");
    writeFile(dir / "out" / "a.txt", "hello from the sender\n");
    writeFile(dir / "out" / "docs" / "x.txt", "x");
    writeFile(dir / "out" / "docs" / "sub" / "y.bin", std::string(3'000'000, '\x7f'));

    QProcessEnvironment receiverEnv = deviceEnvironment(dir / "receiver", "Receiver");
    receiverEnv.insert(QStringLiteral("QUOBBLEFIN_AUTOACCEPT"), QStringLiteral("1"));
    receiverEnv.insert(QStringLiteral("QUOBBLEFIN_SAVEDIR"), QString::fromStdString(saveDir.string()));
    QProcess receiver;
    receiver.setProcessEnvironment(receiverEnv);
    receiver.start(QString::fromStdString(executable().string()), {QStringLiteral("--hidden")});
    ASSERT_TRUE(receiver.waitForStarted(10'000));
    std::string receiverOutput;
    const int port = waitForListenerPort(receiver, receiverOutput);
    ASSERT_NE(port, 0) << receiverOutput << receiver.readAllStandardError().toStdString();

    int status = 0;
    const std::string identity =
        runMode(receiverEnv, {QStringLiteral("--identity"), QString::fromStdString((dir / "r.der").string())}, &status);
    std::smatch fingerprint;
    ASSERT_TRUE(std::regex_search(identity, fingerprint, std::regex("^fingerprint ([0-9a-f]{64}) "))) << identity;

    const std::string sent = runMode(deviceEnvironment(dir / "sender", "Sender"),
                                     {QStringLiteral("--send"), QStringLiteral("127.0.0.1"), QString::number(port),
                                      QStringLiteral("key=") + QString::fromStdString(fingerprint[1].str()),
                                      QString::fromStdString((dir / "out" / "a.txt").string()),
                                      QString::fromStdString((dir / "out" / "docs").string())},
                                     &status);
    receiver.terminate();
    receiver.waitForFinished(10'000);

    EXPECT_EQ(status, 0);
    EXPECT_NE(sent.find("sent OK\n"), std::string::npos) << sent;
    EXPECT_EQ(readFile(saveDir / "a.txt"), "already here");
    EXPECT_EQ(readFile(saveDir / "a 2.txt"), "hello from the sender\n");
    EXPECT_EQ(readFile(saveDir / "docs" / "x.txt"), "x");
    EXPECT_EQ(readFile(saveDir / "docs" / "sub" / "y.bin"), std::string(3'000'000, '\x7f'));
}

}  // namespace
}  // namespace qb::test
