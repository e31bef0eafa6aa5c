#include "sftp/SftpWire.h"

namespace corvel::sftp {

void putU32(std::string& text, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) text[at + i] = static_cast<char>((value >> (24 - 8 * i)) & 0xff);
}

bool WireReader::take(std::size_t count) {
    if (!ok_ || bytes_.size() - at_ < count) {
        ok_ = false;
        return false;
    }
    return true;
}

std::uint8_t WireReader::byte() {
    if (!take(1)) return 0;
    return static_cast<std::uint8_t>(bytes_[at_++]);
}

std::uint32_t WireReader::u32() {
    if (!take(4)) return 0;
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = (value << 8) | static_cast<std::uint8_t>(bytes_[at_++]);
    return value;
}

std::uint64_t WireReader::u64() {
    const std::uint64_t high = u32();
    return (high << 32) | u32();
}

std::string_view WireReader::string() {
    const std::uint32_t length = u32();
    if (!take(length)) return {};
    std::string_view value = bytes_.substr(at_, length);
    at_ += length;
    return value;
}

Attributes WireReader::attributes() {
    Attributes value;
    value.flags = u32();
    if (value.flags & kAttrSize) value.size = u64();
    if (value.flags & kAttrUidGid) {
        (void)u32();
        (void)u32();
    }
    if (value.flags & kAttrPermissions) value.permissions = u32();
    if (value.flags & kAttrTimes) {
        value.accessTime = u32();
        value.modificationTime = u32();
    }
    if (value.flags & kAttrExtended) {
        const std::uint32_t count = u32();
        // Each pair takes at least 8 bytes, so a count the packet cannot hold ends here.
        for (std::uint32_t i = 0; i < count && ok_; ++i) {
            (void)string();
            (void)string();
        }
    }
    return value;
}

WireWriter::WireWriter(std::uint8_t type) {
    bytes_.assign(4, '\0');
    bytes_.push_back(static_cast<char>(type));
}

WireWriter& WireWriter::byte(std::uint8_t value) {
    bytes_.push_back(static_cast<char>(value));
    return *this;
}

WireWriter& WireWriter::u32(std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes_.push_back(static_cast<char>((value >> shift) & 0xff));
    return *this;
}

WireWriter& WireWriter::u64(std::uint64_t value) {
    u32(static_cast<std::uint32_t>(value >> 32));
    return u32(static_cast<std::uint32_t>(value));
}

WireWriter& WireWriter::string(std::string_view value) {
    u32(static_cast<std::uint32_t>(value.size()));
    bytes_.append(value);
    return *this;
}

WireWriter& WireWriter::attributes(const Attributes& value) {
    const std::uint32_t flags = value.flags & (kAttrSize | kAttrPermissions | kAttrTimes);
    u32(flags);
    if (flags & kAttrSize) u64(value.size);
    if (flags & kAttrPermissions) u32(value.permissions);
    if (flags & kAttrTimes) u32(value.accessTime).u32(value.modificationTime);
    return *this;
}

std::string WireWriter::finish() {
    putU32(bytes_, 0, static_cast<std::uint32_t>(bytes_.size() - 4));
    return std::move(bytes_);
}

std::optional<std::string> PacketFramer::next() {
    if (broken_) return std::nullopt;
    const std::size_t available = buffer_.size() - consumed_;
    if (available < 4) {
        buffer_.erase(0, consumed_);
        consumed_ = 0;
        return std::nullopt;
    }
    WireReader header(std::string_view(buffer_).substr(consumed_, 4));
    const std::uint32_t length = header.u32();
    // SECURITY: a length announced past the limit is never waited for or buffered.
    if (length == 0 || length > kMaxPacketBytes) {
        broken_ = true;
        buffer_.clear();
        return std::nullopt;
    }
    if (available - 4 < length) {
        buffer_.erase(0, consumed_);
        consumed_ = 0;
        return std::nullopt;
    }
    std::string packet = buffer_.substr(consumed_ + 4, length);
    consumed_ += 4 + length;
    return packet;
}

}  // namespace corvel::sftp
