#include "core/jpeg/entropy_decode.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "core/base/ascii_case.h"

namespace vorn {

namespace {

// Codes of this program's own stop, beside the library's message codes.
constexpr int kTooManyScans = -2;

// Everything the library's callbacks reach. Plain data only: the callbacks leave by longjmp,
// which skips destructors.
struct Session {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr errors{};
    jpeg_progress_mgr progress{};
    std::jmp_buf stop{};
    std::uint64_t maxScans = 0;
    int code = 0;                        // the message that stopped the decoder
    bool warning = false;                // it was a warning about the data, not an error
    char text[JMSG_LENGTH_MAX] = {};     // its text
    std::uint64_t offset = 0;            // how far the decoder had read then
    const std::uint8_t* start = nullptr; // the first byte handed to the decoder
    std::size_t size = 0;
};

Session& Of(j_common_ptr cinfo) {
    return *static_cast<Session*>(cinfo->client_data);
}

[[noreturn]] void Stop(j_common_ptr cinfo, int code) {
    Session& session = Of(cinfo);
    session.code = code;
    if (code >= 0) {
        cinfo->err->format_message(cinfo, session.text);
    }
    const jpeg_source_mgr* source = session.cinfo.src;
    session.offset = source ? session.size - source->bytes_in_buffer : 0;
    std::longjmp(session.stop, 1);
}

void OnError(j_common_ptr cinfo) {
    Stop(cinfo, cinfo->err->msg_code);
}

// Warnings that say nothing about the picture's data.
bool IsHarmless(int code) {
    return code == JWRN_ADOBE_XFORM || code == JWRN_JFIF_MAJOR || code == JWRN_BOGUS_ICC;
}

void OnMessage(j_common_ptr cinfo, int level) {
    if (level < 0 && !IsHarmless(cinfo->err->msg_code)) {
        Of(cinfo).warning = true;
        Stop(cinfo, cinfo->err->msg_code);
    }
}

void OnProgress(j_common_ptr cinfo) {
    const auto* decompress = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (static_cast<std::uint64_t>(decompress->input_scan_number) > Of(cinfo).maxScans) {
        Stop(cinfo, kTooManyScans);
    }
}

// Errors that say the decoder cannot take the file, not that it is damaged.
bool IsBeyondDecoder(int code) {
    switch (code) {
    case JERR_ARITH_NOTIMPL:
    case JERR_BAD_PRECISION:
    case JERR_CCIR601_NOTIMPL:
    case JERR_CONVERSION_NOTIMPL:
    case JERR_EMPTY_IMAGE:
    case JERR_FRACT_SAMPLE_NOTIMPL:
    case JERR_IMAGE_TOO_BIG:
    case JERR_NOTIMPL:
    case JERR_NOT_COMPILED:
    case JERR_WIDTH_OVERFLOW:
        return true;
    default:
        return false;
    }
}

std::string Amount(std::size_t bytes) {
    if (bytes % (1u << 20) == 0) {
        return std::to_string(bytes >> 20) + " MB";
    }
    return std::to_string(bytes >> 10) + " KB";
}

} // namespace

std::string DecoderReason(const char* text) {
    std::string reason = text;
    constexpr std::string_view kPrefix = "Corrupt JPEG data: ";
    if (reason.starts_with(kPrefix)) {
        reason.erase(0, kPrefix.size());
    }
    if (!reason.empty() && reason[0] >= 'A' && reason[0] <= 'Z' &&
        !(reason.size() > 1 && reason[1] >= 'A' && reason[1] <= 'Z')) {
        reason[0] = AsciiLower(reason[0]);
    }
    return reason;
}

std::optional<JpegFault> DecodeJpeg(std::span<const std::uint8_t> bytes,
                                    const DeepCheckLimits& limits) {
    Session session;
    session.cinfo.err = jpeg_std_error(&session.errors);
    session.errors.error_exit = OnError;
    session.errors.emit_message = OnMessage;
    session.progress.progress_monitor = OnProgress;
    session.cinfo.progress = &session.progress;
    session.cinfo.client_data = &session;
    session.maxScans = limits.maxScans;
    session.start = bytes.data();
    session.size = bytes.size();
    std::vector<JSAMPLE> row;
    // jpeg_create_decompress clears the structure but keeps err and client_data; the memory
    // ceiling is set on its memory manager once it exists.
    const bool done = [&] {
        jpeg_decompress_struct& cinfo = session.cinfo;
        if (setjmp(session.stop)) {
            return false;
        }
        jpeg_create_decompress(&cinfo);
        cinfo.client_data = &session;
        cinfo.progress = &session.progress;
        cinfo.mem->max_memory_to_use = static_cast<long>(limits.maxMemory);
        jpeg_mem_src(&cinfo, session.start, static_cast<unsigned long>(session.size));
        jpeg_read_header(&cinfo, TRUE);
        cinfo.dct_method = JDCT_IFAST;
        cinfo.do_fancy_upsampling = FALSE;
        cinfo.do_block_smoothing = FALSE;
        jpeg_start_decompress(&cinfo);
        if (cinfo.output_height > 1) {
            jpeg_skip_scanlines(&cinfo, cinfo.output_height - 1);
        }
        row.resize(std::size_t{cinfo.output_width} * cinfo.output_components);
        JSAMPROW rows[1] = {row.data()};
        while (cinfo.output_scanline < cinfo.output_height) {
            jpeg_read_scanlines(&cinfo, rows, 1);
        }
        jpeg_finish_decompress(&cinfo);
        return true;
    }();
    jpeg_destroy_decompress(&session.cinfo);
    if (done) {
        return std::nullopt;
    }

    using Kind = JpegFault::Kind;
    if (session.code == kTooManyScans) {
        return JpegFault{Kind::Unverifiable,
                         "too large to verify: more than " + std::to_string(limits.maxScans) +
                             " scans",
                         std::nullopt};
    }
    if (session.code == JERR_NO_BACKING_STORE || session.code == JERR_OUT_OF_MEMORY) {
        return JpegFault{Kind::Unverifiable,
                         "too large to verify: needs more than " + Amount(limits.maxMemory) +
                             " of memory",
                         std::nullopt};
    }
    if (IsBeyondDecoder(session.code)) {
        return JpegFault{Kind::Unverifiable, "cannot verify: " + DecoderReason(session.text),
                         std::nullopt};
    }
    // Warnings are about the coded data; errors stop at something in the headers that the walk
    // let pass.
    const std::string where = session.warning ? "image data: " : "refused by the decoder: ";
    return JpegFault{Kind::Damaged, where + DecoderReason(session.text), session.offset};
}

} // namespace vorn
