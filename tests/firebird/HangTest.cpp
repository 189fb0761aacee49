// Attaches that would hang: the window must never be held for long.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "firebird/IB.h"
#include "firebird/IBServices.h"

namespace qv {
namespace {

// A loopback listener that accepts connections and never says a word.
class SilentListener {
public:
    SilentListener() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        listen(fd_, 8);
    }
    ~SilentListener() { close(fd_); }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

double SecondsToAttach(const std::string& server, std::string* message) {
    TIBBackupService svc(nullptr);
    svc.SetLoginPrompt(false);
    svc.SetProtocol(TProtocol::TCP);
    svc.SetServerName(server);
    svc.Params().Add("user_name=SYSDBA");
    svc.Params().Add("password=x");
    auto t0 = std::chrono::steady_clock::now();
    try {
        svc.SetActive(true);
        *message = "<attached>";
    } catch (const EIBError& e) {
        *message = e.what();
    }
    EXPECT_FALSE(svc.Active());
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

TEST(HangBound, AListenerThatNeverAnswers) {
    SilentListener listener;
    std::string message;
    double seconds = SecondsToAttach("127.0.0.1/" + std::to_string(listener.port()), &message);
    EXPECT_EQ(message, "The service manager did not answer within 10 seconds");
    EXPECT_GE(seconds, 9.5);
    EXPECT_LT(seconds, 15.0);
}

TEST(HangBound, AHostThatNeverAnswersAConnectionAttempt) {
    const char* port = std::getenv("QV_DROPPED_PORT");
    if (!port) GTEST_SKIP() << "runs only under scripts/dropped-port.sh";
    std::string message;
    double seconds = SecondsToAttach(std::string("127.0.0.1/") + port, &message);
    EXPECT_EQ(message, "The service manager did not answer within 10 seconds");
    EXPECT_LT(seconds, 15.0);
}

}  // namespace
}  // namespace qv
