// PASV and PORT: setting up the one data connection the next transfer uses.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "ftp/FtpReplies.h"
#include "ftp/FtpSession.h"

namespace corvel {
namespace {

// Readiness waits of one second a PASV or PORT set-up may take before it gives up.
constexpr int kDataSetupWaits = 90;

// Reads "%d,%d,%d,%d,%d,%d": each number after optional blanks and a sign. Returns
// how many numbers were read before the text stopped matching.
int scanPortNumbers(const std::string& text, long long (&numbers)[6]) {
    std::size_t i = 0;
    for (int n = 0; n < 6; ++n) {
        if (n > 0) {
            if (i >= text.size() || text[i] != ',') return n;
            ++i;
        }
        while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
        if (i >= text.size() || text[i] < '0' || text[i] > '9') return n;
        long long value = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
            if (value < (1LL << 40)) value = value * 10 + (text[i] - '0');  // bounded; only low bits matter
        numbers[n] = negative ? -value : value;
    }
    return 6;
}

}  // namespace

void FtpSession::handlePasv(const std::string&) {
    if (!context_.passiveMode) {
        reply(replies::kNoDataConnection);
        return;
    }
    data_.close();  // an unused earlier data connection is replaced
    auto listener = TcpListener::open(localAddress_, 0, 5);
    if (!listener) {
        reply(replies::kNoDataConnection);
        return;
    }
    std::uint16_t port = listener->port();
    reply(replies::passiveMode(localAddress_, port));

    // SECURITY: one deadline for the whole wait, so a foreign host connecting now and
    // then (and being turned away) cannot keep the session waiting for ever.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitStepMs) * (kDataSetupWaits + 1);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        WaitResult w = listener->socket().waitReadable(static_cast<int>(std::min<long long>(kWaitStepMs, left.count())));
        if (w == WaitResult::Failed) break;
        if (w == WaitResult::TimedOut) continue;
        Socket accepted = listener->accept();
        if (!accepted.isOpen()) continue;
        // SECURITY: only the control connection's peer may take the data connection.
        if (accepted.peerAddress() != peerAddress_) continue;
        data_ = std::move(accepted);
        return;
    }
    data_.close();
    reply(replies::kNoDataConnection);
}

void FtpSession::handlePort(const std::string& argument) {
    long long n[6] = {};
    if (scanPortNumbers(argument, n) < 6) {
        reply(replies::kSyntaxError);
        return;
    }
    char address[64];
    std::snprintf(address, sizeof address, "%lld.%lld.%lld.%lld", n[0] % 65536, n[1] % 65536, n[2] % 65536,
                  n[3] % 65536);
    auto port = static_cast<std::uint16_t>(n[4] * 256 + n[5]);
    data_.close();
    // SECURITY: no FTP bounce; the data connection goes only to the client itself.
    if (address != peerAddress_) {
        reply(replies::kNoDataConnection);
        return;
    }
    data_ = Socket::createTcp();
    if (!data_.isOpen() || !data_.startConnect(address, port)) {
        data_.close();
        reply(replies::kNoDataConnection);
        return;
    }
    for (int idleWaits = 0; idleWaits <= kDataSetupWaits;) {
        WaitResult w = data_.waitWritable(kWaitStepMs);
        if (w == WaitResult::Failed) break;
        if (w == WaitResult::TimedOut) {
            ++idleWaits;
            continue;
        }
        // A refused connection shows as writable with an error: say so at once
        // instead of pretending the port works.
        if (!data_.connectSucceeded()) break;
        reply(replies::kPortSuccessful);
        return;
    }
    data_.close();
    reply(replies::kNoDataConnection);
}

}  // namespace corvel
