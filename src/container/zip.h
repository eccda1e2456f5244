// Zip archives as numpy.savez and savez_compressed write them: the first
// member of the central directory (zip64 included), stored or deflated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Whether the bytes start as a zip archive does, with a local header.
bool startsWithZip(const uint8_t* head, size_t size);

struct ZipMember {
    std::string name;
    int method = 0; // 0 stored, 8 deflated
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint64_t localOffset = 0;
    uint64_t dataStart = 0; // set by locateZipMember
};

// Finds the end-of-central-directory record (and its zip64 form) and reads
// the first central-directory entry into `member`; `members` is how many the
// archive holds. Fails with a sentence in `error` for an archive that is cut
// short, damaged, encrypted or empty.
bool firstZipMember(const uint8_t* data, size_t size, ZipMember& member, uint64_t& members,
                    std::string& error);

// Checks the member's local header and that its data is all there, and sets
// `member.dataStart`.
bool locateZipMember(const uint8_t* data, size_t size, ZipMember& member, std::string& error);

// The member's bytes, stored or deflated (inflated no further than its
// stated size, which they must fill): from a member that locateZipMember
// accepted.
bool zipMemberBytes(const uint8_t* data, const ZipMember& member, std::vector<uint8_t>& bytes,
                    std::string& error);
