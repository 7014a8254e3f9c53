#include "kestle/image/wic_codec.h"

#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <mutex>

#include "frame/handles.h"
#include "kestle/image/image_errors.h"
#include "kestle/image/picture_format.h"

namespace kestle::image {
namespace {

using frame::com_ptr;

// Enough for every header probe_size() reads, JPEG files with large
// metadata segments before the frame header included.
constexpr DWORD head_bytes = 256 * 1024;
constexpr DWORD tail_bytes = 26;
// Rows read at a time when every row is read once at load.
constexpr UINT strip_rows = 128;

bool read_at(HANDLE file, uint64_t offset, std::vector<uint8_t>& out, DWORD count) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) return false;
    out.resize(count);
    DWORD got = 0;
    if (!::ReadFile(file, out.data(), count, &got, nullptr)) return false;
    out.resize(got);
    return true;
}

com_ptr<IWICImagingFactory> create_factory() {
    com_ptr<IWICImagingFactory> factory;
    ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                       factory.put_void());
    return factory;
}

int bits_per_pixel(IWICImagingFactory* factory, const WICPixelFormatGUID& format) {
    com_ptr<IWICComponentInfo> info;
    com_ptr<IWICPixelFormatInfo> pixel;
    UINT bits = 0;
    if (SUCCEEDED(factory->CreateComponentInfo(format, info.put())) && SUCCEEDED(info.query(pixel)))
        pixel->GetBitsPerPixel(&bits);
    return static_cast<int>(bits);
}

int32_t status_of_decoder_failure(HRESULT hr) {
    switch (hr) {
        case WINCODEC_ERR_COMPONENTNOTFOUND:
        case WINCODEC_ERR_UNKNOWNIMAGEFORMAT:
            return image_unknown_format;
        case E_OUTOFMEMORY:
            return image_out_of_memory;
        case HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND):
        case HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND):
        case HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED):
        case HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION):
            return image_cannot_open;
        default:
            return image_corrupt;
    }
}

}  // namespace

struct FrameMaker {
    template <class Source>
    static void set(DecodedFrame& f, const com_ptr<Source>& source, bool bgra, UINT w, UINT h, const FileBytes& file) {
        f.source_.reset();
        source.query(f.source_);
        f.file_ = file;
        f.bgra_ = bgra;
        f.width_ = static_cast<int>(w);
        f.height_ = static_cast<int>(h);
    }
};

HRESULT DecodedFrame::read_rows(int y, int rows, uint8_t* out) const {
    if (!source_ || y < 0 || rows <= 0 || y + rows > height_) return E_INVALIDARG;
    const UINT w = static_cast<UINT>(width_);
    const WICRect rect = {0, y, width_, rows};
    if (!bgra_) return source_->CopyPixels(&rect, w * 3, static_cast<UINT>(size_t(w) * 3 * rows), out);
    bgra_rows_.resize(size_t(w) * 4 * rows);
    const HRESULT hr = source_->CopyPixels(&rect, w * 4, static_cast<UINT>(bgra_rows_.size()), bgra_rows_.data());
    if (FAILED(hr)) return hr;
    const uint8_t* in = bgra_rows_.data();
    for (size_t i = 0, n = size_t(w) * rows; i < n; ++i, in += 4, out += 3) {
        const unsigned a = in[3];
        if (a == 255) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
        } else {
            const unsigned white = 255 * (255 - a);
            out[0] = static_cast<uint8_t>((in[0] * a + white + 127) / 255);
            out[1] = static_cast<uint8_t>((in[1] * a + white + 127) / 255);
            out[2] = static_cast<uint8_t>((in[2] * a + white + 127) / 255);
        }
    }
    return S_OK;
}

namespace {

// Decodes the file held in memory: the size check on the header's word,
// the decoder, the frame's size check, and every row read once.
int32_t decode_held(const FileBytes& file, DecodedPicture& out) {
    const std::span<const uint8_t> bytes(*file);
    if (bytes.empty()) return image_unknown_format;
    const auto head = bytes.subspan(0, std::min<size_t>(bytes.size(), head_bytes));
    const auto tail = bytes.subspan(bytes.size() > tail_bytes ? bytes.size() - tail_bytes : 0);
    // Refused on the header's word alone: some decoders allocate the whole
    // picture as soon as they are created.
    if (const auto claimed = probe_size(head); claimed && !size_allowed(claimed->width, claimed->height))
        return image_too_large;

    const com_ptr<IWICImagingFactory> factory = create_factory();
    if (!factory) return image_no_codecs;
    com_ptr<IWICStream> stream;
    com_ptr<IWICBitmapDecoder> decoder;
    HRESULT hr = factory->CreateStream(stream.put());
    if (SUCCEEDED(hr))
        hr = stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    if (FAILED(hr)) return image_out_of_memory;
    hr = factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.put());
    if (FAILED(hr)) return status_of_decoder_failure(hr);
    com_ptr<IWICBitmapFrameDecode> frame;
    if (FAILED(decoder->GetFrame(0, frame.put()))) return image_corrupt;
    UINT w = 0, h = 0;
    if (FAILED(frame->GetSize(&w, &h)) || w == 0 || h == 0) return image_corrupt;
    if (!size_allowed(w, h)) return image_too_large;
    WICPixelFormatGUID pixel_format = {};
    if (FAILED(frame->GetPixelFormat(&pixel_format))) return image_corrupt;

    DecodedFrame decoded;
    if (IsEqualGUID(pixel_format, GUID_WICPixelFormat24bppBGR)) {
        FrameMaker::set(decoded, frame, false, w, h, file);
    } else {
        // Other layouts go through 32-bit BGRA: the direct conversion of
        // indexed pictures to 24-bit is not reliable on every platform.
        com_ptr<IWICFormatConverter> converter;
        hr = factory->CreateFormatConverter(converter.put());
        if (SUCCEEDED(hr))
            hr = converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr,
                                       0.0, WICBitmapPaletteTypeCustom);
        if (FAILED(hr)) return image_corrupt;
        FrameMaker::set(decoded, converter, true, w, h, file);
    }
    // Every row once, in bands: some decoders only decode when asked.
    std::vector<uint8_t> band(size_t(w) * 3 * std::min(strip_rows, h));
    for (UINT y = 0; y < h; y += strip_rows) {
        hr = decoded.read_rows(static_cast<int>(y), static_cast<int>(std::min(strip_rows, h - y)), band.data());
        if (FAILED(hr)) return hr == E_OUTOFMEMORY ? image_out_of_memory : image_corrupt;
    }
    out.frame = std::move(decoded);
    out.format = guess_format(head, tail, bytes.size());
    out.file_size = static_cast<int32_t>(std::min<uint64_t>(bytes.size(), INT32_MAX));
    out.bit_count = bits_per_pixel(factory.get(), pixel_format);
    return image_ok;
}

}  // namespace

namespace {

// The bytes of the last picture file a page let go of, kept for the next
// load: a page makes one thumbnail after another, and reading a file into
// memory already touched costs nothing like reading it into fresh memory
// (a page fault every 4 KB). One buffer, and only up to a size worth
// keeping, so an idle process holds little.
constexpr size_t max_kept_file = 64u << 20;
std::mutex kept_lock;
std::vector<uint8_t> kept_file;

std::vector<uint8_t>* file_buffer(size_t size) {
    auto bytes = std::make_unique<std::vector<uint8_t>>();
    {
        const std::lock_guard<std::mutex> hold(kept_lock);
        bytes->swap(kept_file);
    }
    bytes->resize(size);
    return bytes.release();
}

void let_go(const std::vector<uint8_t>* bytes) noexcept {
    std::unique_ptr<std::vector<uint8_t>> owned(const_cast<std::vector<uint8_t>*>(bytes));
    if (owned->capacity() > max_kept_file) return;
    const std::lock_guard<std::mutex> hold(kept_lock);
    if (owned->capacity() > kept_file.capacity()) owned->swap(kept_file);
}

}  // namespace

int32_t read_picture_file(const std::wstring& path, FileBytes& out) {
    out.reset();
    // Shared for deleting too: a writer renaming a new copy over the file
    // holds it open for deleting, and a page reading it at that moment would
    // otherwise be refused.
    frame::unique_file file(::CreateFileW(path.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER length;
    if (!file || !::GetFileSizeEx(file.get(), &length)) return image_cannot_open;
    if (static_cast<uint64_t>(length.QuadPart) > max_picture_file) return image_too_large;
    std::shared_ptr<std::vector<uint8_t>> bytes(file_buffer(static_cast<size_t>(length.QuadPart)), let_go);
    if (!read_at(file.get(), 0, *bytes, static_cast<DWORD>(bytes->size())) ||
        bytes->size() != static_cast<size_t>(length.QuadPart))
        return image_cannot_open;
    out = std::move(bytes);
    return image_ok;
}

int32_t decode_picture_bytes(const FileBytes& file, DecodedPicture& out) {
    out = DecodedPicture();
    if (!file) return image_cannot_open;
    return decode_held(file, out);
}

}  // namespace kestle::image
