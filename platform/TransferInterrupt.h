// What a transfer on a socket asks, between its steps and while it waits, whether
// it should end early: an FTP client's ABOR arrives on another connection.
#pragma once

namespace corvel {

class TransferInterrupt {
public:
    // Readable (or holding urgent data) when there may be a stop to look at; -1 while
    // nothing is to be watched.
    virtual int descriptor() const = 0;
    // Takes what arrived on descriptor() without waiting; true ends the transfer.
    virtual bool stopRequested() = 0;

protected:
    ~TransferInterrupt() = default;
};

}  // namespace corvel
