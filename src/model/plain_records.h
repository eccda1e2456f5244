// Whole voxel records ("x y z red green blue") read sixteen bytes at a time.
//
// Nearly every record a program writes is six plain decimals apart by white
// space: an optional sign, digits, at most one point, fifteen characters at
// most. For those, where each number starts is found for a stretch of text
// at once, from a white-space mask of 64 bytes at a time, so that no number
// waits for the one before it to be scanned; each is then validated and
// converted from one 16-byte load, with no loop over its characters. A
// record holding anything else (an exponent, a hexadecimal or named value,
// a number run into a letter, an overlong mantissa) is not read here at all:
// the caller reads it with the general scanners, which read exactly as the C
// library's "%f" and "%d" do. Where both can read a record they agree to the
// bit.
#pragma once

#include <cstdint>

// Whether readPlainRecords is used; it is on where the processor has the
// vector instructions it needs (x86-64 with SSSE3 and POPCNT). Tests turn it off to check
// the general scanners on their own.
extern bool plainRecordsEnabled;

// Reads up to `wanted` whole records from *p, storing three floats to
// `positions` and three colour bytes (the low eight bits of each "%d") to
// `colors` for each, and advances *p past the last one read. Stops before
// the first record it cannot read exactly, and in the last few dozen bytes
// of the text, which it never reads past. Returns how many records it read.
int32_t readPlainRecords(const char** p, const char* end, int32_t wanted, float* positions,
                         uint8_t* colors);

// Where a second reader can start on the text from p: the first number at or
// after `from` that begins a record, taking every run of characters between
// white space for one number, as it is in plain records. Stores the record's
// index; null when no such number lies before the last few dozen bytes. The
// count is only a guess where the text is not plain records, so the caller
// must check that the first reader reaches that record at that number.
const char* findRecordStart(const char* p, const char* from, const char* end, int64_t* record);
