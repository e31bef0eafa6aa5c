#include "web/ZipStream.h"

#include <libdeflate.h>
#include <sys/stat.h>

#include <algorithm>
#include <limits>

#include "files/LocalFile.h"
#include "platform/Socket.h"

namespace corvel {

namespace {

constexpr std::uint32_t kLocalHeader = 0x04034b50;
constexpr std::uint32_t kDataDescriptor = 0x08074b50;
constexpr std::uint32_t kCentralHeader = 0x02014b50;
constexpr std::uint32_t kZip64End = 0x06064b50;
constexpr std::uint32_t kZip64EndLocator = 0x07064b50;
constexpr std::uint32_t kEnd = 0x06054b50;

constexpr std::uint16_t kVersionZip64 = 45;                    // 4.5: ZIP64 fields
constexpr std::uint16_t kMadeOnUnix = (3u << 8) | kVersionZip64;  // so readers take the modes
constexpr std::uint16_t kFlagDescriptor = 0x0008;              // CRC and sizes follow the data
constexpr std::uint16_t kFlagUtf8 = 0x0800;
constexpr std::uint16_t kZip64Field = 0x0001;
constexpr std::uint16_t kTimestampField = 0x5455;  // "UT": the exact modification time, UTC
constexpr std::uint32_t kMsDosFolder = 0x10;
constexpr std::uint32_t kFar32 = 0xFFFFFFFF;  // "in the ZIP64 field" for a 32-bit size or offset
constexpr std::uint16_t kFar16 = 0xFFFF;

void put16(std::string& out, std::uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}

void put32(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void put64(std::string& out, std::uint64_t value) {
    for (int shift = 0; shift < 64; shift += 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

// The MS-DOS time and date of the fixed header fields, in local time as unzip shows
// them; times before 1980 (the format's start) become its first second.
std::uint32_t dosTimeOf(std::time_t when) {
    std::tm local{};
    if (when <= 0 || localtime_r(&when, &local) == nullptr || local.tm_year < 80)
        return (1u << 21) | (1u << 16);  // 1980-01-01 00:00:00
    const auto year = static_cast<std::uint32_t>(std::min(local.tm_year - 80, 127));
    const auto date = (year << 9) | (static_cast<std::uint32_t>(local.tm_mon + 1) << 5) |
                      static_cast<std::uint32_t>(local.tm_mday);
    const auto time = (static_cast<std::uint32_t>(local.tm_hour) << 11) |
                      (static_cast<std::uint32_t>(local.tm_min) << 5) | (static_cast<std::uint32_t>(local.tm_sec) / 2);
    return (date << 16) | time;
}

std::uint32_t unixTimeOf(std::time_t when) {
    return when <= 0 ? 0 : static_cast<std::uint32_t>(std::min<std::time_t>(when, std::numeric_limits<std::uint32_t>::max()));
}

void putTimestampField(std::string& out, std::time_t when) {
    put16(out, kTimestampField);
    put16(out, 5);
    out.push_back(1);  // the modification time only
    put32(out, unixTimeOf(when));
}

constexpr std::uint16_t kTimestampFieldBytes = 9;

}  // namespace

ZipStream::ZipStream(Socket& socket) : socket_(socket) {}

bool ZipStream::sendBytes(const char* data, std::size_t length) {
    if (good_ && length > 0) good_ = sendAll(socket_, data, length) >= 0;
    if (good_) flushed_ += length;
    return good_;
}

bool ZipStream::sendPending() {
    const bool sent = sendBytes(pending_.data(), pending_.size());
    pending_.clear();
    return sent;
}

bool ZipStream::beginEntry(const std::string& name, std::time_t lastWrite, bool folder, std::uint64_t size) {
    if (!good_ || finished_) return false;
    // A name is at most 65,535 bytes in the format; no path on this system comes near.
    if (name.size() > kFar16) return good_ = false;
    const std::uint32_t dosTime = dosTimeOf(lastWrite);
    entries_.push_back(Entry{name, lastWrite, dosTime, size, offset(), 0, folder});
    put32(pending_, kLocalHeader);
    put16(pending_, kVersionZip64);
    // A folder has no bytes, so its CRC (0) is known up front; a file's follows it.
    put16(pending_, folder ? kFlagUtf8 : kFlagUtf8 | kFlagDescriptor);
    put16(pending_, 0);  // stored
    put16(pending_, static_cast<std::uint16_t>(dosTime & 0xFFFF));
    put16(pending_, static_cast<std::uint16_t>(dosTime >> 16));
    put32(pending_, 0);  // the CRC: in the data descriptor
    if (folder) {
        put32(pending_, 0);
        put32(pending_, 0);
    } else {
        put32(pending_, kFar32);
        put32(pending_, kFar32);
    }
    put16(pending_, static_cast<std::uint16_t>(name.size()));
    put16(pending_, static_cast<std::uint16_t>((folder ? 0 : 20) + kTimestampFieldBytes));
    pending_ += name;
    if (!folder) {
        // Every file carries its sizes as ZIP64, so one past 4 GiB takes no other path.
        put16(pending_, kZip64Field);
        put16(pending_, 16);
        put64(pending_, size);
        put64(pending_, size);
    }
    putTimestampField(pending_, lastWrite);
    return true;
}

bool ZipStream::addFolder(const std::string& name, std::time_t lastWrite) {
    return beginEntry(name + "/", lastWrite, true, 0);
}

bool ZipStream::addFile(const std::string& name, std::time_t lastWrite, TransferFile& file) {
    const auto size = static_cast<std::uint64_t>(std::max<std::int64_t>(file.size(), 0));
    if (!beginEntry(name, lastWrite, false, size)) return false;
    if (!sendPending()) return false;
    // On the heap: connection threads run on bounded stacks.
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(kZipReadBytes);
    std::uint32_t crc = 0;
    std::uint64_t left = size;
    while (left > 0 && good_) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, kZipReadBytes));
        long n = file.read(buffer_.get(), want);
        if (n <= 0) {
            // Shrunk, or unreadable now: zeros keep the entry as long as its header says.
            std::fill_n(buffer_.get(), want, '\0');
            n = static_cast<long>(want);
        }
        const auto got = static_cast<std::size_t>(n);
        crc = libdeflate_crc32(crc, buffer_.get(), got);
        (void)sendBytes(buffer_.get(), got);
        left -= got;
    }
    if (!good_) return false;
    entries_.back().crc = crc;
    put32(pending_, kDataDescriptor);
    put32(pending_, crc);
    put64(pending_, size);
    put64(pending_, size);
    return true;
}

bool ZipStream::finish() {
    if (!good_ || finished_) return false;
    finished_ = true;
    const std::uint64_t directoryStart = offset();
    for (const Entry& entry : entries_) {
        const std::uint32_t dosTime = entry.dosTime;
        put32(pending_, kCentralHeader);
        put16(pending_, kMadeOnUnix);
        put16(pending_, kVersionZip64);
        put16(pending_, entry.folder ? kFlagUtf8 : kFlagUtf8 | kFlagDescriptor);
        put16(pending_, 0);
        put16(pending_, static_cast<std::uint16_t>(dosTime & 0xFFFF));
        put16(pending_, static_cast<std::uint16_t>(dosTime >> 16));
        put32(pending_, entry.crc);
        put32(pending_, kFar32);
        put32(pending_, kFar32);
        put16(pending_, static_cast<std::uint16_t>(entry.name.size()));
        put16(pending_, static_cast<std::uint16_t>(28 + kTimestampFieldBytes));
        put16(pending_, 0);  // no comment
        put16(pending_, 0);  // disk
        put16(pending_, 0);  // internal attributes
        const std::uint32_t mode = entry.folder ? (S_IFDIR | 0755) : (S_IFREG | 0644);
        put32(pending_, (mode << 16) | (entry.folder ? kMsDosFolder : 0));
        put32(pending_, kFar32);
        pending_ += entry.name;
        put16(pending_, kZip64Field);
        put16(pending_, 24);
        put64(pending_, entry.size);
        put64(pending_, entry.size);
        put64(pending_, entry.offset);
        putTimestampField(pending_, entry.lastWrite);
        // The directory of a large folder goes out in pieces, not held whole.
        if (pending_.size() >= kZipReadBytes && !sendPending()) return false;
    }
    const std::uint64_t directoryEnd = offset();
    const std::uint64_t directoryBytes = directoryEnd - directoryStart;
    const std::uint64_t count = entries_.size();
    put32(pending_, kZip64End);
    put64(pending_, 44);  // the record's bytes after this field
    put16(pending_, kMadeOnUnix);
    put16(pending_, kVersionZip64);
    put32(pending_, 0);  // this disk
    put32(pending_, 0);  // the directory's disk
    put64(pending_, count);
    put64(pending_, count);
    put64(pending_, directoryBytes);
    put64(pending_, directoryStart);
    put32(pending_, kZip64EndLocator);
    put32(pending_, 0);
    put64(pending_, directoryEnd);
    put32(pending_, 1);  // disks
    // The classic end record: values that fit as they are, the others "see ZIP64".
    auto fit16 = [](std::uint64_t v) { return static_cast<std::uint16_t>(v >= kFar16 ? kFar16 : v); };
    auto fit32 = [](std::uint64_t v) { return static_cast<std::uint32_t>(v >= kFar32 ? kFar32 : v); };
    put32(pending_, kEnd);
    put16(pending_, 0);
    put16(pending_, 0);
    put16(pending_, fit16(count));
    put16(pending_, fit16(count));
    put32(pending_, fit32(directoryBytes));
    put32(pending_, fit32(directoryStart));
    put16(pending_, 0);  // no comment
    return sendPending();
}

}  // namespace corvel
