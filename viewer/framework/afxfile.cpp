#include "afxfile.h"

#include "file_io.h"

#include <cerrno>
#include <cstring>
#include <new>

std::string CMemoryException::GetErrorMessage() const {
    return "Out of memory.";
}

std::string CFileException::GetErrorMessage() const {
    switch (m_cause) {
    case fileNotFound:
        return "File not found: " + m_strFileName;
    case accessDenied:
        return "Access to " + m_strFileName + " was denied.";
    case endOfFile:
        return "An attempt was made to read past the end of " + m_strFileName + ".";
    default:
        return "An error occurred while reading " + m_strFileName + ".";
    }
}

std::string CArchiveException::GetErrorMessage() const {
    switch (m_cause) {
    case endOfFile:
    case badIndex:
    case badClass:
    case badSchema:
        return "Unexpected file format.";
    default:
        return "An archive error occurred.";
    }
}

void AfxThrowArchiveException(int cause, const char *archiveName) {
    throw CArchiveException(cause, archiveName ? archiveName : "");
}

void AfxThrowMemoryException() {
    throw CMemoryException();
}

void AfxThrowFileException(int cause, const char *fileName) {
    throw CFileException(cause, fileName ? fileName : "");
}

CFile::CFile() : m_hFile(platform::INVALID_FILE) {}

CFile::~CFile() {
    Close();
}

BOOL CFile::Open(const char *fileName, UINT /*openFlags*/, CFileException *error) {
    Close();
    m_strFileName = fileName ? fileName : "";
    m_hFile = platform::openForReading(fileName);
    if (m_hFile == platform::INVALID_FILE) {
        if (error) {
            int cause = CFileException::genericException;
            if (errno == ENOENT) cause = CFileException::fileNotFound;
            else if (errno == EACCES || errno == EPERM) cause = CFileException::accessDenied;
            *error = CFileException(cause, m_strFileName);
        }
        return FALSE;
    }
    return TRUE;
}

void CFile::Close() {
    if (m_hFile != platform::INVALID_FILE) {
        platform::closeFile(m_hFile);
        m_hFile = platform::INVALID_FILE;
    }
}

UINT CFile::Read(void *buffer, UINT count) {
    if (m_hFile == platform::INVALID_FILE) AfxThrowFileException(CFileException::invalidFile, m_strFileName.c_str());
    size_t got = 0;
    if (!platform::readFile(m_hFile, buffer, count, &got))
        AfxThrowFileException(CFileException::hardIO, m_strFileName.c_str());
    return static_cast<UINT>(got);
}

ULONGLONG CFile::GetLength() const {
    if (m_hFile == platform::INVALID_FILE) AfxThrowFileException(CFileException::invalidFile, m_strFileName.c_str());
    int64_t size = platform::fileSize(m_hFile);
    if (size < 0) AfxThrowFileException(CFileException::hardIO, m_strFileName.c_str());
    return static_cast<ULONGLONG>(size);
}

ULONGLONG CFile::Seek(LONGLONG offset, UINT from) {
    if (m_hFile == platform::INVALID_FILE) AfxThrowFileException(CFileException::invalidFile, m_strFileName.c_str());
    LONGLONG target = offset;
    if (from == end) target += static_cast<LONGLONG>(GetLength());
    bool ok = from == current ? platform::seekFromCurrent(m_hFile, offset) : platform::seekFromStart(m_hFile, target);
    if (!ok) AfxThrowFileException(CFileException::badSeek, m_strFileName.c_str());
    // The position after a relative seek is not needed by any caller.
    return from == current ? 0 : static_cast<ULONGLONG>(target);
}

BOOL CMemFile::Open(const char *, UINT, CFileException *) {
    m_pos = 0;
    return TRUE;
}

UINT CMemFile::Read(void *buffer, UINT count) {
    size_t left = m_pos < m_bytes.size() ? m_bytes.size() - m_pos : 0;
    size_t n = count < left ? count : left;
    if (n) std::memcpy(buffer, m_bytes.data() + m_pos, n);
    m_pos += n;
    return static_cast<UINT>(n);
}

ULONGLONG CMemFile::Seek(LONGLONG offset, UINT from) {
    LONGLONG base = from == begin ? 0 : from == current ? static_cast<LONGLONG>(m_pos) : static_cast<LONGLONG>(m_bytes.size());
    LONGLONG target = base + offset;
    if (target < 0) AfxThrowFileException(CFileException::badSeek);
    m_pos = static_cast<size_t>(target);
    return static_cast<ULONGLONG>(target);
}
