// The codec's failure codes (getLastFailure) in plain words, with what the
// user can do where that helps: one table shared by the programs that show
// them, so that the converter and the viewer say the same thing.
#ifndef VEK_VEK_FAILURES_H
#define VEK_VEK_FAILURES_H

#include "vek/vek.h"

// A lower-case sentence without a final full stop, for "vekconv: <text>" or
// inside a longer message. Unknown codes (from a newer library) get a
// generic text.
inline const char *vekFailureText(int code) {
    switch (code) {
    case VEK_FAILURE_NONE:
        return "no failure";
    case VEK_FAILURE_OPEN_INPUT:
        return "the input file cannot be opened: it is missing, unreadable or a folder";
    case VEK_FAILURE_CREATE_OUTPUT:
        return "the output file cannot be created; check that its folder exists and may be written to";
    case VEK_FAILURE_SAME_FILE:
        return "the input and the output are the same file; name another output file";
    case VEK_FAILURE_NOT_BMP:
        return "the input is not a BMP picture";
    case VEK_FAILURE_BMP_HEADER:
        return "the BMP headers are of an unsupported kind or do not fit together (an old 12-byte info header, "
               "or pixel data that start inside the headers)";
    case VEK_FAILURE_COMPRESSED_BMP:
        return "compressed BMP pictures are not supported (run-length coded or bit fields); write it uncompressed, "
               "e.g. ImageMagick's -compress none";
    case VEK_FAILURE_BIT_COUNT:
        return "only BMP pictures with 8, 16, 24 or 32 bits per pixel are supported; convert it to 8 or 24 bits";
    case VEK_FAILURE_TOP_DOWN:
        return "BMP pictures stored top-down are not supported; write it bottom-up (the usual order)";
    case VEK_FAILURE_TOO_LARGE:
        return "the picture is too large: at most 65,535 pixels wide and high, 65,535 bytes of headers and colour "
               "table, and 2 GB of data";
    case VEK_FAILURE_SHORT_BMP:
        return "the BMP file is shorter than its headers say: it is cut short or damaged";
    case VEK_FAILURE_NOT_VEK:
        return "the input is not a .vek file";
    case VEK_FAILURE_DAMAGED_VEK:
        return "the .vek file is damaged or cut short";
    case VEK_FAILURE_OUTPUT_TOO_SMALL:
        return "the output buffer is too small";
    case VEK_FAILURE_OUT_OF_MEMORY:
        return "there is not enough memory";
    case VEK_FAILURE_WRITE:
        return "writing the output failed (is the disk full?)";
    case VEK_FAILURE_READ:
        return "reading the input failed part-way";
    case VEK_FAILURE_ARGUMENTS:
        return "the codec was called with a null pointer or overlapping buffers";
    case VEK_FAILURE_INTERNAL:
        return "an unexpected error inside the codec";
    default:
        return "the codec failed for a reason this program does not know";
    }
}

#endif
