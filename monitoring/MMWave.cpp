#include "monitoring/MMWave.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <sys/stat.h>

namespace {

constexpr uint64_t kMaxFormatChunk = 1 << 20;  // bytes; larger records are refused
constexpr size_t kMaxText = 4096;              // bytes kept of one INFO or DISP text
constexpr size_t kMaxInfoTexts = 256;

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
bool isId(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

class MemorySource : public IMMWaveSource {
public:
    MemorySource(const uint8_t* d, size_t n) : mData(d), mSize(n) {}
    uint64_t Size() const override { return mSize; }
    bool ReadAt(uint64_t off, void* buf, size_t n) override
    {
        if (off > mSize || n > mSize - off) return false;
        if (n) std::memcpy(buf, mData + off, n);
        return true;
    }

private:
    const uint8_t* mData;
    size_t mSize;
};

class FileSource : public IMMWaveSource {
public:
    FileSource(std::FILE* f, uint64_t size) : mFile(f), mSize(size) {}
    uint64_t Size() const override { return mSize; }
    bool ReadAt(uint64_t off, void* buf, size_t n) override
    {
        if (off > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) return false;
        if (fseeko(mFile, static_cast<off_t>(off), SEEK_SET) != 0) return false;
        return std::fread(buf, 1, n, mFile) == n;
    }

private:
    std::FILE* mFile;
    uint64_t mSize;
};

std::string textOf(const std::vector<uint8_t>& raw)
{
    const auto end = std::find(raw.begin(), raw.end(), uint8_t(0));
    return std::string(raw.begin(), end);
}

// Sub-chunks of a LIST/INFO between begin and end.
void readInfo(IMMWaveSource& src, uint64_t pos, uint64_t end, TMMWaveInfo& info)
{
    uint8_t hdr[8];
    while (pos + 8 <= end && info.InfoTexts.size() < kMaxInfoTexts) {
        if (!src.ReadAt(pos, hdr, 8)) return;
        const uint64_t size = le32(hdr + 4);
        const uint64_t payload = pos + 8;
        const uint64_t avail = std::min(size, end - payload);
        std::vector<uint8_t> raw(static_cast<size_t>(std::min<uint64_t>(avail, kMaxText)));
        if (!raw.empty() && !src.ReadAt(payload, raw.data(), raw.size())) return;
        info.InfoTexts.emplace_back(std::string(reinterpret_cast<const char*>(hdr), 4), textOf(raw));
        pos = payload + size + (size & 1);
    }
}

void readDisp(IMMWaveSource& src, uint64_t payload, uint64_t size, TMMWaveInfo& info)
{
    uint8_t t[4];
    if (size < 4 || !src.ReadAt(payload, t, 4)) return;
    info.DisplayType = le32(t);
    if (info.DisplayType != 1) return;  // text
    std::vector<uint8_t> raw(static_cast<size_t>(std::min<uint64_t>(size - 4, kMaxText)));
    if (!raw.empty() && src.ReadAt(payload + 4, raw.data(), raw.size())) info.DisplayText = textOf(raw);
}

}  // namespace

TMMWaveInfo ParseWave(IMMWaveSource& src)
{
    TMMWaveInfo info;
    const uint64_t fileLen = src.Size();
    info.FileLength = fileLen;

    uint8_t riff[12];
    if (!src.ReadAt(0, riff, 12) || !isId(riff, "RIFF") || !isId(riff + 8, "WAVE"))
        throw EMMWaveError("Not a RIFF/WAVE file");
    const uint64_t riffEnd = std::min<uint64_t>(8 + uint64_t(le32(riff + 4)), fileLen);

    bool haveFormat = false, sawData = false, dataNonEmpty = false, haveFact = false;
    bool prevWasData = false;
    bool formatCut = false, secondFormat = false;
    uint64_t dataEnd = fileLen;
    bool dataEndSet = false;

    uint64_t pos = 12;
    uint8_t hdr[8];
    while (pos + 8 <= riffEnd) {
        if (!src.ReadAt(pos, hdr, 8)) break;
        uint64_t size = le32(hdr + 4);
        const uint64_t payload = pos + 8;
        if (payload + size > riffEnd) {
            if (haveFormat && sawData) break;
            if (payload + size > fileLen) size = fileLen - payload;
        }
        if (prevWasData) {
            dataEnd = pos;
            dataEndSet = true;
            prevWasData = false;
        }

        bool stop = false;
        if (isId(hdr, "LIST")) {
            uint8_t type[4];
            if (size >= 4 && src.ReadAt(payload, type, 4) && isId(type, "INFO"))
                readInfo(src, payload + 4, payload + size, info);
        } else if (isId(hdr, "DISP")) {
            readDisp(src, payload, size, info);
        } else if (isId(hdr, "fmt ")) {
            if (haveFormat) {
                stop = true;
                secondFormat = true;
            } else {
                formatCut = size < le32(hdr + 4);
                if (size > kMaxFormatChunk) throw EMMWaveError("Format chunk too large to read");
                info.FormatRecord.assign(static_cast<size_t>(std::max<uint64_t>(size, sizeof(WaveFormat))), 0);
                if (!src.ReadAt(payload, info.FormatRecord.data(), static_cast<size_t>(size)))
                    throw EMMWaveError("Read error in the format chunk");
                haveFormat = true;
            }
        } else if (isId(hdr, "data")) {
            if (dataNonEmpty) {
                stop = true;
            } else {
                info.DataOffset = payload;
                sawData = true;
                dataNonEmpty = size > 0;
                prevWasData = true;
                dataEndSet = false;
            }
        } else if (isId(hdr, "fact")) {
            if (haveFact) {
                stop = true;
            } else if (size >= 4) {
                uint8_t c[4];
                if (src.ReadAt(payload, c, 4)) {
                    info.SampleCount = le32(c);
                    haveFact = true;
                }
            }
        }
        if (stop) break;

        const uint64_t next = payload + size + (size & 1);
        if (next > fileLen + 1) {  // leaving the chunk failed
            if (dataNonEmpty) break;
            throw EMMWaveError("Read error in the chunk list");
        }
        pos = next;
    }

    if (!haveFormat) throw EMMWaveError("No format chunk");
    std::memcpy(&info.Format, info.FormatRecord.data(), sizeof(WaveFormat));
    info.StoredBlockAlign = info.Format.nBlockAlign;
    if (info.StoredBlockAlign == 0) throw EMMWaveError("Invalid block alignment 0 in the format chunk");

    // The data region: to the next chunk's header or the end of the file;
    // the size in the data chunk's header is not used. Without a data
    // chunk the region is empty.
    info.HasDataChunk = sawData;
    if (sawData) {
        const uint64_t end = dataEndSet ? dataEnd : fileLen;
        const uint64_t len = end > info.DataOffset ? end - info.DataOffset : 0;
        info.DataLength = len - len % info.StoredBlockAlign;
    } else {
        info.DataOffset = 0;
        info.DataLength = 0;
    }
    if (info.DataLength == 0) {
        info.NoDataReason = sawData       ? "the data chunk holds no whole sample frame"
                            : formatCut    ? "the format chunk's size runs past the end of the file, so no data chunk follows"
                            : secondFormat ? "a second format chunk stands before any data chunk"
                                           : "no data chunk";
    }

    WaveFormat& f = info.Format;
    if (f.wFormatTag == WAVE_FORMAT_PCM) {
        const uint32_t align = uint32_t(f.wBitsPerSample) * f.nChannels / 8;
        if (align == 0 || align > 0xFFFF) throw EMMWaveError("Invalid block alignment in the format chunk");
        f.nBlockAlign = static_cast<uint16_t>(align);
        f.nAvgBytesPerSec = static_cast<uint32_t>(
            std::min<uint64_t>(uint64_t(align) * f.nSamplesPerSec, std::numeric_limits<uint32_t>::max()));
        std::memcpy(info.FormatRecord.data() + 8, &f.nAvgBytesPerSec, 4);
        std::memcpy(info.FormatRecord.data() + 12, &f.nBlockAlign, 2);
        info.SampleCount = info.DataLength / align;
    } else if (f.nAvgBytesPerSec > 0) {
        info.SampleCount = info.DataLength * f.nSamplesPerSec / f.nAvgBytesPerSec;
    } else {
        info.SampleCount = 0;
    }
    return info;
}

TMMWaveInfo ParseWaveMemory(const uint8_t* data, size_t size)
{
    MemorySource src(data, data ? size : 0);
    return ParseWave(src);
}

namespace {

std::FILE* openRead(const std::string& path, uint64_t& size)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) throw EMMWaveError("Cannot open " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(f);
        throw EMMWaveError("Cannot open " + path + ": not a regular file");
    }
    size = static_cast<uint64_t>(st.st_size);
    return f;
}

}  // namespace

TMMWaveInfo ParseWaveFile(const std::string& path)
{
    uint64_t size = 0;
    std::FILE* f = openRead(path, size);
    FileSource src(f, size);
    try {
        TMMWaveInfo info = ParseWave(src);
        std::fclose(f);
        return info;
    } catch (...) {
        std::fclose(f);
        throw;
    }
}

TMMWaveFileReader::~TMMWaveFileReader() { Close(); }

void TMMWaveFileReader::Open(const std::string& path)
{
    Close();
    uint64_t size = 0;
    std::FILE* f = openRead(path, size);
    FileSource src(f, size);
    try {
        mInfo = ParseWave(src);
    } catch (...) {
        std::fclose(f);
        throw;
    }
    mFile = f;
    mPos = 0;
}

void TMMWaveFileReader::Close()
{
    if (mFile) std::fclose(mFile);
    mFile = nullptr;
    mInfo = TMMWaveInfo();
    mPos = 0;
}

size_t TMMWaveFileReader::Read(void* buffer, size_t n)
{
    if (!mFile || mPos >= mInfo.DataLength) return 0;
    n = static_cast<size_t>(std::min<uint64_t>(n, mInfo.DataLength - mPos));
    if (fseeko(mFile, static_cast<off_t>(mInfo.DataOffset + mPos), SEEK_SET) != 0)
        throw EMMWaveError("Read error in the data region");
    const size_t got = std::fread(buffer, 1, n, mFile);
    if (got != n) throw EMMWaveError("Read error in the data region");
    mPos += got;
    return got;
}

void TMMWaveFileReader::Seek(uint64_t position) { mPos = std::min(position, mInfo.DataLength); }
