#include "support/gateway_harness.h"

#include <curl/curl.h>
#include <simdjson.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace test_support {
namespace {

bool sameNoCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

int spawn(const std::vector<std::string> &args, int stdinFd, int stdoutFd)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdinFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
    if (stdoutFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + args[0]);
    return pid;
}

void stop(int pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
}

bool portAnswers(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

std::size_t collect(char *data, std::size_t size, std::size_t count, void *out)
{
    static_cast<std::string *>(out)->append(data, size * count);
    return size * count;
}

} // namespace

std::string RecordedRequest::header(const std::string &name) const
{
    for (const auto &[key, value] : headers) {
        if (sameNoCase(key, name))
            return value;
    }
    return {};
}

bool RecordedRequest::hasHeader(const std::string &name) const
{
    return std::any_of(headers.begin(), headers.end(), [&](const auto &h) { return sameNoCase(h.first, name); });
}

std::string percentDecode(const std::string &text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1]))
            && std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string queryValue(const std::string &query, const std::string &key)
{
    std::size_t start = 0;
    while (start <= query.size()) {
        const std::size_t end = std::min(query.find('&', start), query.size());
        const std::string pair = query.substr(start, end - start);
        if (pair.rfind(key + "=", 0) == 0)
            return pair.substr(key.size() + 1);
        start = end + 1;
    }
    return "<absent>";
}

std::string certificateDir()
{
    const std::string dir = TEST_CERT_DIR;
    if (!std::filesystem::exists(dir + "/gateway.pem")) {
        const std::string command = std::string(STANDIN_DIR) + "/make_certs.sh '" + dir + "'";
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("make_certs.sh failed");
    }
    return dir;
}

void trustTestAuthority()
{
    ::setenv("SSL_CERT_FILE", (certificateDir() + "/ca.pem").c_str(), 1);
}

StandinGateway::StandinGateway(const std::string &certificate, bool httpPage, double handshakeTimeout)
{
    const std::string certs = certificateDir();
    int in[2];
    int out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0)
        throw std::runtime_error("pipe");
    std::vector<std::string> args = {"python3", std::string(STANDIN_DIR) + "/standin.py",
                                     "--cert", certs + "/" + certificate + ".pem",
                                     "--key", certs + "/" + certificate + ".key", "--watch-stdin"};
    if (httpPage)
        args.emplace_back("--http-page");
    if (handshakeTimeout > 0) {
        args.emplace_back("--handshake-timeout");
        args.push_back(std::to_string(handshakeTimeout));
    }
    pid_ = spawn(args, in[0], out[1]);
    ::close(in[0]);
    ::close(out[1]);
    stdinFd_ = in[1];
    ::fcntl(stdinFd_, F_SETFD, FD_CLOEXEC);
    std::string line;
    char c = 0;
    while (::read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    ::close(out[0]);
    simdjson::dom::parser parser;
    simdjson::dom::element info;
    if (parser.parse(line).get(info) != simdjson::SUCCESS)
        throw std::runtime_error("stand-in did not start: " + line);
    port_ = static_cast<int>(int64_t(info["port"]));
    controlPort_ = static_cast<int>(int64_t(info["control_port"]));
}

StandinGateway::~StandinGateway()
{
    if (stdinFd_ >= 0)
        ::close(stdinFd_);
    stop(pid_);
}

std::string StandinGateway::control(const std::string &method, const std::string &path, const std::string &body) const
{
    CURL *curl = curl_easy_init();
    std::string reply;
    const std::string url = "http://127.0.0.1:" + std::to_string(controlPort_) + path;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    if (method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    }
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (code != CURLE_OK)
        throw std::runtime_error("stand-in control failed");
    return reply;
}

void StandinGateway::script(const std::string &routesJson) const
{
    static_cast<void>(control("POST", "/script", "{\"routes\": " + routesJson + "}"));
}

std::vector<RecordedRequest> StandinGateway::requests() const
{
    const std::string text = control("GET", "/requests");
    simdjson::dom::parser parser;
    std::vector<RecordedRequest> result;
    for (simdjson::dom::element record : parser.parse(text).get_array()) {
        RecordedRequest r;
        r.method = std::string(std::string_view(record["method"]));
        r.path = std::string(std::string_view(record["path"]));
        r.query = std::string(std::string_view(record["query"]));
        for (simdjson::dom::element header : record["headers"].get_array()) {
            r.headers.emplace_back(std::string(std::string_view(header.at(0))),
                                   std::string(std::string_view(header.at(1))));
        }
        r.connection = static_cast<int>(std::int64_t(record["connection"]));
        result.push_back(std::move(r));
    }
    return result;
}

StandinGateway::Connections StandinGateway::connections() const
{
    const std::string text = control("GET", "/connections");
    simdjson::dom::parser parser;
    Connections result;
    for (simdjson::dom::element connection : parser.parse(text).get_array()) {
        ++result.opened;
        const simdjson::dom::element resumed = connection["resumed"];
        result.fullHandshakes += resumed.is_bool() && !bool(resumed) ? 1 : 0; // null: no handshake
    }
    return result;
}

struct RawServer::State {
    int listener = -1;
    std::string mode;
    std::string reply;
    std::atomic<bool> stopping{false};
    std::thread thread;
    std::vector<int> held;
    mutable std::mutex mutex;
    std::string first;
};

RawServer::RawServer(std::string mode, std::string reply)
    : state_(new State)
{
    state_->mode = std::move(mode);
    state_->reply = std::move(reply);
    state_->listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(state_->listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    ::listen(state_->listener, 16);
    socklen_t len = sizeof addr;
    ::getsockname(state_->listener, reinterpret_cast<sockaddr *>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    State *s = state_;
    s->thread = std::thread([s] {
        while (!s->stopping) {
            const int fd = ::accept(s->listener, nullptr, nullptr);
            if (fd < 0)
                return;
            if (s->mode == "close") {
                ::close(fd);
                continue;
            }
            if (s->mode == "reply") {
                std::string head;
                char c = 0;
                while (head.find("\r\n\r\n") == std::string::npos && ::read(fd, &c, 1) == 1)
                    head += c;
                {
                    const std::lock_guard lock(s->mutex);
                    if (s->first.empty())
                        s->first = head;
                }
                static_cast<void>(::write(fd, s->reply.data(), s->reply.size()));
                ::shutdown(fd, SHUT_RDWR);
                ::close(fd);
                continue;
            }
            s->held.push_back(fd);
        }
    });
}

RawServer::~RawServer()
{
    state_->stopping = true;
    ::shutdown(state_->listener, SHUT_RDWR);
    ::close(state_->listener);
    state_->thread.join();
    for (const int fd : state_->held)
        ::close(fd);
    delete state_;
}

std::string RawServer::firstRequest() const
{
    const std::lock_guard lock(state_->mutex);
    return state_->first;
}

int unusedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

TinyProxy::TinyProxy(const std::string &user, const std::string &password, int onlyConnectPort)
{
    char pattern[] = "/tmp/valmora_tinyproxy_XXXXXX";
    folder_ = ::mkdtemp(pattern);
    port_ = unusedPort();
    {
        std::ofstream conf(folder_ + "/tinyproxy.conf");
        conf << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 60\nMaxClients 20\n"
             << "LogLevel Critical\nPidFile \"" << folder_ << "/tinyproxy.pid\"\n"
             << "BasicAuth " << user << " " << password << "\n";
        if (onlyConnectPort > 0)
            conf << "ConnectPort " << onlyConnectPort << "\n";
        if (::geteuid() == 0)
            conf << "User root\nGroup root\n";
    }
    pid_ = spawn({"tinyproxy", "-d", "-c", folder_ + "/tinyproxy.conf"}, -1, -1);
    for (int i = 0; i < 500 && !portAnswers(port_); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!portAnswers(port_))
        throw std::runtime_error("tinyproxy did not start");
}

TinyProxy::~TinyProxy()
{
    stop(pid_);
    std::filesystem::remove_all(folder_);
}

} // namespace test_support
