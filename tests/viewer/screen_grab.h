// Reads what the X server shows in a rectangle of the screen (all windows as
// displayed), through a connection of its own.
#ifndef SORVU_TESTS_SCREEN_GRAB_H
#define SORVU_TESTS_SCREEN_GRAB_H

#include <wx/gdicmn.h>
#include <wx/image.h>

// An invalid image when the display cannot be read.
wxImage grabScreen(const wxRect &rect);

#endif
