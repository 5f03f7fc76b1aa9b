#include "winui/Pictures.h"

#include <array>
#include <cstdint>
#include <map>
#include <utility>

#include "windowlogic/folder_browser.h"
#include "winui/Look.h"

namespace tarnwick::winui {

namespace {

constexpr COLORREF kTransparent = RGB(255, 0, 255);

// Every picture is drawn on a grid of 16 × 16 units.
using Drawing = void (*)(HDC);

void Shape(HDC dc, COLORREF pen, COLORREF fill) {
    SelectObject(dc, GetStockObject(DC_PEN));
    SelectObject(dc, GetStockObject(DC_BRUSH));
    SetDCPenColor(dc, pen);
    SetDCBrushColor(dc, fill);
}

void Polygon(HDC dc, std::initializer_list<POINT> points) {
    ::Polygon(dc, points.begin(), static_cast<int>(points.size()));
}

void Line(HDC dc, int x1, int y1, int x2, int y2) {
    MoveToEx(dc, x1, y1, nullptr);
    LineTo(dc, x2, y2);
}

void Blank(HDC) {}

void RedDot(HDC dc) {
    Shape(dc, RGB(128, 0, 0), RGB(220, 0, 0));
    Ellipse(dc, 5, 5, 11, 11);
}

void ClosedFolder(HDC dc) {
    Shape(dc, RGB(150, 110, 20), RGB(240, 200, 70));
    Polygon(dc, {{1, 3}, {6, 3}, {7, 5}, {14, 5}, {14, 13}, {1, 13}});
}

void OpenFolder(HDC dc) {
    ClosedFolder(dc);
    Shape(dc, RGB(150, 110, 20), RGB(255, 230, 130));
    Polygon(dc, {{4, 7}, {16, 7}, {13, 13}, {1, 13}});
}

void Floppy(HDC dc) {
    Shape(dc, RGB(20, 30, 90), RGB(50, 70, 160));
    Rectangle(dc, 2, 2, 15, 15);
    Shape(dc, RGB(200, 200, 200), RGB(255, 255, 255));
    Rectangle(dc, 4, 2, 13, 7);
    Shape(dc, RGB(90, 90, 90), RGB(170, 170, 170));
    Rectangle(dc, 5, 10, 12, 15);
}

void HardDisk(HDC dc) {
    Shape(dc, RGB(70, 70, 70), RGB(190, 190, 190));
    Rectangle(dc, 1, 6, 15, 12);
    Shape(dc, RGB(0, 120, 0), RGB(0, 220, 0));
    Rectangle(dc, 11, 8, 13, 10);
}

void NetworkDrive(HDC dc) {
    Shape(dc, RGB(70, 70, 70), RGB(190, 190, 190));
    Rectangle(dc, 1, 2, 15, 8);
    Shape(dc, RGB(0, 120, 0), RGB(0, 220, 0));
    Rectangle(dc, 11, 4, 13, 6);
    Shape(dc, RGB(40, 40, 40), RGB(40, 40, 40));
    Line(dc, 8, 8, 8, 13);
    Line(dc, 2, 13, 15, 13);
}

void CdRom(HDC dc) {
    Shape(dc, RGB(110, 110, 130), RGB(210, 210, 230));
    Ellipse(dc, 1, 1, 15, 15);
    Shape(dc, RGB(110, 110, 130), RGB(255, 255, 255));
    Ellipse(dc, 6, 6, 10, 10);
}

void MemoryChip(HDC dc) {
    Shape(dc, RGB(150, 150, 150), RGB(150, 150, 150));
    for (int x = 3; x <= 12; x += 3) {
        Line(dc, x, 2, x, 14);
    }
    Shape(dc, RGB(40, 40, 40), RGB(40, 40, 40));
    Rectangle(dc, 1, 4, 15, 12);
    Shape(dc, RGB(200, 170, 60), RGB(200, 170, 60));
    Rectangle(dc, 3, 6, 5, 8);
}

void Computer(HDC dc) {
    Shape(dc, RGB(60, 60, 60), RGB(60, 110, 200));
    Rectangle(dc, 2, 2, 14, 10);
    Shape(dc, RGB(60, 60, 60), RGB(170, 170, 170));
    Rectangle(dc, 6, 10, 10, 13);
    Rectangle(dc, 3, 13, 13, 15);
}

void CloseCross(HDC dc) {
    Shape(dc, RGB(200, 30, 30), RGB(200, 30, 30));
    Polygon(dc, {{3, 4},
                 {4, 3},
                 {8, 7},
                 {12, 3},
                 {13, 4},
                 {9, 8},
                 {13, 12},
                 {12, 13},
                 {8, 9},
                 {4, 13},
                 {3, 12},
                 {7, 8}});
}

void RefreshArrow(HDC dc) {
    // A ring with a gap at the upper right, cut out in the transparent colour, and the arrow's
    // head at one end of the gap.
    Shape(dc, RGB(20, 130, 40), RGB(40, 170, 60));
    Ellipse(dc, 2, 2, 15, 15);
    Shape(dc, kTransparent, kTransparent);
    Ellipse(dc, 5, 5, 12, 12);
    Polygon(dc, {{8, 8}, {9, 0}, {16, 0}, {16, 7}});
    Shape(dc, RGB(20, 130, 40), RGB(40, 170, 60));
    Polygon(dc, {{7, 0}, {12, 3}, {7, 7}});
}

void NewFolder(HDC dc) {
    ClosedFolder(dc);
    Shape(dc, RGB(30, 120, 30), RGB(60, 200, 60));
    Polygon(dc, {{11, 0},
                 {13, 0},
                 {13, 2},
                 {15, 2},
                 {15, 4},
                 {13, 4},
                 {13, 6},
                 {11, 6},
                 {11, 4},
                 {9, 4},
                 {9, 2},
                 {11, 2}});
}

// Index meanings as in windowlogic/folder_browser.h: 0 dot, 1 closed folder, 2-6 the drive
// types, 7 the computer, 8 open folder; the rest are not used.
constexpr std::array<Drawing, windowlogic::kImageCount> kNodeDrawings = {
    RedDot,   ClosedFolder, Floppy, HardDisk, NetworkDrive, CdRom, MemoryChip,
    Computer, OpenFolder,   Blank,  Blank,    Blank,        Blank, Blank,
    Blank,    Blank,        Blank,  Blank,    Blank,        Blank};

void AddPicture(HIMAGELIST list, int pixels, Drawing draw) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, pixels, pixels);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all{0, 0, pixels, pixels};
    HBRUSH background = CreateSolidBrush(kTransparent);
    FillRect(dc, &all, background);
    DeleteObject(background);
    SetGraphicsMode(dc, GM_ADVANCED);
    const float scale = static_cast<float>(pixels) / 16.0F;
    const XFORM grid{scale, 0, 0, scale, 0, 0};
    SetWorldTransform(dc, &grid);
    draw(dc);
    SelectObject(dc, old);
    DeleteDC(dc);
    ImageList_AddMasked(list, bitmap, kTransparent);
    DeleteObject(bitmap);
}

HIMAGELIST MakeList(int pixels, const Drawing* drawings, int count) {
    HIMAGELIST list = ImageList_Create(pixels, pixels, ILC_COLOR24 | ILC_MASK, count, 4);
    for (int i = 0; i < count; ++i) {
        AddPicture(list, pixels, drawings[i]);
    }
    return list;
}

UINT DpiOf(HWND window) {
    return static_cast<UINT>(Scaled(window, USER_DEFAULT_SCREEN_DPI));
}

// `icon` drawn on the transparent colour into a bitmap of its own; `pale` turns each of its
// pixels into a light grey of the pixel's brightness.
HBITMAP PictureOf(HICON icon, int pixels, bool pale) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = pixels;
    info.bmiHeader.biHeight = -pixels;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) {
        return nullptr;
    }
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all{0, 0, pixels, pixels};
    HBRUSH background = CreateSolidBrush(kTransparent);
    FillRect(dc, &all, background);
    DeleteObject(background);
    DrawIconEx(dc, 0, 0, icon, pixels, pixels, 0, nullptr, DI_NORMAL);
    GdiFlush();
    SelectObject(dc, old);
    DeleteDC(dc);
    if (pale) {
        // A pixel of the section is 0x00RRGGBB.
        const std::uint32_t key = (std::uint32_t{GetRValue(kTransparent)} << 16) |
                                  (std::uint32_t{GetGValue(kTransparent)} << 8) |
                                  GetBValue(kTransparent);
        auto* pixel = static_cast<std::uint32_t*>(bits);
        for (int i = 0; i < pixels * pixels; ++i) {
            const std::uint32_t colour = pixel[i] & 0xFFFFFFU;
            if (colour == key) {
                continue;
            }
            const std::uint32_t brightness =
                (((colour >> 16) & 0xFFU) * 30 + ((colour >> 8) & 0xFFU) * 59 + (colour & 0xFFU) * 11) / 100;
            const std::uint32_t grey = 150 + brightness * 90 / 255;
            pixel[i] = (grey << 16) | (grey << 8) | grey;
        }
    }
    return bitmap;
}

}  // namespace

bool SetButtonPictures(HWND button, HICON icon, int pixels) {
    HBITMAP normal = PictureOf(icon, pixels, false);
    HBITMAP pale = PictureOf(icon, pixels, true);
    HIMAGELIST list = ImageList_Create(pixels, pixels, ILC_COLOR24 | ILC_MASK, 6, 0);
    bool set = false;
    if (normal != nullptr && pale != nullptr && list != nullptr) {
        // Normal, hot, pressed, disabled, defaulted, stylus hot.
        for (int state = 0; state < 6; ++state) {
            ImageList_AddMasked(list, state == 3 ? pale : normal, kTransparent);
        }
        BUTTON_IMAGELIST pictures{list, {1, 1, 1, 1}, BUTTON_IMAGELIST_ALIGN_CENTER};
        set = SendMessageA(button, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&pictures)) != 0;
    }
    if (!set && list != nullptr) {
        ImageList_Destroy(list);  // else the button's for its life
    }
    DeleteObject(normal);
    DeleteObject(pale);
    return set;
}

HIMAGELIST FolderImages(HWND window) {
    static std::map<UINT, HIMAGELIST> lists;  // UI thread only
    const UINT dpi = DpiOf(window);
    auto found = lists.find(dpi);
    if (found == lists.end()) {
        found = lists
                    .emplace(dpi, MakeList(Scaled(window, 16), kNodeDrawings.data(),
                                           static_cast<int>(kNodeDrawings.size())))
                    .first;
    }
    return found->second;
}

static HICON GlyphIcon(HWND window, Glyph glyph) {
    static constexpr std::array<Drawing, 4> kGlyphs = {Floppy, CloseCross, RefreshArrow, NewFolder};
    static std::map<std::pair<UINT, Glyph>, HICON> icons;  // UI thread only
    const auto key = std::make_pair(DpiOf(window), glyph);
    if (const auto found = icons.find(key); found != icons.end()) {
        return found->second;
    }
    const int pixels = Scaled(window, 16);
    HIMAGELIST list = ImageList_Create(pixels, pixels, ILC_COLOR24 | ILC_MASK, 1, 1);
    AddPicture(list, pixels, kGlyphs[static_cast<std::size_t>(glyph)]);
    HICON icon = ImageList_GetIcon(list, 0, ILD_TRANSPARENT);
    ImageList_Destroy(list);
    icons.emplace(key, icon);
    return icon;
}

void SetButtonGlyph(HWND button, Glyph glyph) {
    SendMessageA(button, BM_SETIMAGE, IMAGE_ICON,
                 reinterpret_cast<LPARAM>(GlyphIcon(GetParent(button), glyph)));
}

}  // namespace tarnwick::winui
