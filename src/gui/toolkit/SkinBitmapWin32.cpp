#include "gui/toolkit/SkinBitmap.h"

#include "gui/toolkit/CSkinControl.h"

#include <objbase.h>
#include <wincodec.h>

#include <cstring>

namespace {

// Zero: pictures composed over the panel take the display's format, as they
// should; otherwise a test stands in for a display of that many bits per pixel.
int composeDepthForTests = 0;

BITMAPINFO pixelFormat(int width, int height, int bitsPerPixel)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // rows top down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<WORD>(bitsPerPixel);
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

template <typename Interface> void releaseComObject(Interface*& object)
{
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

// The resource's bytes as a stream that frees its memory on release; null on
// failure, with nothing left allocated.
IStream* streamOverResource(HINSTANCE instance, int resourceId)
{
    HRSRC resource = FindResourceA(instance, MAKEINTRESOURCEA(resourceId), "PNG");
    if (resource == nullptr) {
        return nullptr;
    }
    const DWORD size = SizeofResource(instance, resource);
    HGLOBAL loaded = LoadResource(instance, resource);
    if (loaded == nullptr || size == 0) {
        return nullptr;
    }
    const void* bytes = LockResource(loaded);
    if (bytes == nullptr) {
        return nullptr;
    }
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    if (memory == nullptr) {
        return nullptr;
    }
    void* copy = GlobalLock(memory);
    if (copy == nullptr) {
        GlobalFree(memory);
        return nullptr;
    }
    std::memcpy(copy, bytes, size);
    GlobalUnlock(memory);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream)) || stream == nullptr) {
        GlobalFree(memory);
        return nullptr;
    }
    return stream;
}

// The single frame of a PNG stream converted to premultiplied BGRA; null when
// the stream is not a one-frame PNG.
IWICBitmapSource* decodeSingleFrame(IStream* stream)
{
    IWICBitmapDecoder* decoder = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WICPngDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IWICBitmapDecoder,
                                reinterpret_cast<void**>(&decoder))) ||
        decoder == nullptr) {
        return nullptr;
    }
    IWICBitmapFrameDecode* frame = nullptr;
    UINT frameCount = 0;
    if (FAILED(decoder->Initialize(stream, WICDecodeMetadataCacheOnLoad)) ||
        FAILED(decoder->GetFrameCount(&frameCount)) || frameCount != 1 || FAILED(decoder->GetFrame(0, &frame))) {
        releaseComObject(decoder);
        return nullptr;
    }
    IWICBitmapSource* converted = nullptr;
    if (FAILED(WICConvertBitmapSource(GUID_WICPixelFormat32bppPBGRA, frame, &converted))) {
        converted = nullptr;
    }
    releaseComObject(frame);
    releaseComObject(decoder);
    return converted;
}

HBITMAP sectionFromSource(IWICBitmapSource* source)
{
    UINT width = 0;
    UINT height = 0;
    if (FAILED(source->GetSize(&width, &height)) || width == 0 || height == 0 || width > 0x4000 || height > 0x4000) {
        return nullptr;
    }
    void* bits = nullptr;
    HBITMAP section = createPixelSection(static_cast<int>(width), static_cast<int>(height), 32, bits);
    if (section == nullptr) {
        return nullptr;
    }
    const UINT stride = 4 * width;
    const WICRect whole = {0, 0, static_cast<INT>(width), static_cast<INT>(height)};
    if (FAILED(source->CopyPixels(&whole, stride, stride * height, static_cast<BYTE*>(bits)))) {
        DeleteObject(section);
        return nullptr;
    }
    return section;
}

} // namespace

HBITMAP loadPngResource(HINSTANCE instance, int resourceId)
{
    IStream* stream = streamOverResource(instance, resourceId);
    if (stream == nullptr) {
        return nullptr;
    }
    IWICBitmapSource* converted = decodeSingleFrame(stream);
    HBITMAP section = converted != nullptr ? sectionFromSource(converted) : nullptr;
    releaseComObject(converted);
    releaseComObject(stream);
    return section;
}

bool bitmapSize(HBITMAP bitmap, int& width, int& height)
{
    width = 0;
    height = 0;
    BITMAP description = {};
    if (bitmap == nullptr || GetObjectA(bitmap, sizeof description, &description) == 0) {
        return false;
    }
    width = description.bmWidth;
    height = description.bmHeight < 0 ? -description.bmHeight : description.bmHeight;
    return true;
}

HBITMAP composeOverPanel(const CSkinControl& control, HBITMAP panel, HBITMAP image, int sourceX, int sourceY,
                         int frames)
{
    const int width = control.getWidth();
    const int height = control.getHeight();
    const int totalHeight = frames * height;
    HDC reference = GetDC(control.getParentWindow());
    HDC resultDc = CreateCompatibleDC(reference);
    HDC sourceDc = CreateCompatibleDC(reference);
    void* unused = nullptr;
    HBITMAP result = composeDepthForTests != 0 ? createPixelSection(width, totalHeight, composeDepthForTests, unused)
                                               : CreateCompatibleBitmap(reference, width, totalHeight);
    ReleaseDC(control.getParentWindow(), reference);
    if (result == nullptr || resultDc == nullptr || sourceDc == nullptr) {
        if (result != nullptr) {
            DeleteObject(result);
        }
        if (resultDc != nullptr) {
            DeleteDC(resultDc);
        }
        if (sourceDc != nullptr) {
            DeleteDC(sourceDc);
        }
        return nullptr;
    }

    HGDIOBJ resultDcBitmap = SelectObject(resultDc, result);
    HGDIOBJ sourceDcBitmap = SelectObject(sourceDc, panel);
    for (int i = 0; i < frames; ++i) {
        BitBlt(resultDc, 0, i * height, width, height, sourceDc, sourceX, sourceY, SRCCOPY);
    }
    if (image != nullptr) {
        SelectObject(sourceDc, image);
        BLENDFUNCTION blend = {};
        blend.BlendOp = AC_SRC_OVER;
        blend.BlendFlags = 0;
        blend.SourceConstantAlpha = 255;
        blend.AlphaFormat = AC_SRC_ALPHA;
        AlphaBlend(resultDc, 0, 0, width, totalHeight, sourceDc, 0, 0, width, totalHeight, blend);
    }
    SelectObject(sourceDc, sourceDcBitmap);
    SelectObject(resultDc, resultDcBitmap);
    DeleteDC(sourceDc);
    DeleteDC(resultDc);
    return result;
}

HBITMAP createPixelSection(int width, int height, int bitsPerPixel, void*& bits)
{
    bits = nullptr;
    if (width <= 0 || height <= 0) {
        return nullptr;
    }
    const BITMAPINFO info = pixelFormat(width, height, bitsPerPixel);
    HDC screen = GetDC(nullptr);
    HBITMAP section = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (section != nullptr && bits == nullptr) {
        DeleteObject(section);
        section = nullptr;
    }
    return section;
}

bool readPixels(HBITMAP bitmap, int width, int height, std::uint32_t* pixels)
{
    if (bitmap == nullptr || width <= 0 || height <= 0) {
        return false;
    }
    BITMAPINFO info = pixelFormat(width, height, 32);
    HDC screen = GetDC(nullptr);
    const int rows = GetDIBits(screen, bitmap, 0, static_cast<UINT>(height), pixels, &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    return rows == height;
}

void setComposeDepthForTests(int bitsPerPixel)
{
    composeDepthForTests = bitsPerPixel;
}
