#include "container/zip.h"

#include "container/byte_order.h"
#include "container/inflate_stream.h"
#include "container/quoted_text.h"

#include <cstring>

bool startsWithZip(const uint8_t* head, size_t size) {
    return size >= 4 && memcmp(head, "PK\x03\x04", 4) == 0;
}

bool firstZipMember(const uint8_t* data, size_t size, ZipMember& member, uint64_t& members,
                    std::string& error) {
    if (size < 22) {
        error = "the zip archive is cut short";
        return false;
    }
    size_t end = size - 22;
    size_t lowest = size > 22 + 65535 ? size - 22 - 65535 : 0;
    for (;;) {
        if (memcmp(data + end, "PK\x05\x06", 4) == 0)
            break;
        if (end == lowest) {
            error = "the zip archive has no central directory (is it cut short?)";
            return false;
        }
        --end;
    }
    uint64_t entries = readLittleEndian(data + end + 10, 2);
    uint64_t directory = readLittleEndian(data + end + 16, 4);
    if (directory == 0xffffffffu || entries == 0xffff) {
        // zip64: the locator just before the record points at the larger one.
        if (end < 20 || memcmp(data + end - 20, "PK\x06\x07", 4) != 0) {
            error = "the zip64 archive has no zip64 directory locator";
            return false;
        }
        uint64_t record = readLittleEndian(data + end - 20 + 8, 8);
        if (record > size || size - record < 56 || memcmp(data + record, "PK\x06\x06", 4) != 0) {
            error = "the zip64 directory record is missing";
            return false;
        }
        entries = readLittleEndian(data + record + 32, 8);
        directory = readLittleEndian(data + record + 48, 8);
    }
    if (entries == 0) {
        error = "the zip archive holds no arrays";
        return false;
    }
    members = entries;
    if (directory > size || size - directory < 46 ||
        memcmp(data + directory, "PK\x01\x02", 4) != 0) {
        error = "the zip archive's central directory is damaged";
        return false;
    }
    const uint8_t* entry = data + directory;
    int flags = int(readLittleEndian(entry + 8, 2));
    member.method = int(readLittleEndian(entry + 10, 2));
    member.compressedSize = readLittleEndian(entry + 20, 4);
    member.size = readLittleEndian(entry + 24, 4);
    size_t nameLength = size_t(readLittleEndian(entry + 28, 2));
    size_t extraLength = size_t(readLittleEndian(entry + 30, 2));
    member.localOffset = readLittleEndian(entry + 42, 4);
    if (size - directory - 46 < nameLength + extraLength) {
        error = "the zip archive's central directory is damaged";
        return false;
    }
    member.name.assign(reinterpret_cast<const char*>(entry + 46), nameLength);
    if (flags & 1) {
        error = "the zip archive is encrypted";
        return false;
    }
    // A zip64 extra field holds, in this order, those of the sizes and the
    // offset that did not fit their 32-bit fields.
    const uint8_t* extra = entry + 46 + nameLength;
    size_t at = 0;
    while (at + 4 <= extraLength) {
        uint64_t id = readLittleEndian(extra + at, 2);
        size_t length = size_t(readLittleEndian(extra + at + 2, 2));
        if (length > extraLength - at - 4)
            break;
        if (id == 1) {
            const uint8_t* field = extra + at + 4;
            size_t used = 0;
            uint64_t* wide[3] = {&member.size, &member.compressedSize, &member.localOffset};
            for (uint64_t* value : wide)
                if (*value == 0xffffffffu) {
                    if (used + 8 > length) {
                        error = "the zip64 sizes of the first member are missing";
                        return false;
                    }
                    *value = readLittleEndian(field + used, 8);
                    used += 8;
                }
        }
        at += 4 + length;
    }
    return true;
}

bool locateZipMember(const uint8_t* data, size_t size, ZipMember& member, std::string& error) {
    const std::string shownName = quotedText(member.name);
    if (member.localOffset > size || size - member.localOffset < 30 ||
        memcmp(data + member.localOffset, "PK\x03\x04", 4) != 0) {
        error = "the zip member " + shownName + " is not where the directory says";
        return false;
    }
    const uint8_t* local = data + member.localOffset;
    member.dataStart =
        member.localOffset + 30 + readLittleEndian(local + 26, 2) + readLittleEndian(local + 28, 2);
    if (member.dataStart > size || size - member.dataStart < member.compressedSize) {
        error = "the zip member " + shownName + " is cut short";
        return false;
    }
    return true;
}

bool zipMemberBytes(const uint8_t* data, const ZipMember& member, std::vector<uint8_t>& bytes,
                    std::string& error) {
    const std::string shownName = quotedText(member.name);
    const uint8_t* start = data + member.dataStart;
    if (member.method == 0) {
        if (member.compressedSize != member.size) {
            error = "the stored zip member " + shownName + " has two different sizes";
            return false;
        }
        bytes.assign(start, start + member.size);
    } else if (member.method == 8) {
        if (!inflateStated(start, size_t(member.compressedSize), DeflateWrapper::raw,
                           size_t(member.size), bytes, error)) {
            error = "the zip member " + shownName + ": " + error;
            return false;
        }
        if (bytes.size() != member.size) {
            error = "the zip member " + shownName + " inflates to another size than stated";
            return false;
        }
    } else {
        error = "the zip member " + shownName + " uses compression method " +
                std::to_string(member.method) + "; only stored and deflated members are read";
        return false;
    }
    return true;
}
