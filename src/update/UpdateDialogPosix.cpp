#include "update/UpdateCheckPosix.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <cairo/cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

// Layout in pixels, after the system message boxes the Windows build shows.
constexpr int kMargin = 16;
constexpr int kIconSize = 32;
constexpr int kIconGap = 12;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 26;
constexpr int kButtonGap = 8;
constexpr double kFontSize = 13.0;
constexpr char kFontFace[] = "sans-serif";

struct Colour {
    double red, green, blue;
};
constexpr Colour kTextColour{0.0, 0.0, 0.0};
constexpr Colour kMessageBackground{1.0, 1.0, 1.0};
constexpr Colour kButtonStrip{0.94, 0.94, 0.94};
constexpr Colour kButtonFace{0.88, 0.88, 0.88};
constexpr Colour kButtonPressed{0.8, 0.89, 0.97};
constexpr Colour kButtonBorder{0.68, 0.68, 0.68};
constexpr Colour kDefaultBorder{0.0, 0.47, 0.84};

struct IconStyle {
    Colour disc;
    Colour mark;
    const char* glyph;
};
constexpr IconStyle iconStyle(UpdateDialogKind kind)
{
    switch (kind) {
    case UpdateDialogKind::warning:
        return {{0.98, 0.76, 0.1}, {0.0, 0.0, 0.0}, "!"};
    case UpdateDialogKind::information:
        return {{0.12, 0.39, 0.78}, {1.0, 1.0, 1.0}, "i"};
    case UpdateDialogKind::question:
        break;
    }
    return {{0.12, 0.39, 0.78}, {1.0, 1.0, 1.0}, "?"};
}

// ---- X errors on the dialogs' own connections

// Xlib reports errors through one handler for the whole process, and its
// default one ends the process. The owner window belongs to the host and may
// go at any moment, so asking about it can fail; such errors on a dialog's
// connection are expected and dropped, everything else goes to whatever
// handler was there before.
std::mutex dialogDisplaysLock;
std::vector<Display*> dialogDisplays;
XErrorHandler previousErrorHandler = nullptr;

int dropDialogErrors(Display* display, XErrorEvent* error)
{
    {
        std::lock_guard<std::mutex> hold(dialogDisplaysLock);
        if (std::find(dialogDisplays.begin(), dialogDisplays.end(), display) != dialogDisplays.end())
            return 0;
    }
    return previousErrorHandler ? previousErrorHandler(display, error) : 0;
}

// One X connection of the calling thread's own, counted as a dialog's.
class DialogConnection {
public:
    explicit DialogConnection(const char* displayName) : display(XOpenDisplay(displayName))
    {
        if (!display)
            return;
        static std::once_flag installed;
        std::call_once(installed, [] { previousErrorHandler = XSetErrorHandler(&dropDialogErrors); });
        std::lock_guard<std::mutex> hold(dialogDisplaysLock);
        dialogDisplays.push_back(display);
    }
    ~DialogConnection()
    {
        if (!display)
            return;
        // Errors still on their way belong to this connection until here.
        XSync(display, False);
        {
            std::lock_guard<std::mutex> hold(dialogDisplaysLock);
            dialogDisplays.erase(std::find(dialogDisplays.begin(), dialogDisplays.end(), display));
        }
        XCloseDisplay(display);
    }
    DialogConnection(const DialogConnection&) = delete;
    DialogConnection& operator=(const DialogConnection&) = delete;

    Display* const display;
};

// The top-level window holding window, or 0 once window is gone.
Window topLevelOf(Display* display, Window window)
{
    for (int depth = 0; window != 0 && depth < 64; ++depth) {
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, window, &root, &parent, &children, &count))
            return 0;
        if (children)
            XFree(children);
        if (parent == root)
            return window;
        window = parent;
    }
    return 0;
}

// ---- Layout and drawing

struct Button {
    const char* label;
    bool yes; // what choosing it answers
    int x;
    int y;
    bool contains(int px, int py) const
    {
        return px >= x && px < x + kButtonWidth && py >= y && py < y + kButtonHeight;
    }
};

struct Layout {
    int width = 0;
    int height = 0;
    int textX = 0;
    int textBaseline = 0;
    int iconY = 0;
    int stripY = 0;
    std::vector<Button> buttons; // the first is the default
};

void selectFont(cairo_t* cairo)
{
    cairo_select_font_face(cairo, kFontFace, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cairo, kFontSize);
}

Layout layOut(const char* text, UpdateDialogKind kind)
{
    cairo_surface_t* probe = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cairo = cairo_create(probe);
    selectFont(cairo);
    cairo_text_extents_t extents;
    cairo_text_extents(cairo, text, &extents);
    cairo_font_extents_t font;
    cairo_font_extents(cairo, &font);
    cairo_destroy(cairo);
    cairo_surface_destroy(probe);

    Layout layout;
    if (kind == UpdateDialogKind::question)
        layout.buttons = {{"Yes", true, 0, 0}, {"No", false, 0, 0}};
    else
        layout.buttons = {{"OK", false, 0, 0}};
    const int buttonCount = static_cast<int>(layout.buttons.size());
    const int buttonsWidth = buttonCount * kButtonWidth + (buttonCount - 1) * kButtonGap;
    layout.textX = kMargin + kIconSize + kIconGap;
    const int textWidth = static_cast<int>(std::ceil(extents.x_advance));
    layout.width = std::max(layout.textX + textWidth + 2 * kMargin, buttonsWidth + 2 * kMargin);
    const int lineHeight = static_cast<int>(std::ceil(font.ascent + font.descent));
    const int contentHeight = std::max(kIconSize, lineHeight);
    layout.iconY = kMargin + (contentHeight - kIconSize) / 2;
    layout.textBaseline = kMargin + (contentHeight - lineHeight) / 2 + static_cast<int>(std::ceil(font.ascent));
    layout.stripY = kMargin + contentHeight + kMargin;
    const int buttonY = layout.stripY + kMargin / 2 + 2;
    layout.height = buttonY + kButtonHeight + kMargin / 2 + 2;
    int x = layout.width - kMargin - buttonsWidth;
    for (Button& button : layout.buttons) {
        button.x = x;
        button.y = buttonY;
        x += kButtonWidth + kButtonGap;
    }
    return layout;
}

void setColour(cairo_t* cairo, const Colour& colour)
{
    cairo_set_source_rgb(cairo, colour.red, colour.green, colour.blue);
}

void fill(cairo_t* cairo, const Colour& colour)
{
    setColour(cairo, colour);
    cairo_fill(cairo);
}

void drawCentred(cairo_t* cairo, const char* label, double centreX, double centreY)
{
    cairo_text_extents_t extents;
    cairo_text_extents(cairo, label, &extents);
    cairo_move_to(cairo, centreX - extents.x_bearing - extents.width / 2,
                  centreY - extents.y_bearing - extents.height / 2);
    cairo_show_text(cairo, label);
}

void draw(cairo_surface_t* surface, const Layout& layout, const char* text, UpdateDialogKind kind, int pressed)
{
    cairo_t* cairo = cairo_create(surface);
    selectFont(cairo);
    cairo_rectangle(cairo, 0, 0, layout.width, layout.stripY);
    fill(cairo, kMessageBackground);
    cairo_rectangle(cairo, 0, layout.stripY, layout.width, layout.height - layout.stripY);
    fill(cairo, kButtonStrip);

    const IconStyle icon = iconStyle(kind);
    const double radius = kIconSize / 2.0;
    cairo_arc(cairo, kMargin + radius, layout.iconY + radius, radius, 0, 2 * M_PI);
    fill(cairo, icon.disc);
    setColour(cairo, icon.mark);
    cairo_select_font_face(cairo, kFontFace, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cairo, kIconSize * 0.7);
    drawCentred(cairo, icon.glyph, kMargin + radius, layout.iconY + radius);
    selectFont(cairo);

    setColour(cairo, kTextColour);
    cairo_move_to(cairo, layout.textX, layout.textBaseline);
    cairo_show_text(cairo, text);

    for (std::size_t index = 0; index < layout.buttons.size(); ++index) {
        const Button& button = layout.buttons[index];
        cairo_rectangle(cairo, button.x + 0.5, button.y + 0.5, kButtonWidth - 1, kButtonHeight - 1);
        fill(cairo, static_cast<int>(index) == pressed ? kButtonPressed : kButtonFace);
        const Colour& border = index == 0 ? kDefaultBorder : kButtonBorder;
        cairo_rectangle(cairo, button.x + 0.5, button.y + 0.5, kButtonWidth - 1, kButtonHeight - 1);
        setColour(cairo, border);
        cairo_set_line_width(cairo, 1.0);
        cairo_stroke(cairo);
        setColour(cairo, kTextColour);
        drawCentred(cairo, button.label, button.x + kButtonWidth / 2.0, button.y + kButtonHeight / 2.0);
    }
    cairo_destroy(cairo);
    cairo_surface_flush(surface);
}

// The dialog's picture, drawn by cairo in memory and put on the window, so
// that cairo keeps nothing tied to the dialog's X connection (it would keep a
// record per connection for the rest of the process).
class Canvas {
public:
    // Whether pictures in cairo's 24-bit layout can go to the screen as they are.
    static bool suits(Display* display)
    {
        const int screen = DefaultScreen(display);
        const Visual* visual = DefaultVisual(display, screen);
        const int depth = DefaultDepth(display, screen);
        return visual->c_class == TrueColor && (depth == 24 || depth == 32) && visual->red_mask == 0xFF0000 &&
               visual->green_mask == 0xFF00 && visual->blue_mask == 0xFF;
    }

    Canvas(Display* display, Window window, const Layout& layout)
        : display(display), window(window), layout(layout),
          surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, layout.width, layout.height))
    {
        if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS)
            return;
        const int screen = DefaultScreen(display);
        image = XCreateImage(
            display, DefaultVisual(display, screen), static_cast<unsigned>(DefaultDepth(display, screen)), ZPixmap, 0,
            reinterpret_cast<char*>(cairo_image_surface_get_data(surface)), static_cast<unsigned>(layout.width),
            static_cast<unsigned>(layout.height), 32, cairo_image_surface_get_stride(surface));
        if (image) {
            // Cairo's pixels are 32-bit words in this machine's order; Xlib
            // converts them if the server's order differs.
            const std::uint32_t one = 1;
            image->byte_order = *reinterpret_cast<const unsigned char*>(&one) == 1 ? LSBFirst : MSBFirst;
        }
    }
    ~Canvas()
    {
        if (image) {
            image->data = nullptr; // the pixels belong to cairo
            XDestroyImage(image);
        }
        cairo_surface_destroy(surface);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    void show(const char* text, UpdateDialogKind kind, int pressed)
    {
        if (!image)
            return;
        draw(surface, layout, text, kind, pressed);
        XPutImage(display, window, DefaultGC(display, DefaultScreen(display)), image, 0, 0, 0, 0,
                  static_cast<unsigned>(layout.width), static_cast<unsigned>(layout.height));
        XFlush(display);
    }

private:
    Display* display;
    Window window;
    const Layout& layout;
    cairo_surface_t* surface;
    XImage* image = nullptr;
};

// ---- The window

Window createDialogWindow(Display* display, Window owner, const Layout& layout, const char* caption)
{
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    // Over the middle of the editor's window while it exists, else of the screen.
    int centreX = DisplayWidth(display, screen) / 2;
    int centreY = DisplayHeight(display, screen) / 2;
    XWindowAttributes ownerAttributes;
    int ownerCentreX = 0;
    int ownerCentreY = 0;
    Window child = 0;
    if (owner && XGetWindowAttributes(display, owner, &ownerAttributes) &&
        XTranslateCoordinates(display, owner, root, ownerAttributes.width / 2, ownerAttributes.height / 2,
                              &ownerCentreX, &ownerCentreY, &child)) {
        centreX = ownerCentreX;
        centreY = ownerCentreY;
    }
    XSetWindowAttributes attributes{};
    attributes.background_pixel = WhitePixel(display, screen);
    attributes.event_mask = ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask;
    const Window window =
        XCreateWindow(display, root, std::max(0, centreX - layout.width / 2), std::max(0, centreY - layout.height / 2),
                      static_cast<unsigned>(layout.width), static_cast<unsigned>(layout.height), 0, CopyFromParent,
                      InputOutput, CopyFromParent, CWBackPixel | CWEventMask, &attributes);

    XStoreName(display, window, caption);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(caption), static_cast<int>(std::strlen(caption)));
    XClassHint classHint{const_cast<char*>("grindlemark-update"), const_cast<char*>("Grindlemark")};
    XSetClassHint(display, window, &classHint);
    const Atom dialogType = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DIALOG", False);
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&dialogType), 1);
    if (owner)
        XSetTransientForHint(display, window, owner);
    XSizeHints* sizeHints = XAllocSizeHints();
    if (sizeHints) {
        sizeHints->flags = PPosition | PMinSize | PMaxSize;
        sizeHints->min_width = sizeHints->max_width = layout.width;
        sizeHints->min_height = sizeHints->max_height = layout.height;
        XSetWMNormalHints(display, window, sizeHints);
        XFree(sizeHints);
    }
    return window;
}

} // namespace

bool showUpdateDialog(const char* displayName, std::uintptr_t ownerWindow, const char* text, const char* caption,
                      UpdateDialogKind kind)
{
    DialogConnection connection(displayName);
    Display* display = connection.display;
    if (!display || !Canvas::suits(display))
        return false;
    const Layout layout = layOut(text, kind);
    const Window owner = topLevelOf(display, static_cast<Window>(ownerWindow));
    const Window window = createDialogWindow(display, owner, layout, caption);
    Atom closeRequest = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &closeRequest, 1);
    Canvas canvas(display, window, layout);
    XMapRaised(display, window);

    bool answered = false;
    bool windowGone = false;
    bool yes = false;
    int pressed = -1;
    auto buttonAt = [&layout](int x, int y) {
        for (std::size_t index = 0; index < layout.buttons.size(); ++index) {
            if (layout.buttons[index].contains(x, y))
                return static_cast<int>(index);
        }
        return -1;
    };
    while (!answered) {
        XEvent event;
        XNextEvent(display, &event);
        switch (event.type) {
        case Expose:
            if (event.xexpose.count == 0)
                canvas.show(text, kind, pressed);
            break;
        case ButtonPress:
            if (event.xbutton.button == Button1) {
                pressed = buttonAt(event.xbutton.x, event.xbutton.y);
                canvas.show(text, kind, pressed);
            }
            break;
        case ButtonRelease:
            if (event.xbutton.button == Button1) {
                // A button answers only when pressed and released over it.
                const int released = buttonAt(event.xbutton.x, event.xbutton.y);
                if (released >= 0 && released == pressed) {
                    answered = true;
                    yes = layout.buttons[static_cast<std::size_t>(released)].yes;
                }
                pressed = -1;
                canvas.show(text, kind, pressed);
            }
            break;
        case KeyPress: {
            const KeySym key = XLookupKeysym(&event.xkey, 0);
            if (key == XK_Escape) {
                answered = true;
            } else if (key == XK_Return || key == XK_KP_Enter || key == XK_space) {
                answered = true;
                yes = layout.buttons.front().yes;
            }
            break;
        }
        case ClientMessage:
            if (static_cast<Atom>(event.xclient.data.l[0]) == closeRequest)
                answered = true;
            break;
        case DestroyNotify:
            // Someone else destroyed the window: nothing is left to answer.
            if (event.xdestroywindow.window == window) {
                answered = true;
                windowGone = true;
            }
            break;
        default:
            break;
        }
    }
    if (!windowGone)
        XDestroyWindow(display, window);
    return yes;
}
