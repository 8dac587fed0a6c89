/* Command and control ids of the framework, for resource scripts (the C++
   code takes them from afxwin.h, with the same values). */
#ifndef SORVU_FRAMEWORK_WIN32_AFXRES_H
#define SORVU_FRAMEWORK_WIN32_AFXRES_H

#define ID_FILE_NEW 0xE100
#define ID_FILE_OPEN 0xE101
#define ID_FILE_SAVE 0xE103
#define ID_APP_ABOUT 0xE140
#define ID_APP_EXIT 0xE141

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif
