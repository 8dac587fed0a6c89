// Plain integer types and constants shared by the viewer's framework layer.
#ifndef SORVU_FRAMEWORK_AFXTYPES_H
#define SORVU_FRAMEWORK_AFXTYPES_H

#include <cstdint>

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Message box styles and results.
const UINT MB_OK = 0x00000000;
const UINT MB_ICONSTOP = 0x00000010;
const UINT MB_ICONEXCLAMATION = 0x00000030;
const int IDOK = 1;
const int IDCANCEL = 2;

#endif
