/* RIFF files built byte by byte, for sources good and odd. */
#ifndef PELNOR_TEST_WAVBUILD_H
#define PELNOR_TEST_WAVBUILD_H

#include <stdint.h>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

void PutLe16(Bytes &out, uint16_t value);
void PutLe32(Bytes &out, uint32_t value);
uint16_t GetLe16(const Bytes &in, size_t offset);
uint32_t GetLe32(const Bytes &in, size_t offset);

/* The 16 bytes of a PCM fmt record. */
Bytes FmtRecord(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                uint16_t blockAlign = 0, uint32_t bytesPerSec = 0);
/* A chunk: id, size, payload, and a pad byte after an odd payload. */
Bytes Chunk(const char *id, const Bytes &payload);
/* "RIFF", size, form type, then the given chunks. */
Bytes Riff(const char *form, const std::vector<Bytes> &chunks);
/* A canonical 44-byte-header PCM file holding the given sample bytes. */
Bytes PcmWav(uint16_t channels, uint32_t rate, uint16_t bits, const Bytes &data);
/* n bytes of a pattern that never repeats within 65521 bytes. */
Bytes PatternBytes(size_t n, uint32_t seed = 1);

void WriteBytes(const std::string &path, const Bytes &bytes);
Bytes ReadBytes(const std::string &path);

#endif
