#include "core/jpeg/picture_decode.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <string>

#include <jerror.h>
#include <jpeglib.h>

#include "core/jpeg/entropy_decode.h"
#include "core/jpeg/structure.h"

namespace vorn {

namespace {

// The data is handed to the decoder in pieces, so that the row it is decoding is known when it
// first needs the byte where the walk found the fault.
constexpr std::size_t kPiece = 4096;
constexpr std::uint8_t kFakeEnd[2] = {0xFF, JPEG_EOI};
constexpr std::uint8_t kGrey = 0x80;
// As many zero bytes in a row as coded data does not hold: a region overwritten with zeros,
// which decodes as codes without a warning until the data after it is misread.
constexpr std::size_t kZeroRun = 512;
constexpr std::uint8_t kStartOfScan = 0xDA;

// Everything the library's callbacks reach. Plain data only: errors leave by longjmp, which
// skips destructors.
struct Session {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr errors{};
    jpeg_source_mgr source{};
    jpeg_progress_mgr progress{};
    const std::atomic<bool>* cancel = nullptr;
    bool cancelled = false;
    std::jmp_buf stop{};
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    std::size_t handed = 0;    // bytes handed to the decoder so far
    std::uint64_t faultAt = 0; // the walk's fault offset, or the size when there is none
    std::uint64_t zerosAt = 0; // the first run of zeros in the coded data, or the size
    bool started = false;      // the output size is known
    std::optional<std::uint32_t> damagedRow;
    std::optional<std::uint32_t> zerosRow;
    int warningCode = 0; // the first corrupt-data warning, 0 before one
    char warningText[JMSG_LENGTH_MAX] = {};
    char errorText[JMSG_LENGTH_MAX] = {};
};

Session& Of(j_decompress_ptr cinfo) {
    return *static_cast<Session*>(cinfo->client_data);
}

Session& Of(j_common_ptr cinfo) {
    return *static_cast<Session*>(cinfo->client_data);
}

// The first output row of the iMCU row the decoder is reading: what fails now is shown from
// there on.
std::uint32_t InputRow(const jpeg_decompress_struct& cinfo) {
#if JPEG_LIB_VERSION >= 70
    const int scaled = cinfo.min_DCT_v_scaled_size;
#else
    const int scaled = cinfo.min_DCT_scaled_size;
#endif
    const std::uint64_t row = std::uint64_t{cinfo.input_iMCU_row} *
                              static_cast<std::uint64_t>(cinfo.max_v_samp_factor * scaled);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(row, cinfo.output_height));
}

void MarkRow(Session& session, std::optional<std::uint32_t>& mark) {
    const std::uint32_t row = session.started ? InputRow(session.cinfo) : 0;
    mark = std::min(mark.value_or(row), row);
}

void MarkDamage(Session& session) {
    MarkRow(session, session.damagedRow);
}

// Where the first run of zeros starts in the coded data, from the first scan on; the size when
// there is none.
std::uint64_t FindZeroRun(std::span<const std::uint8_t> bytes) {
    std::size_t at = 2;
    while (at + 4 <= bytes.size() && bytes[at] == 0xFF && bytes[at + 1] != kStartOfScan) {
        at += 2 + (std::size_t{bytes[at + 2]} << 8 | bytes[at + 3]);
    }
    std::size_t run = 0;
    for (; at < bytes.size(); ++at) {
        run = bytes[at] == 0 ? run + 1 : 0;
        if (run == kZeroRun) {
            return at + 1 - kZeroRun;
        }
    }
    return bytes.size();
}

void OnProgress(j_common_ptr cinfo) {
    Session& session = Of(cinfo);
    if (session.cancel && session.cancel->load(std::memory_order_relaxed)) {
        session.cancelled = true;
        std::longjmp(session.stop, 1);
    }
}

void InitSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr cinfo) {
    Session& session = Of(cinfo);
    if (session.handed >= session.size) {
        // Cut short: the decoder is given an end marker and the missing rows stay grey.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        cinfo->src->next_input_byte = kFakeEnd;
        cinfo->src->bytes_in_buffer = sizeof kFakeEnd;
        return TRUE;
    }
    if (session.handed == session.faultAt) {
        MarkDamage(session);
    }
    if (session.handed == session.zerosAt) {
        MarkRow(session, session.zerosRow);
    }
    std::size_t piece = std::min(kPiece, session.size - session.handed);
    for (const std::uint64_t at : {session.faultAt, session.zerosAt}) {
        if (session.handed < at) {
            piece = std::min<std::uint64_t>(piece, at - session.handed);
        }
    }
    cinfo->src->next_input_byte = session.bytes + session.handed;
    cinfo->src->bytes_in_buffer = piece;
    session.handed += piece;
    return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count) {
    jpeg_source_mgr& source = *cinfo->src;
    while (count > static_cast<long>(source.bytes_in_buffer)) {
        count -= static_cast<long>(source.bytes_in_buffer);
        FillInput(cinfo);
    }
    source.next_input_byte += count;
    source.bytes_in_buffer -= static_cast<std::size_t>(count);
}

void TermSource(j_decompress_ptr) {}

[[noreturn]] void OnError(j_common_ptr cinfo) {
    cinfo->err->format_message(cinfo, Of(cinfo).errorText);
    std::longjmp(Of(cinfo).stop, 1);
}

// Warnings that say nothing about the picture's data.
bool IsHarmless(int code) {
    return code == JWRN_ADOBE_XFORM || code == JWRN_JFIF_MAJOR || code == JWRN_BOGUS_ICC;
}

// A corrupt-data warning marks the rows from the one being read on; the decoder goes on, as a
// viewer's would, so that what follows shows as the file has it.
void OnMessage(j_common_ptr cinfo, int level) {
    if (level >= 0 || IsHarmless(cinfo->err->msg_code)) {
        return;
    }
    Session& session = Of(cinfo);
    if (session.warningCode == 0) {
        session.warningCode = cinfo->err->msg_code;
        cinfo->err->format_message(cinfo, session.warningText);
    }
    MarkDamage(session);
}

// Adobe's CMYK, stored inverted, as RGB.
void CmykToRgb(const std::uint8_t* cmyk, std::uint8_t* rgb, std::uint32_t width) {
    for (std::uint32_t x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
        const unsigned k = cmyk[3];
        rgb[0] = static_cast<std::uint8_t>(cmyk[0] * k / 255);
        rgb[1] = static_cast<std::uint8_t>(cmyk[1] * k / 255);
        rgb[2] = static_cast<std::uint8_t>(cmyk[2] * k / 255);
    }
}

} // namespace

unsigned DecodeScale(std::uint32_t width, std::uint32_t height, std::uint32_t fitWidth,
                     std::uint32_t fitHeight) {
    if (fitWidth == 0 || fitHeight == 0 || width == 0 || height == 0) {
        return 8;
    }
    const double fit =
        std::min(static_cast<double>(fitWidth) / width, static_cast<double>(fitHeight) / height);
    return static_cast<unsigned>(std::clamp(static_cast<int>(fit * 8 + 0.999), 1, 8));
}

std::uint32_t ScaledLength(std::uint32_t length, unsigned eighths) {
    return static_cast<std::uint32_t>((std::uint64_t{length} * eighths + 7) / 8);
}

DecodedPicture DecodePicture(std::span<const std::uint8_t> bytes, const DeepCheckLimits& limits,
                             std::uint32_t fitWidth, std::uint32_t fitHeight,
                             const std::atomic<bool>* cancel) {
    return DecodePicture(bytes, WalkJpegStructure(bytes, limits), limits, fitWidth, fitHeight,
                         cancel);
}

DecodedPicture DecodePicture(std::span<const std::uint8_t> bytes, const JpegStructure& structure,
                             const DeepCheckLimits& limits, std::uint32_t fitWidth,
                             std::uint32_t fitHeight, const std::atomic<bool>* cancel) {
    DecodedPicture picture;
    picture.declaredWidth = structure.width;
    picture.declaredHeight = structure.height;
    picture.fault = structure.fault;
    if (structure.fault && structure.fault->kind == JpegFault::Kind::Unverifiable) {
        return picture;
    }
    const std::span<const std::uint8_t> data = structure.fault ? bytes : bytes.first(structure.end);

    Session session;
    session.bytes = data.data();
    session.size = data.size();
    session.faultAt =
        structure.fault && structure.fault->offset ? *structure.fault->offset : data.size() + 1;
    session.zerosAt = FindZeroRun(data);
    session.cinfo.err = jpeg_std_error(&session.errors);
    session.errors.error_exit = OnError;
    session.errors.emit_message = OnMessage;
    session.source.init_source = InitSource;
    session.source.fill_input_buffer = FillInput;
    session.source.skip_input_data = SkipInput;
    session.source.resync_to_restart = jpeg_resync_to_restart;
    session.source.term_source = TermSource;
    session.progress.progress_monitor = OnProgress;
    session.cancel = cancel;
    session.cinfo.client_data = &session;
    std::vector<std::uint8_t> row;
    const bool done = [&] {
        jpeg_decompress_struct& cinfo = session.cinfo;
        if (setjmp(session.stop)) {
            return false;
        }
        jpeg_create_decompress(&cinfo);
        cinfo.client_data = &session;
        cinfo.mem->max_memory_to_use = static_cast<long>(limits.maxMemory);
        cinfo.src = &session.source;
        cinfo.progress = &session.progress;
        jpeg_read_header(&cinfo, TRUE);
        picture.scale = DecodeScale(cinfo.image_width, cinfo.image_height, fitWidth, fitHeight);
        cinfo.scale_num = picture.scale;
        cinfo.scale_denom = 8;
        const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
        cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
        cinfo.dct_method = JDCT_IFAST;
        jpeg_calc_output_dimensions(&cinfo);
        picture.width = cinfo.output_width;
        picture.height = cinfo.output_height;
        picture.rgb.assign(std::size_t{picture.width} * picture.height * 3, kGrey);
        std::uint8_t* const pixels = picture.rgb.data();
        session.started = true;
        jpeg_start_decompress(&cinfo);
        row.resize(std::size_t{cinfo.output_width} * cinfo.output_components);
        while (cinfo.output_scanline < cinfo.output_height) {
            std::uint8_t* const target =
                pixels + std::size_t{cinfo.output_scanline} * cinfo.output_width * 3;
            JSAMPROW rows[1] = {cmyk ? row.data() : target};
            if (jpeg_read_scanlines(&cinfo, rows, 1) == 1 && cmyk) {
                CmykToRgb(row.data(), target, cinfo.output_width);
            }
        }
        jpeg_finish_decompress(&cinfo);
        return true;
    }();
    const std::uint32_t reached = session.started ? session.cinfo.output_scanline : 0;
    jpeg_destroy_decompress(&session.cinfo);
    if (session.cancelled) {
        return DecodedPicture{};
    }

    if (!done) {
        // The decoder stopped: the rows it never gave out are missing too.
        session.damagedRow = std::min(session.damagedRow.value_or(reached), reached);
        if (!picture.fault) {
            picture.fault = JpegFault{JpegFault::Kind::Damaged,
                                      "refused by the decoder: " + DecoderReason(session.errorText),
                                      std::nullopt};
        }
    }
    if (session.warningCode != 0 && !picture.fault) {
        picture.fault =
            JpegFault{JpegFault::Kind::Damaged, "image data: " + DecoderReason(session.warningText),
                      std::nullopt};
    }
    // A run of zeros is taken for damage only in a picture found damaged: the rows from it on
    // are misread even where the decoder noticed only later.
    if (picture.fault && session.zerosRow) {
        session.damagedRow =
            std::min(session.damagedRow.value_or(*session.zerosRow), *session.zerosRow);
    }
    if (picture.width == 0 || picture.height == 0) {
        picture.width = picture.height = 0;
        picture.scale = 0;
        picture.rgb.clear();
        session.damagedRow.reset();
    } else if (session.damagedRow && *session.damagedRow >= picture.height) {
        session.damagedRow.reset();
    }
    picture.firstDamagedRow = session.damagedRow;
    return picture;
}

} // namespace vorn
