// Writes listing lines to a data connection in chunks as the directory is read, so a
// folder of any size costs one chunk of memory; the bytes on the wire are the same
// as one whole write.
#pragma once

#include <cstddef>
#include <string>

#include "platform/Socket.h"

namespace corvel {

class ListingWriter {
public:
    // Lines gathered before they are written.
    static constexpr std::size_t kChunkBytes = 64u << 10;

    explicit ListingWriter(Socket& data) : data_(data) { chunk_.reserve(kChunkBytes + 1024); }

    // Adds one line; false once a write failed (the directory walk should stop).
    bool add(const std::string& line) {
        chunk_ += line;
        if (chunk_.size() < kChunkBytes) return true;
        return flush();
    }
    // Writes what is left; false when any write failed.
    bool finish() { return flush(); }

private:
    bool flush() {
        if (sent_) sent_ = sendAll(data_, chunk_) >= 0;
        chunk_.clear();
        return sent_;
    }

    Socket& data_;
    std::string chunk_;
    bool sent_ = true;
};

}  // namespace corvel
