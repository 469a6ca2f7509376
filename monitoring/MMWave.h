// RIFF/WAVE reading: the chunk walk that finds the format record and the
// data region, and a reader for the data region of a file. No platform
// file API beyond stdio; the walk also runs over a memory block.
#pragma once

#include "audio/MMUtils.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

class EMMWaveError : public EMMError {
public:
    using EMMError::EMMError;
};

// What the walk found. Offsets and lengths in bytes from the start of the file.
struct TMMWaveInfo {
    WaveFormat Format;                  // first 18 bytes of the record, PCM header repaired
    std::vector<uint8_t> FormatRecord;  // the record as read (at least 18 bytes), repaired
    uint16_t StoredBlockAlign = 0;      // block alignment as written in the file
    uint64_t FileLength = 0;
    bool HasDataChunk = false;
    uint64_t DataOffset = 0;
    uint64_t DataLength = 0;  // whole blocks of StoredBlockAlign
    uint64_t SampleCount = 0;
    // Why DataLength is 0, for tools that need audio ("no data chunk", ...);
    // empty when there is data. The player accepts such files all the same.
    std::string NoDataReason;
    std::vector<std::pair<std::string, std::string>> InfoTexts;  // LIST/INFO: id, text
    uint32_t DisplayType = 0;                                    // DISP record
    std::string DisplayText;                                     // DISP text (type 1)
};

// Random access to the bytes being parsed.
class IMMWaveSource {
public:
    virtual ~IMMWaveSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly n bytes at offset; false on a short read.
    virtual bool ReadAt(uint64_t offset, void* buffer, size_t n) = 0;
};

// The walk; raises EMMWaveError with a one-line message on failure:
// not a RIFF/WAVE file, a read error, a format chunk too large to keep,
// no format chunk, or a block alignment of 0.
TMMWaveInfo ParseWave(IMMWaveSource& source);
TMMWaveInfo ParseWaveMemory(const uint8_t* data, size_t size);
// Also fails when the file cannot be opened. Opens read-only.
TMMWaveInfo ParseWaveFile(const std::string& path);

// Reads the data region of a parsed file from the start, in order.
class TMMWaveFileReader {
public:
    TMMWaveFileReader() = default;
    ~TMMWaveFileReader();
    TMMWaveFileReader(const TMMWaveFileReader&) = delete;
    TMMWaveFileReader& operator=(const TMMWaveFileReader&) = delete;

    // Parses and positions at the first data byte; raises EMMWaveError.
    void Open(const std::string& path);
    void Close();
    bool IsOpen() const { return mFile != nullptr; }
    const TMMWaveInfo& Info() const { return mInfo; }

    // Copies up to n bytes from the read position; returns the count
    // (0 at the end of the region). Raises EMMWaveError on a read error.
    size_t Read(void* buffer, size_t n);
    uint64_t Position() const { return mPos; }
    // Moves the read position (limited to the region).
    void Seek(uint64_t position);

private:
    std::FILE* mFile = nullptr;
    TMMWaveInfo mInfo;
    uint64_t mPos = 0;
};
