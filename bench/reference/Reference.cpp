// The design's limit on this machine: one connection over plain sockets or OpenSSL (no Asio, no Qt), pieces of
// at most 1 MiB with one in flight, the receiver creating and writing each file as it comes. The benchmark runs
// it beside the application and divides by it.
//
//     bench_reference receive <folder> [tls]       prints "port N", then takes transfers one after the other,
//                                                  the n-th into <folder>/n, until it is ended by a signal
//     bench_reference send <port> [tls] <path>     sends a file, or every regular file below a folder
//
// Its own small framing (a list of sizes and relative paths, then the bytes, then "OK\n"), on 127.0.0.1 only.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kPiece = 1 << 20;

[[noreturn]] void fail(const std::string& what) {
    ERR_print_errors_fp(stderr);
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

struct Fd {
    explicit Fd(int fd) : value(fd) {}
    ~Fd() {
        if (value >= 0)
            ::close(value);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int value;
};

struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    void operator()(X509* certificate) const { X509_free(certificate); }
};
template <typename T>
using SslPtr = std::unique_ptr<T, SslFree>;

// One connected socket, with or without TLS over it.
class Channel {
public:
    Channel(int socket, SSL_CTX* tls, bool server) : socket_(socket) {
        if (tls == nullptr)
            return;
        ssl_.reset(SSL_new(tls));
        SSL_set_fd(ssl_.get(), socket);
        if ((server ? SSL_accept(ssl_.get()) : SSL_connect(ssl_.get())) != 1)
            fail("TLS handshake");
    }

    void writeAll(const std::uint8_t* data, std::size_t size) {
        while (size > 0) {
            const long sent = ssl_ ? SSL_write(ssl_.get(), data, static_cast<int>(size))
                                   : ::send(socket_.value, data, size, MSG_NOSIGNAL);
            if (sent <= 0)
                fail("write");
            data += sent;
            size -= static_cast<std::size_t>(sent);
        }
    }

    void readAll(std::uint8_t* into, std::size_t size) {
        while (size > 0) {
            const long got =
                ssl_ ? SSL_read(ssl_.get(), into, static_cast<int>(size)) : ::recv(socket_.value, into, size, 0);
            if (got <= 0)
                fail("read");
            into += got;
            size -= static_cast<std::size_t>(got);
        }
    }

private:
    Fd socket_;
    SslPtr<SSL> ssl_;
};

SslPtr<SSL_CTX> tlsContext(bool server) {
    SslPtr<SSL_CTX> context(SSL_CTX_new(server ? TLS_server_method() : TLS_client_method()));
    SSL_CTX_set_min_proto_version(context.get(), TLS1_3_VERSION);
    if (!server)
        return context;
    // A fresh self-signed P-256 certificate, as a device has; the sending side does not check it.
    SslPtr<EVP_PKEY> key(EVP_EC_gen("P-256"));
    SslPtr<X509> certificate(X509_new());
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 3600);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(certificate.get()), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("reference"), -1, -1, 0);
    X509_set_issuer_name(certificate.get(), X509_get_subject_name(certificate.get()));
    X509_set_pubkey(certificate.get(), key.get());
    if (X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0 ||
        SSL_CTX_use_certificate(context.get(), certificate.get()) != 1 ||
        SSL_CTX_use_PrivateKey(context.get(), key.get()) != 1)
        fail("certificate");
    return context;
}

void putU64(std::vector<std::uint8_t>& out, std::uint64_t value) {
    for (int shift = 56; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::uint64_t getU64(const std::uint8_t* in) {
    std::uint64_t value = 0;
    for (int index = 0; index < 8; ++index)
        value = (value << 8) | in[index];
    return value;
}

struct Entry {
    std::string path;  // relative
    std::uint64_t size = 0;
};

// Header: its length, then per file its size, name length and name.
std::vector<std::uint8_t> encodeList(const std::vector<Entry>& entries) {
    std::vector<std::uint8_t> list;
    for (const auto& entry : entries) {
        putU64(list, entry.size);
        putU64(list, entry.path.size());
        list.insert(list.end(), entry.path.begin(), entry.path.end());
    }
    std::vector<std::uint8_t> header;
    putU64(header, list.size());
    header.insert(header.end(), list.begin(), list.end());
    return header;
}

std::vector<Entry> decodeList(const std::vector<std::uint8_t>& list) {
    std::vector<Entry> entries;
    for (std::size_t at = 0; at + 16 <= list.size();) {
        Entry entry;
        entry.size = getU64(&list[at]);
        const auto length = getU64(&list[at + 8]);
        at += 16;
        if (length > list.size() - at)
            break;
        entry.path.assign(reinterpret_cast<const char*>(&list[at]), length);
        at += length;
        entries.push_back(std::move(entry));
    }
    return entries;
}

void receiveOne(Channel& channel, const fs::path& folder) {
    std::uint8_t lengthBytes[8];
    channel.readAll(lengthBytes, sizeof lengthBytes);
    std::vector<std::uint8_t> list(std::min<std::uint64_t>(getU64(lengthBytes), 1u << 30));
    channel.readAll(list.data(), list.size());
    std::vector<std::uint8_t> piece(kPiece);
    fs::path madeFolder;
    for (const auto& entry : decodeList(list)) {
        const fs::path target = folder / entry.path;
        if (target.parent_path() != madeFolder) {
            fs::create_directories(target.parent_path());
            madeFolder = target.parent_path();
        }
        Fd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (out.value < 0)
            fail("create " + target.string());
        // Never more than the open file still needs, as the application's receiver reads.
        for (std::uint64_t remaining = entry.size; remaining > 0;) {
            const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kPiece));
            channel.readAll(piece.data(), size);
            if (::write(out.value, piece.data(), size) != static_cast<ssize_t>(size))
                fail("write " + target.string());
            remaining -= size;
        }
    }
    const std::uint8_t ok[] = {'O', 'K', '\n'};
    channel.writeAll(ok, sizeof ok);
}

// Long-lived like a receiving instance, so that both are measured as warm processes.
int receive(const fs::path& folder, bool tls) {
    const auto context = tls ? tlsContext(true) : nullptr;
    Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener.value, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.value, 1) != 0 ||
        ::getsockname(listener.value, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        fail("listen");
    std::printf("port %u\n", ntohs(address.sin_port));
    std::fflush(stdout);
    for (unsigned transfer = 0;; ++transfer) {
        try {
            Channel channel(::accept4(listener.value, nullptr, nullptr, SOCK_CLOEXEC), context.get(), true);
            receiveOne(channel, folder / std::to_string(transfer));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "bench_reference: %s\n", error.what());
        }
    }
}

std::vector<Entry> listSource(const fs::path& source) {
    if (!fs::is_directory(source))
        return {{source.filename().string(), fs::file_size(source)}};
    std::vector<Entry> entries;
    for (const auto& item : fs::recursive_directory_iterator(source)) {
        if (item.is_regular_file())
            entries.push_back({fs::relative(item.path(), source.parent_path()).string(), item.file_size()});
    }
    return entries;
}

int send(std::uint16_t port, bool tls, const fs::path& source) {
    const auto context = tls ? tlsContext(false) : nullptr;
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        fail("connect");
    Channel channel(socket, context.get(), false);
    const auto entries = listSource(source);
    const auto header = encodeList(entries);
    channel.writeAll(header.data(), header.size());

    // Pieces span files, so many small files go out in few writes.
    std::vector<std::uint8_t> piece(kPiece);
    std::size_t filled = 0;
    const fs::path root = fs::is_directory(source) ? source.parent_path() : source.parent_path();
    for (const auto& entry : entries) {
        Fd in(::open((root / entry.path).c_str(), O_RDONLY | O_CLOEXEC));
        for (std::uint64_t remaining = entry.size; remaining > 0;) {
            const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kPiece - filled));
            const ssize_t got = ::read(in.value, piece.data() + filled, want);
            if (got <= 0)
                fail("read " + entry.path);
            filled += static_cast<std::size_t>(got);
            remaining -= static_cast<std::uint64_t>(got);
            if (filled == kPiece) {
                channel.writeAll(piece.data(), filled);
                filled = 0;
            }
        }
    }
    channel.writeAll(piece.data(), filled);
    std::uint8_t reply[3] = {};
    channel.readAll(reply, sizeof reply);
    return std::memcmp(reply, "OK\n", 3) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const bool tls = std::find(args.begin(), args.end(), "tls") != args.end();
    try {
        if (args.size() >= 2 && args[0] == "receive")
            return receive(args[1], tls);
        if (args.size() >= 3 && args[0] == "send")
            return send(static_cast<std::uint16_t>(std::stoul(args[1])), tls, args.back());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_reference: %s\n", error.what());
        return 1;
    }
    std::fprintf(stderr, "usage: bench_reference receive <folder> [tls] | send <port> [tls] <path>\n");
    return 2;
}
