/* The extremes of a column's samples: a vector kernel for SSE2 and one
   for AVX2, and plain code for the bytes around them and for tests. */
#include <immintrin.h>
#include "waveview/waveview.h"

static int Kernel = ScanBest;

void SetScanKernel(int kernel)
{
    Kernel = kernel;
}

/* The processor's features are read once at start-up by the compiler's
   runtime; AVX2 counts only where Windows also saves its registers. */
static int KernelToUse(void)
{
    if (Kernel != ScanBest)
        return Kernel;
    return __builtin_cpu_supports("avx2") ? ScanAvx2 : ScanSse2;
}

static void AddPiece(COLUMNSCAN *scan, const COLUMNSCAN *piece)
{
    if (scan->Count == 0)
    {
        *scan = *piece;
        return;
    }
    scan->Count += piece->Count;
    scan->Last = piece->Last;
    scan->Min = piece->Min < scan->Min ? piece->Min : scan->Min;
    scan->Max = piece->Max > scan->Max ? piece->Max : scan->Max;
}

/* Every repaint scans the whole segment, so the extremes are taken a
   vector at a time, four vectors a step folded into one running low and
   high: 128 bytes a step with AVX2 where the processor and Windows offer
   it, else 64 with SSE2, which every x86 processor Windows runs on has;
   as unsigned bytes, or with Wide as signed 16-bit words. Each takes
   whole steps from the start of the run, leaves the lanes' extremes in
   low and high and returns the number of bytes it took. */
template <int Wide>
__attribute__((target("sse2")))
static __m128i Lower128(__m128i a, __m128i b)
{
    return Wide ? _mm_min_epi16(a, b) : _mm_min_epu8(a, b);
}

template <int Wide>
__attribute__((target("sse2")))
static __m128i Higher128(__m128i a, __m128i b)
{
    return Wide ? _mm_max_epi16(a, b) : _mm_max_epu8(a, b);
}

template <int Wide>
__attribute__((target("avx2")))
static __m256i Lower256(__m256i a, __m256i b)
{
    return Wide ? _mm256_min_epi16(a, b) : _mm256_min_epu8(a, b);
}

template <int Wide>
__attribute__((target("avx2")))
static __m256i Higher256(__m256i a, __m256i b)
{
    return Wide ? _mm256_max_epi16(a, b) : _mm256_max_epu8(a, b);
}

/* The empty asm statements keep each loaded vector in its register: GCC
   otherwise reads every vector twice, once for the min and once for the
   max, and the loads, not the comparisons, then set the pace. */
template <int Wide>
__attribute__((target("sse2")))
static LONG VectorSse2(const BYTE *p, LONG count, __m128i *low, __m128i *high)
{
    __m128i lo = *low, hi = *high;
    LONG i;

    for (i = 0; i + 64 <= count; i += 64)
    {
        __m128i a = _mm_loadu_si128((const __m128i *)(p + i));
        __m128i b = _mm_loadu_si128((const __m128i *)(p + i + 16));
        __m128i c = _mm_loadu_si128((const __m128i *)(p + i + 32));
        __m128i d = _mm_loadu_si128((const __m128i *)(p + i + 48));
        __asm__("" : "+x"(a), "+x"(b), "+x"(c), "+x"(d));
        lo = Lower128<Wide>(lo, Lower128<Wide>(Lower128<Wide>(a, b), Lower128<Wide>(c, d)));
        hi = Higher128<Wide>(hi, Higher128<Wide>(Higher128<Wide>(a, b), Higher128<Wide>(c, d)));
    }
    *low = lo;
    *high = hi;
    return i;
}

template <int Wide>
__attribute__((target("avx2")))
static LONG VectorAvx2(const BYTE *p, LONG count, __m128i *low, __m128i *high)
{
    __m256i lo = _mm256_broadcastsi128_si256(*low), hi = _mm256_broadcastsi128_si256(*high);
    LONG i;

    for (i = 0; i + 128 <= count; i += 128)
    {
        __m256i a = _mm256_loadu_si256((const __m256i *)(p + i));
        __m256i b = _mm256_loadu_si256((const __m256i *)(p + i + 32));
        __m256i c = _mm256_loadu_si256((const __m256i *)(p + i + 64));
        __m256i d = _mm256_loadu_si256((const __m256i *)(p + i + 96));
        __asm__("" : "+x"(a), "+x"(b), "+x"(c), "+x"(d));
        lo = Lower256<Wide>(lo, Lower256<Wide>(Lower256<Wide>(a, b), Lower256<Wide>(c, d)));
        hi = Higher256<Wide>(hi, Higher256<Wide>(Higher256<Wide>(a, b), Higher256<Wide>(c, d)));
    }
    *low = Lower128<Wide>(_mm256_castsi256_si128(lo), _mm256_extracti128_si256(lo, 1));
    *high = Higher128<Wide>(_mm256_castsi256_si128(hi), _mm256_extracti128_si256(hi, 1));
    return i;
}

/* The vectors start at a 32-byte boundary, so that none of their loads
   straddles two cache lines; the bytes or words before it and after the
   last whole step are taken one at a time. */
static LONG ToBoundary(const void *p, LONG count)
{
    LONG head = (LONG)(-(UINT_PTR)p & 31);

    return head < count ? head : count;
}

static void BytesOneByOne(const BYTE *p, LONG from, LONG to, LONG *lowest, LONG *highest)
{
    for (LONG i = from; i < to; i++)
    {
        *lowest = p[i] < *lowest ? p[i] : *lowest;
        *highest = p[i] > *highest ? p[i] : *highest;
    }
}

static void WordsOneByOne(const short *p, LONG from, LONG to, LONG *lowest, LONG *highest)
{
    for (LONG i = from; i < to; i++)
    {
        *lowest = p[i] < *lowest ? p[i] : *lowest;
        *highest = p[i] > *highest ? p[i] : *highest;
    }
}

static void ScanBytes(const BYTE *p, LONG count, COLUMNSCAN *scan)
{
    __m128i lo = _mm_set1_epi8((char)0xFF), hi = _mm_setzero_si128();
    BYTE lows[16], highs[16];
    COLUMNSCAN piece = { count, p[0], p[count - 1], 255, 0 };
    LONG head = ToBoundary(p, count), n = 0;
    int kernel = KernelToUse();

    if (kernel == ScanAvx2)
        n = VectorAvx2<0>(p + head, count - head, &lo, &hi);
    else if (kernel == ScanSse2)
        n = VectorSse2<0>(p + head, count - head, &lo, &hi);
    _mm_storeu_si128((__m128i *)lows, lo);
    _mm_storeu_si128((__m128i *)highs, hi);
    for (int k = 0; k < 16; k++)
    {
        piece.Min = lows[k] < piece.Min ? lows[k] : piece.Min;
        piece.Max = highs[k] > piece.Max ? highs[k] : piece.Max;
    }
    BytesOneByOne(p, 0, head, &piece.Min, &piece.Max);
    BytesOneByOne(p, head + n, count, &piece.Min, &piece.Max);
    AddPiece(scan, &piece);
}

/* Words at an odd address never reach a boundary whole: they start there. */
static void ScanWords(const short *p, LONG count, COLUMNSCAN *scan)
{
    __m128i lo = _mm_set1_epi16(32767), hi = _mm_set1_epi16(-32768);
    short lows[8], highs[8];
    LONG lowest = 32767, highest = -32768, head, n = 0;
    int kernel = KernelToUse();
    COLUMNSCAN piece;

    head = (UINT_PTR)p & 1 ? 0 : ToBoundary(p, count * 2) / 2;
    if (kernel == ScanAvx2)
        n = VectorAvx2<1>((const BYTE *)(p + head), (count - head) * 2, &lo, &hi);
    else if (kernel == ScanSse2)
        n = VectorSse2<1>((const BYTE *)(p + head), (count - head) * 2, &lo, &hi);
    _mm_storeu_si128((__m128i *)lows, lo);
    _mm_storeu_si128((__m128i *)highs, hi);
    for (int k = 0; k < 8; k++)
    {
        lowest = lows[k] < lowest ? lows[k] : lowest;
        highest = highs[k] > highest ? highs[k] : highest;
    }
    WordsOneByOne(p, 0, head, &lowest, &highest);
    WordsOneByOne(p, head + n / 2, count, &lowest, &highest);
    piece.Count = count;
    piece.First = p[0] + 32768L;
    piece.Last  = p[count - 1] + 32768L;
    piece.Min   = lowest + 32768L;
    piece.Max   = highest + 32768L;
    AddPiece(scan, &piece);
}

/* Scans the whole samples of n bytes, unsigned bytes or, with wide,
   signed 16-bit words; a lone last byte of 16-bit data is left out. */
void ScanSamples(int wide, const BYTE *p, LONG n, COLUMNSCAN *scan)
{
    if (wide && n >= 2)
        ScanWords((const short *)p, n / 2, scan);
    else if (!wide && n >= 1)
        ScanBytes(p, n, scan);
}
