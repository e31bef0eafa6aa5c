#include "common/SessionsBlock.h"

#include <algorithm>
#include <cstring>

namespace corvel {
namespace {

constexpr std::size_t kKickIdOffset = 8;
constexpr std::size_t kKickUserOffset = 16;
constexpr std::size_t kKickAnswerOffset = 112;

void putNumber(std::uint8_t* p, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = std::uint8_t(value >> (8 * i));
}

std::uint64_t getNumber(const std::uint8_t* p, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= std::uint64_t(p[i]) << (8 * i);
    return value;
}

// text cut to room bytes, then zeros to the end of room + 1.
void putText(std::uint8_t* p, const std::string& text, std::size_t room) {
    std::memset(p, 0, room + 1);
    std::memcpy(p, text.data(), std::min(text.size(), room));
}

std::string getText(const std::uint8_t* p, std::size_t room) {
    const char* text = reinterpret_cast<const char*>(p);
    return std::string(text, strnlen(text, room));
}

}  // namespace

void encodeSessionList(const std::vector<SessionRecord>& records, std::uint8_t* block) {
    const std::size_t count = std::min(records.size(), kSessionRecords);
    putNumber(block, count, 4);
    putNumber(block + 4, records.size() > kSessionRecords ? 1 : 0, 4);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t* p = block + kSessionsHeaderBytes + i * kSessionRecordBytes;
        const SessionRecord& record = records[i];
        std::memset(p, 0, kSessionRecordBytes);
        putNumber(p, record.id, 8);
        p[8] = record.protocol;
        putNumber(p + 16, static_cast<std::uint64_t>(record.since), 8);
        putNumber(p + 24, record.bytes, 8);
        putText(p + 32, record.address, kSessionAddressBytes);
        putText(p + 96, record.user, kSessionUserBytes);
    }
}

SessionList decodeSessionList(const std::uint8_t* block) {
    SessionList list;
    const std::size_t count = std::min<std::size_t>(getNumber(block, 4), kSessionRecords);
    list.truncated = getNumber(block + 4, 4) != 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* p = block + kSessionsHeaderBytes + i * kSessionRecordBytes;
        SessionRecord record;
        record.id = getNumber(p, 8);
        record.protocol = p[8];
        record.since = static_cast<std::int64_t>(getNumber(p + 16, 8));
        record.bytes = getNumber(p + 24, 8);
        record.address = getText(p + 32, kSessionAddressBytes + 1);
        record.user = getText(p + 96, kSessionUserBytes + 1);
        list.records.push_back(std::move(record));
    }
    return list;
}

void encodeKickRequest(const KickRequest& request, std::uint8_t* block) {
    putNumber(block + kKickIdOffset, request.id, 8);
    putText(block + kKickUserOffset, request.user, kSessionUserBytes);
}

KickRequest decodeKickRequest(const std::uint8_t* block) {
    return {getNumber(block + kKickIdOffset, 8), getText(block + kKickUserOffset, kSessionUserBytes + 1)};
}

void encodeKickAnswer(std::uint32_t closed, std::uint8_t* block) { putNumber(block + kKickAnswerOffset, closed, 4); }

std::uint32_t decodeKickAnswer(const std::uint8_t* block) {
    return static_cast<std::uint32_t>(getNumber(block + kKickAnswerOffset, 4));
}

}  // namespace corvel
