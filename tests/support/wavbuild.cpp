#include "wavbuild.h"
#include <stdio.h>
#include <string.h>

void PutLe16(Bytes &out, uint16_t value)
{
    out.push_back(value & 0xFF);
    out.push_back(value >> 8);
}

void PutLe32(Bytes &out, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        out.push_back((value >> (8 * i)) & 0xFF);
}

uint16_t GetLe16(const Bytes &in, size_t offset)
{
    return (uint16_t)(in.at(offset) | in.at(offset + 1) << 8);
}

uint32_t GetLe32(const Bytes &in, size_t offset)
{
    return (uint32_t)GetLe16(in, offset) | (uint32_t)GetLe16(in, offset + 2) << 16;
}

Bytes FmtRecord(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                uint16_t blockAlign, uint32_t bytesPerSec)
{
    Bytes fmt;
    if (!blockAlign)
        blockAlign = (uint16_t)(channels * ((bits + 7) / 8));
    if (!bytesPerSec)
        bytesPerSec = rate * blockAlign;
    PutLe16(fmt, tag);
    PutLe16(fmt, channels);
    PutLe32(fmt, rate);
    PutLe32(fmt, bytesPerSec);
    PutLe16(fmt, blockAlign);
    PutLe16(fmt, bits);
    return fmt;
}

Bytes Chunk(const char *id, const Bytes &payload)
{
    Bytes chunk(id, id + 4);
    PutLe32(chunk, (uint32_t)payload.size());
    chunk.insert(chunk.end(), payload.begin(), payload.end());
    if (payload.size() & 1)
        chunk.push_back(0);
    return chunk;
}

Bytes Riff(const char *form, const std::vector<Bytes> &chunks)
{
    Bytes body(form, form + 4);
    for (const Bytes &chunk : chunks)
        body.insert(body.end(), chunk.begin(), chunk.end());
    Bytes riff = { 'R', 'I', 'F', 'F' };
    PutLe32(riff, (uint32_t)body.size());
    riff.insert(riff.end(), body.begin(), body.end());
    return riff;
}

Bytes PcmWav(uint16_t channels, uint32_t rate, uint16_t bits, const Bytes &data)
{
    return Riff("WAVE", { Chunk("fmt ", FmtRecord(1, channels, rate, bits)), Chunk("data", data) });
}

Bytes PatternBytes(size_t n, uint32_t seed)
{
    Bytes out(n);
    uint32_t x = seed;
    for (size_t i = 0; i < n; i++)
    {
        x = x * 1103515245u + 12345u;
        out[i] = (uint8_t)(x >> 16);
    }
    return out;
}

void WriteBytes(const std::string &path, const Bytes &bytes)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return;
    if (!bytes.empty())
        fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

Bytes ReadBytes(const std::string &path)
{
    Bytes bytes;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return bytes;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(f);
    return bytes;
}
