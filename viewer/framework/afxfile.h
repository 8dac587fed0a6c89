// Files, archives and the exceptions they raise.
//
// The viewer's document and picture classes work with a small file object
// (length, read, seek, full path), an archive that only says which way it
// goes, and exceptions that carry a cause code. Exceptions are thrown by
// value and caught by reference to CException.
#ifndef SORVU_FRAMEWORK_AFXFILE_H
#define SORVU_FRAMEWORK_AFXFILE_H

#include "afxtypes.h"
#include "file_io.h"

#include <string>
#include <vector>

class CObject {
public:
    virtual ~CObject() = default;
};

// Base of every exception the framework raises.
class CException : public CObject {
public:
    // Text shown to the user when the exception ends an operation.
    virtual std::string GetErrorMessage() const = 0;
};

class CMemoryException : public CException {
public:
    std::string GetErrorMessage() const override;
};

class CFileException : public CException {
public:
    enum {
        none = 0,
        genericException = 1,
        fileNotFound = 2,
        badPath = 3,
        tooManyOpenFiles = 4,
        accessDenied = 5,
        invalidFile = 6,
        removeCurrentDir = 7,
        directoryFull = 8,
        badSeek = 9,
        hardIO = 10,
        sharingViolation = 11,
        lockViolation = 12,
        diskFull = 13,
        endOfFile = 14
    };
    explicit CFileException(int cause = none, const std::string &fileName = std::string())
        : m_cause(cause), m_strFileName(fileName) {}
    std::string GetErrorMessage() const override;

    int m_cause;
    std::string m_strFileName;
};

class CArchiveException : public CException {
public:
    enum {
        none = 0,
        genericException = 1,
        readOnly = 2,
        endOfFile = 3,
        writeOnly = 4,
        badIndex = 5,
        badClass = 6,
        badSchema = 7
    };
    explicit CArchiveException(int cause = none, const std::string &archiveName = std::string())
        : m_cause(cause), m_strFileName(archiveName) {}
    std::string GetErrorMessage() const override;

    int m_cause;
    std::string m_strFileName;
};

[[noreturn]] void AfxThrowArchiveException(int cause, const char *archiveName = nullptr);
[[noreturn]] void AfxThrowMemoryException();
[[noreturn]] void AfxThrowFileException(int cause, const char *fileName = nullptr);

// A binary file opened for reading. Read returns fewer bytes than asked only
// at the end of the file; a read error raises CFileException.
class CFile : public CObject {
public:
    enum OpenFlags {
        modeRead = 0x0000,
        shareDenyWrite = 0x0020,
        typeBinary = 0x8000
    };
    enum SeekPosition { begin = 0, current = 1, end = 2 };

    CFile();
    ~CFile() override;
    CFile(const CFile &) = delete;
    CFile &operator=(const CFile &) = delete;

    // Opens an existing file for reading. Only reading is offered, so the
    // mode flags are accepted for their meaning but change nothing. Things
    // that are not regular files (directories, devices) are refused.
    virtual BOOL Open(const char *fileName, UINT openFlags, CFileException *error = nullptr);
    virtual void Close();
    virtual UINT Read(void *buffer, UINT count);
    virtual ULONGLONG GetLength() const;
    virtual ULONGLONG Seek(LONGLONG offset, UINT from);
    ULONGLONG SeekToBegin() { return Seek(0, begin); }
    // Full path as given to Open.
    virtual std::string GetFilePath() const { return m_strFileName; }

protected:
    platform::FileHandle m_hFile;
    std::string m_strFileName;
};

// A file held in memory, for pictures that do not come from disk.
class CMemFile : public CFile {
public:
    explicit CMemFile(std::vector<BYTE> bytes = std::vector<BYTE>()) : m_bytes(std::move(bytes)), m_pos(0) {}
    BOOL Open(const char *, UINT, CFileException *error = nullptr) override;
    void Close() override {}
    UINT Read(void *buffer, UINT count) override;
    ULONGLONG GetLength() const override { return m_bytes.size(); }
    ULONGLONG Seek(LONGLONG offset, UINT from) override;

private:
    std::vector<BYTE> m_bytes;
    size_t m_pos;
};

// Binds a file to a direction. The viewer only ever loads, and reads the
// file object directly.
class CArchive {
public:
    enum Mode { store = 0, load = 1 };
    CArchive(CFile *file, UINT mode) : m_pFile(file), m_nMode(mode) {}
    BOOL IsLoading() const { return (m_nMode & load) != 0; }
    BOOL IsStoring() const { return (m_nMode & load) == 0; }
    CFile *GetFile() const { return m_pFile; }

private:
    CFile *m_pFile;
    UINT m_nMode;
};

#endif
