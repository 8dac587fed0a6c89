#include "dib_image.h"

#include <climits>
#include <cstring>
#include <new>

namespace {

const WORD BMP_SIGNATURE = 0x4D42; // "BM" read little-endian
const UINT FILE_HEADER_SIZE = 14;
const UINT INFO_HEADER_SIZE = 40;
// The longer info headers that today's tools write (version 4 and 5) begin
// with the same 40 bytes; what they add (colour masks, colour space) means
// nothing for uncompressed rows, so only their length matters here.
const UINT V4_HEADER_SIZE = 108;
const UINT V5_HEADER_SIZE = 124;

// Pointer arithmetic on the block as bytes.
inline BYTE *blockBytes(BITMAPINFO *info) {
    return reinterpret_cast<BYTE *>(info);
}

// Little-endian fields of the 14-byte file header.
struct FileHeader {
    WORD bfType;
    DWORD bfSize;
    DWORD bfOffBits;
};

FileHeader parseFileHeader(const BYTE *b) {
    FileHeader h;
    h.bfType = WORD(b[0] | b[1] << 8);
    h.bfSize = DWORD(b[2]) | DWORD(b[3]) << 8 | DWORD(b[4]) << 16 | DWORD(b[5]) << 24;
    h.bfOffBits = DWORD(b[10]) | DWORD(b[11]) << 8 | DWORD(b[12]) << 16 | DWORD(b[13]) << 24;
    return h;
}

// 32-bit signed result of 64-bit arithmetic, wrapping as 32-bit arithmetic
// would, without the undefined behaviour of a signed overflow.
inline LONG wrap32(int64_t v) {
    return static_cast<LONG>(static_cast<uint32_t>(v));
}

} // namespace

CDibImage::CDibImage() : m_pInfo(nullptr) {}

CDibImage::~CDibImage() {
    Free();
}

void CDibImage::Free() {
    delete[] blockBytes(m_pInfo);
    m_pInfo = nullptr;
}

DWORD CDibImage::ColorsOf(const BITMAPINFOHEADER &header) {
    if (header.biClrUsed != 0) return header.biClrUsed;
    if (header.biBitCount <= 8) return DWORD(1) << header.biBitCount;
    if ((header.biBitCount == 16 || header.biBitCount == 32) && header.biCompression == BI_BITFIELDS) return 3;
    return 0;
}

DWORD CDibImage::NumColors() const {
    return m_pInfo ? ColorsOf(m_pInfo->bmiHeader) : 0;
}

RGBQUAD *CDibImage::GetColorTable() const {
    if (!m_pInfo) return nullptr;
    return reinterpret_cast<RGBQUAD *>(blockBytes(m_pInfo) + INFO_HEADER_SIZE);
}

BYTE *CDibImage::GetBits() const {
    if (!m_pInfo) return nullptr;
    return blockBytes(m_pInfo) + INFO_HEADER_SIZE + size_t(4) * NumColors();
}

LONG CDibImage::Width() const {
    return m_pInfo ? m_pInfo->bmiHeader.biWidth : 0;
}

LONG CDibImage::Height() const {
    return m_pInfo ? m_pInfo->bmiHeader.biHeight : 0;
}

BOOL CDibImage::Create(LONG width, LONG height, LONG bitCount, LONG compression) {
    if (compression != LONG(BI_RGB) && compression != LONG(BI_BITFIELDS)) return FALSE;
    if (bitCount != 8 && bitCount != 24) return FALSE;
    if (width < 0 || height < 0) return FALSE;
    const int64_t rowSize = ((int64_t(width) * bitCount + 31) & ~int64_t(31)) / 8;
    const int64_t imageSize = rowSize * height;
    // biSizeImage is a 32-bit field; larger pictures cannot be described.
    if (imageSize > INT32_MAX) return FALSE;
    const DWORD colours = bitCount <= 8 ? DWORD(1) << bitCount : 0;

    Free();
    const size_t blockSize = INFO_HEADER_SIZE + size_t(4) * colours + size_t(imageSize);
    BYTE *block = new (std::nothrow) BYTE[blockSize]();
    if (!block) return FALSE;
    m_pInfo = reinterpret_cast<BITMAPINFO *>(block);
    BITMAPINFOHEADER &h = m_pInfo->bmiHeader;
    h.biSize = INFO_HEADER_SIZE;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = WORD(bitCount);
    h.biCompression = DWORD(compression);
    h.biSizeImage = DWORD(imageSize);
    h.biXPelsPerMeter = 0;
    h.biYPelsPerMeter = 0;
    h.biClrUsed = colours;
    h.biClrImportant = 0;
    return TRUE;
}

BOOL CDibImage::Read(CFile &file) {
    Free();
    file.SeekToBegin();

    BYTE fileHeaderBytes[FILE_HEADER_SIZE];
    if (file.Read(fileHeaderBytes, FILE_HEADER_SIZE) < FILE_HEADER_SIZE)
        AfxThrowArchiveException(CArchiveException::endOfFile);
    const FileHeader fh = parseFileHeader(fileHeaderBytes);
    if (fh.bfType != BMP_SIGNATURE) AfxThrowArchiveException(CArchiveException::badIndex);

    BITMAPINFOHEADER info;
    if (file.Read(&info, INFO_HEADER_SIZE) < INFO_HEADER_SIZE) AfxThrowArchiveException(CArchiveException::endOfFile);
    if (info.biSize != INFO_HEADER_SIZE && info.biSize != V4_HEADER_SIZE && info.biSize != V5_HEADER_SIZE)
        AfxThrowArchiveException(CArchiveException::badIndex);
    if (info.biBitCount != 8 && info.biBitCount != 24) AfxThrowArchiveException(CArchiveException::badIndex);
    // Compressed rows would be drawn as if they were plain pixels.
    if (info.biCompression != BI_RGB) AfxThrowArchiveException(CArchiveException::badIndex);

    // The whole file must be there before anything is allocated for it.
    const uint64_t headers = FILE_HEADER_SIZE + uint64_t(info.biSize);
    if (fh.bfSize < headers) AfxThrowArchiveException(CArchiveException::badIndex);
    if (file.GetLength() < fh.bfSize) AfxThrowArchiveException(CArchiveException::endOfFile);

    // The pixel rows start at bfOffBits. The colour-table entries are those
    // between the info header and the rows: a table shorter than the header
    // implies (written with biClrUsed 0) is completed with zero entries, one
    // that biClrUsed names explicitly must be there in full.
    if (fh.bfOffBits < headers || fh.bfOffBits > fh.bfSize) AfxThrowArchiveException(CArchiveException::badIndex);
    const uint64_t colours = ColorsOf(info);
    const uint64_t entriesInFile = (fh.bfOffBits - headers) / 4;
    if (info.biClrUsed != 0 && entriesInFile < colours) AfxThrowArchiveException(CArchiveException::badIndex);
    const uint64_t entriesToRead = entriesInFile < colours ? entriesInFile : colours;

    // The rows must cover |biHeight| rows of the size biWidth and biBitCount
    // give, so that painting never reads past the block.
    const uint64_t pixelBytes = fh.bfSize - fh.bfOffBits;
    const uint64_t absWidth = info.biWidth < 0 ? uint64_t(-int64_t(info.biWidth)) : uint64_t(info.biWidth);
    const uint64_t absHeight = info.biHeight < 0 ? uint64_t(-int64_t(info.biHeight)) : uint64_t(info.biHeight);
    const uint64_t rowSize = (absWidth * info.biBitCount + 31) / 32 * 4;
    if (rowSize != 0 && absHeight > pixelBytes / rowSize) AfxThrowArchiveException(CArchiveException::badIndex);

    const uint64_t blockSize = INFO_HEADER_SIZE + 4 * colours + pixelBytes;
    BYTE *block = blockSize <= SIZE_MAX ? new (std::nothrow) BYTE[size_t(blockSize)]() : nullptr;
    if (!block) AfxThrowMemoryException();
    m_pInfo = reinterpret_cast<BITMAPINFO *>(block);
    // The block always holds the 40-byte header the drawing calls take.
    info.biSize = INFO_HEADER_SIZE;
    std::memcpy(block, &info, INFO_HEADER_SIZE);

    // The colour table follows the info header, whatever its length.
    const UINT tableBytes = UINT(4 * entriesToRead);
    file.Seek(LONGLONG(headers), CFile::begin);
    if (file.Read(block + INFO_HEADER_SIZE, tableBytes) < tableBytes) {
        Free();
        AfxThrowArchiveException(CArchiveException::endOfFile);
    }
    file.Seek(LONGLONG(fh.bfOffBits), CFile::begin);
    if (file.Read(block + INFO_HEADER_SIZE + 4 * colours, UINT(pixelBytes)) < pixelBytes) {
        Free();
        AfxThrowArchiveException(CArchiveException::endOfFile);
    }
    return TRUE;
}

BOOL CDibImage::SetColorTable(const void *source, UINT count) {
    if (!source || !m_pInfo) return FALSE;
    const uint64_t area = uint64_t(4) * NumColors();
    const size_t n = size_t(count < area ? count : area);
    std::memcpy(GetColorTable(), source, n);
    return TRUE;
}

HPALETTE CDibImage::MakePalette() const {
    if (!m_pInfo) return nullptr;
    const BITMAPINFOHEADER &h = m_pInfo->bmiHeader;
    const DWORD n = h.biClrUsed != 0 ? h.biClrUsed : (h.biBitCount <= 8 ? DWORD(1) << h.biBitCount : 0);
    if (h.biBitCount > 8) return nullptr;
    LOGPALETTE palette;
    palette.palVersion = 0x300;
    palette.palNumEntries = WORD(n);
    try {
        palette.palPalEntry.resize(palette.palNumEntries);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    const RGBQUAD *table = GetColorTable();
    for (WORD i = 0; i < palette.palNumEntries; ++i) {
        palette.palPalEntry[i].peRed = table[i].rgbRed;
        palette.palPalEntry[i].peGreen = table[i].rgbGreen;
        palette.palPalEntry[i].peBlue = table[i].rgbBlue;
        palette.palPalEntry[i].peFlags = PC_NOCOLLAPSE;
    }
    return CreatePalette(&palette);
}

BOOL CDibImage::Paint(CDC *dc, CRect *rect, CPoint origin, int zoom, DWORD rop) const {
    if (!m_pInfo) return FALSE;
    if (zoom < 1) zoom = 1;

    CRect source;
    source.left = wrap32(int64_t(rect->left) * 100 / zoom);
    source.top = wrap32(int64_t(rect->top) * 100 / zoom);
    source.right = wrap32(int64_t(source.left) + int64_t(rect->right - int64_t(rect->left)) * 100 / zoom + 2);
    source.bottom = wrap32(int64_t(source.top) + int64_t(rect->bottom - int64_t(rect->top)) * 100 / zoom + 2);
    const CRect picture(0, 0, Width(), Height());
    IntersectRect(&source, &source, &picture);
    if (IsRectEmpty(&source)) return FALSE;

    *rect = CRect(origin.x, origin.y, wrap32(origin.x + int64_t(source.right - source.left) * zoom / 100),
                  wrap32(origin.y + int64_t(source.bottom - source.top) * zoom / 100));

    HDC hdc = dc->GetSafeHdc();
    HPALETTE palette = MakePalette();
    HPALETTE previous = nullptr;
    if (palette) previous = SelectPalette(hdc, palette, TRUE);
    RealizePalette(hdc);
    dc->SetStretchBltMode(COLORONCOLOR);
    const int lines = StretchDIBits(hdc, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top,
                                    source.left, Height() - source.bottom, source.right - source.left,
                                    source.bottom - source.top, GetBits(), m_pInfo, DIB_RGB_COLORS, rop);
    if (palette) {
        SelectPalette(hdc, previous, TRUE);
        DeleteObject(palette);
    }
    return lines != 0;
}
