// The converter's cap on its own address space, so that a damaged file that
// claims billions of elements is refused at once instead of filling the
// machine.
#pragma once

#include <cstdint>

// 1 GiB for the program and its libraries, 64 bytes per byte of input (an
// imported scene, a voxel file's text and model, a decoded volume) and 64
// bytes per voxel allowed; never more than the machine's memory, nor than
// what the control group this process runs in can still give it.
int64_t defaultMemoryCap(int64_t inputBytes, int64_t maxVoxels);

// The same from given figures: the machine's memory and the group's room
// (unlimitedRoom when it has no limit). Never below one byte, so that 0 can
// keep meaning "no cap chosen".
int64_t memoryCapWithin(int64_t inputBytes, int64_t maxVoxels, uint64_t machineBytes,
                        uint64_t groupRoom);

// What a header's claims (an array, a compressed member to inflate) may take
// of the cap: all of a cap given with --max-memory; of the default cap, what
// its share for the voxels (64 bytes for each voxel allowed) leaves, and at
// least half of it.
int64_t headerClaimLimit(int64_t cap, bool capGiven, int64_t maxVoxels);

// Lowers the address-space limit to `bytes` beyond what is mapped when it is
// called (the program and its libraries; never raises it). Builds with the
// address checker cap the heap at `bytes` instead (platform/heap_cap.h): its
// shadow memory reserves terabytes of address space.
void capAddressSpace(int64_t bytes);

// Gives back the address space capAddressSpace took away (the heap cap in
// builds with the address checker): for a program that goes on, after its
// conversion, to work the cap was not sized for.
void liftAddressSpaceCap();
