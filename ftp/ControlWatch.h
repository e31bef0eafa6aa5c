// Watches an FTP control connection while a transfer runs: an ABOR there ends the
// transfer; every other command waits, in order, until the transfer has ended.
#pragma once

#include <cstddef>
#include <deque>
#include <string_view>

#include "ftp/CommandLineAssembler.h"
#include "platform/Socket.h"
#include "platform/TransferInterrupt.h"

namespace corvel {

// The line without the Telnet commands a client may put before it: "Interrupt
// Process" and "Synch" (IAC IP, IAC DM) precede an ABOR, and a DM sent as urgent data
// may arrive without its IAC.
std::string_view withoutTelnetCommands(std::string_view line);

// Whether a received line (with its line end) is an ABOR command.
bool isAbortLine(std::string_view line);

// Lives for one transfer and is the data socket's interrupt while it runs; owned by
// the session's thread, as the sockets and the command lines it touches.
class ControlWatch final : public TransferInterrupt {
public:
    // Commands held while a transfer runs; past this the control connection is not
    // read until it ends, so a flood waits in the kernel, not in memory.
    static constexpr std::size_t kMaxWaitingCommands = 16;

    ControlWatch(Socket& control, Socket& data, CommandLineAssembler& commands,
                 std::deque<CommandLineEvent>& waiting);
    ~ControlWatch();
    ControlWatch(const ControlWatch&) = delete;
    ControlWatch& operator=(const ControlWatch&) = delete;

    int descriptor() const override;
    bool stopRequested() override;

    // Whether an ABOR ended (or arrived during) the transfer.
    bool aborted() const { return aborted_; }

private:
    // Moves the complete lines out of the assembler; true at an ABOR.
    bool takeCompleteLines();

    Socket& control_;
    Socket& data_;
    CommandLineAssembler& commands_;
    std::deque<CommandLineEvent>& waiting_;
    bool aborted_ = false;
    bool controlEnded_ = false;
};

}  // namespace corvel
