#include "core/jpeg/segment_reader.h"

#include "core/jpeg/markers.h"

namespace vorn {

JpegSegmentStep JpegSegmentReader::Next() {
    using Kind = JpegSegmentStep::Kind;
    if (!m_started) {
        m_started = true;
        std::uint8_t first = 0;
        std::uint8_t second = 0;
        if (!m_source.Next(first) || !m_source.Next(second)) {
            return {Kind::End, 0, m_source.Offset(), 0};
        }
        if (first != kMarkerPrefix || second != kStartOfImage) {
            return {Kind::NoStart, 0, 0, 0};
        }
        return {Kind::StartOfImage, kStartOfImage, 0, 0};
    }
    for (;;) {
        std::uint8_t marker = 0;
        std::uint64_t at = 0;
        if (m_inImageData) {
            // FF 00 is a stuffed data byte, FF D0..D7 a restart marker, FF FF fill; any other
            // FF xx is the marker that ends the image data.
            if (!m_source.SkipPastMarkerPrefix()) {
                return {Kind::End, 0, m_source.Offset(), 0};
            }
            at = m_source.Offset() - 1;
            do {
                if (!m_source.Next(marker)) {
                    return {Kind::End, 0, m_source.Offset(), 0};
                }
            } while (marker == kMarkerPrefix);
            if (marker == 0x00) {
                continue;
            }
            if (IsRestart(marker)) {
                return {Kind::Restart, marker, at, 0};
            }
            m_inImageData = false;
        } else {
            at = m_source.Offset();
            std::uint8_t prefix = 0;
            if (!m_source.Next(prefix)) {
                return {Kind::End, 0, m_source.Offset(), 0};
            }
            if (prefix != kMarkerPrefix) {
                return {Kind::NoMarker, prefix, at, 0};
            }
            do {
                if (!m_source.Next(marker)) {
                    return {Kind::End, 0, m_source.Offset(), 0};
                }
            } while (marker == kMarkerPrefix);
        }
        if (marker == kEndOfImage) {
            return {Kind::EndOfImage, marker, at, 0};
        }
        // A restart marker between segments, or the reserved TEM, carries nothing; decoders
        // pass over it.
        if (IsStandalone(marker)) {
            continue;
        }
        if (marker == 0x00 || marker == kStartOfImage) {
            return {Kind::BadMarker, marker, at, 0};
        }
        std::uint8_t high = 0;
        std::uint8_t low = 0;
        if (!m_source.Next(high) || !m_source.Next(low)) {
            return {Kind::End, 0, m_source.Offset(), 0};
        }
        const unsigned length = unsigned{high} << 8 | low;
        if (length < 2) {
            return {Kind::BadLength, marker, at, length};
        }
        m_inImageData = marker == kStartOfScan;
        return {Kind::Segment, marker, at, length};
    }
}

} // namespace vorn
