#pragma once
// A TCP relay to the local Firebird server: clients that dial "<listen address>/<port>" reach
// localhost:3050 through it. Cut() drops every connection at once (a server or network lost
// mid-stream, without stopping the server others use); a delay holds every piece back that
// long in each direction (a slower network, where the kernel's netem is not at hand).
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qv::test {

class TcpRelay {
public:
    // Listens on address:port (port 0: any free one), relaying to to_host:to_port, each piece
    // delay_us later.
    explicit TcpRelay(const std::string& address = "127.0.0.1", int port = 0, int delay_us = 0,
                      const std::string& to_host = "localhost", int to_port = 3050)
        : to_host_(to_host), to_port_(to_port), delay_(delay_us) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            listen(listener_, 16) != 0) {
            close(listener_);
            listener_ = -1;
            return;
        }
        socklen_t len = sizeof a;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        acceptor_ = std::thread([this] { Accept(); });
    }
    ~TcpRelay() {
        stop_ = true;
        Cut();
        if (acceptor_.joinable()) acceptor_.join();
        std::vector<std::thread> pipes;
        {
            std::lock_guard lock(mu_);
            pipes.swap(pipes_);
        }
        for (std::thread& t : pipes) t.join();
        if (listener_ >= 0) close(listener_);
    }
    TcpRelay(const TcpRelay&) = delete;
    TcpRelay& operator=(const TcpRelay&) = delete;

    bool ok() const { return port_ > 0; }
    int Port() const { return port_; }
    // Ends every relayed connection at once; new ones are still taken.
    void Cut() {
        std::lock_guard lock(mu_);
        for (int fd : open_) shutdown(fd, SHUT_RDWR);
    }

private:
    void Accept() {
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            const int server = Dial();
            if (server < 0) {
                close(client);
                continue;
            }
            const int on = 1;  // pieces go on at once: any delay is the relay's own
            setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            std::lock_guard lock(mu_);
            open_.push_back(client);
            open_.push_back(server);
            pipes_.emplace_back([this, client, server] { Pipe(client, server); });
        }
    }
    // localhost as the client library dials it: each address in turn.
    int Dial() const {
        addrinfo hints{}, *found = nullptr;
        hints.ai_socktype = SOCK_STREAM;
        if (getaddrinfo(to_host_.c_str(), std::to_string(to_port_).c_str(), &hints, &found) != 0)
            return -1;
        int fd = -1;
        for (addrinfo* i = found; i && fd < 0; i = i->ai_next) {
            fd = socket(i->ai_family, i->ai_socktype | SOCK_CLOEXEC, i->ai_protocol);
            if (fd >= 0 && connect(fd, i->ai_addr, i->ai_addrlen) != 0) {
                close(fd);
                fd = -1;
            }
        }
        freeaddrinfo(found);
        return fd;
    }
    void Pipe(int a, int b) {
        using Clock = std::chrono::steady_clock;
        struct Piece {
            Clock::time_point due;
            std::string bytes;
        };
        std::deque<Piece> held[2];  // read from a (to b), read from b (to a)
        std::vector<char> buf(65536);
        pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
        for (bool open = true; open && !stop_;) {
            int wait_ms = 100;
            for (auto& h : held)
                if (!h.empty())
                    wait_ms = std::min<int>(
                        wait_ms, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(
                                                      h.front().due - Clock::now())
                                                      .count()));
            if (poll(p, 2, std::max(wait_ms, 0)) > 0) {
                for (int i = 0; i < 2 && open; ++i) {
                    if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                    const ssize_t n = read(p[i].fd, buf.data(), buf.size());
                    open = n > 0;
                    if (open) held[i].push_back({Clock::now() + delay_, {buf.data(), size_t(n)}});
                }
            }
            for (int i = 0; i < 2 && open; ++i) {
                while (open && !held[i].empty() && held[i].front().due <= Clock::now()) {
                    const std::string& piece = held[i].front().bytes;
                    open = WriteAll(p[1 - i].fd, piece.data(), piece.size());
                    held[i].pop_front();
                }
            }
        }
        std::lock_guard lock(mu_);
        std::erase(open_, a);
        std::erase(open_, b);
        close(a);
        close(b);
    }
    static bool WriteAll(int fd, const char* data, size_t size) {
        while (size > 0) {
            const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
            if (n <= 0) return false;
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }

    std::string to_host_;
    int to_port_;
    std::chrono::microseconds delay_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    std::mutex mu_;
    std::vector<int> open_;
    std::vector<std::thread> pipes_;
};

}  // namespace qv::test
