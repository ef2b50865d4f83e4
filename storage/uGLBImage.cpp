#include "uGLBImage.h"

#include "uGLBWin.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <cstdint>
#include <stdexcept>

namespace {

using Microsoft::WRL::ComPtr;

void Check(HRESULT hr, const char* what) {
    if (FAILED(hr)) {
        throw std::runtime_error(std::string(what) + " failed: " + SysErrorMessage(static_cast<DWORD>(hr)) + " (" +
                                 HResultText(hr) + ")");
    }
}

// COM for the calling thread, as far as it is not there already.
class TComScope {
public:
    TComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~TComScope() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    TComScope(const TComScope&) = delete;
    TComScope& operator=(const TComScope&) = delete;

private:
    HRESULT hr_;
};

void PutLE(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

std::string JpegToBmp(const std::string& jpegFile) {
    TComScope com;
    ComPtr<IWICImagingFactory> factory;
    Check(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory)),
          "CoCreateInstance(WICImagingFactory)");
    ComPtr<IWICStream> stream;
    Check(factory->CreateStream(&stream), "CreateStream");
    Check(stream->InitializeFromFilename(Utf8ToWide(jpegFile).c_str(), GENERIC_READ), "InitializeFromFilename");
    ComPtr<IWICBitmapDecoder> decoder;
    Check(factory->CreateDecoder(GUID_ContainerFormatJpeg, nullptr, &decoder), "CreateDecoder(JPEG)");
    Check(decoder->Initialize(stream.Get(), WICDecodeMetadataCacheOnDemand), "JPEG decoding");
    ComPtr<IWICBitmapFrameDecode> frame;
    Check(decoder->GetFrame(0, &frame), "GetFrame");
    ComPtr<IWICFormatConverter> converter;
    Check(factory->CreateFormatConverter(&converter), "CreateFormatConverter");
    Check(converter->Initialize(frame.Get(), GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone, nullptr, 0.0,
                                WICBitmapPaletteTypeCustom),
          "conversion to 24 bits");
    UINT width = 0, height = 0;
    Check(converter->GetSize(&width, &height), "GetSize");
    // A thumbnail; anything beyond 16384 pixels a side (or 256 MB of pixels) is no picture we keep.
    if (width == 0 || height == 0 || width > 16384 || height > 16384) {
        throw std::runtime_error("picture size " + std::to_string(width) + " x " + std::to_string(height) +
                                 " out of range");
    }
    const uint64_t stride = (static_cast<uint64_t>(width) * 3 + 3) / 4 * 4;
    const uint64_t imageSize = stride * height;
    if (imageSize > (256u << 20)) throw std::runtime_error("picture too large");
    std::string pixels(static_cast<size_t>(imageSize), '\0');
    Check(converter->CopyPixels(nullptr, static_cast<UINT>(stride), static_cast<UINT>(imageSize),
                                reinterpret_cast<BYTE*>(pixels.data())),
          "CopyPixels");
    std::string bmp;
    bmp.reserve(54 + pixels.size());
    // BITMAPFILEHEADER
    bmp += "BM";
    PutLE(bmp, static_cast<uint32_t>(54 + imageSize), 4);
    PutLE(bmp, 0, 4);
    PutLE(bmp, 54, 4);
    // BITMAPINFOHEADER: bottom-up, 24 bits, uncompressed
    PutLE(bmp, 40, 4);
    PutLE(bmp, width, 4);
    PutLE(bmp, height, 4);
    PutLE(bmp, 1, 2);
    PutLE(bmp, 24, 2);
    PutLE(bmp, BI_RGB, 4);
    PutLE(bmp, static_cast<uint32_t>(imageSize), 4);
    PutLE(bmp, 2835, 4);   // 72 dpi
    PutLE(bmp, 2835, 4);
    PutLE(bmp, 0, 4);
    PutLE(bmp, 0, 4);
    for (UINT y = height; y-- > 0;) bmp.append(pixels, static_cast<size_t>(y * stride), static_cast<size_t>(stride));
    return bmp;
}
