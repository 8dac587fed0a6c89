#include "screen_grab.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

wxImage grabScreen(const wxRect &rect) {
    Display *display = XOpenDisplay(nullptr);
    if (!display) return wxImage();
    XImage *shot = XGetImage(display, DefaultRootWindow(display), rect.x, rect.y, unsigned(rect.width),
                             unsigned(rect.height), AllPlanes, ZPixmap);
    wxImage image;
    if (shot) {
        image.Create(rect.width, rect.height, false);
        unsigned char *out = image.GetData();
        for (int y = 0; y < rect.height; ++y)
            for (int x = 0; x < rect.width; ++x, out += 3) {
                const unsigned long p = XGetPixel(shot, x, y);
                out[0] = static_cast<unsigned char>((p & shot->red_mask) >> __builtin_ctzl(shot->red_mask));
                out[1] = static_cast<unsigned char>((p & shot->green_mask) >> __builtin_ctzl(shot->green_mask));
                out[2] = static_cast<unsigned char>((p & shot->blue_mask) >> __builtin_ctzl(shot->blue_mask));
            }
        XDestroyImage(shot);
    }
    XCloseDisplay(display);
    return image;
}
