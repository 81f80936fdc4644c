#include "core/check/end_marker_explanation.h"

#include "core/jpeg/markers.h"
#include "core/jpeg/segment_reader.h"
#include "core/os/retry_on_interrupt.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace vorn {

namespace {

// Reads a file front to back through one buffer; skipping moves past bytes without reading them.
// Holes are served as zero bytes without reading, and a search for FF jumps over them whole.
// Reading stops for good once `dataLimit` bytes have been read.
class ForwardReader final : public JpegByteSource {
public:
    ForwardReader(int fd, std::uint64_t dataLimit)
        : m_fd(fd)
        , m_dataLeft(dataLimit) {}

    // True once a read was refused because the data limit was used up.
    bool LimitReached() const { return m_limitReached; }

    std::uint64_t Offset() const override { return m_bufferOffset + m_next; }

    bool Next(std::uint8_t& byte) override {
        if (m_next == m_end && !Fill()) {
            return false;
        }
        byte = m_buffer[m_next++];
        return true;
    }

    bool Skip(std::uint64_t count) override {
        const std::uint64_t inBuffer = m_end - m_next;
        if (count <= inBuffer) {
            m_next += static_cast<std::size_t>(count);
            return true;
        }
        const std::uint64_t target = Offset() + count;
        struct stat info {};
        const std::uint64_t size =
            ::fstat(m_fd, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : Offset();
        if (size < target) {
            // Stand at the end, so the caller can say where the file stopped.
            Reposition(size > Offset() ? size : Offset());
            return false;
        }
        Reposition(target);
        return true;
    }

    bool SkipPastMarkerPrefix() override {
        for (;;) {
            if (m_next == m_end) {
                // A hole holds no FF: jump to the data after it without serving its zeros.
                const std::uint64_t offset = Offset();
                Reposition(HoleEnd(offset));
                if (!Fill()) {
                    return false;
                }
            }
            const void* hit = std::memchr(m_buffer.data() + m_next, kMarkerPrefix, m_end - m_next);
            if (hit) {
                m_next = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) -
                                                  m_buffer.data()) +
                         1;
                return true;
            }
            m_next = m_end;
        }
    }

private:
    bool Fill() {
        m_bufferOffset += m_end;
        m_next = m_end = 0;
        const std::uint64_t holeEnd = HoleEnd(m_bufferOffset);
        if (holeEnd > m_bufferOffset) {
            m_end = static_cast<std::size_t>(
                std::min<std::uint64_t>(holeEnd - m_bufferOffset, m_buffer.size()));
            std::fill_n(m_buffer.begin(), m_end, std::uint8_t{0});
            return true;
        }
        if (m_dataLeft == 0) {
            // The end of the file is no reason to call the walk unfinished.
            struct stat info {};
            m_limitReached = ::fstat(m_fd, &info) != 0 ||
                             static_cast<std::uint64_t>(info.st_size) > m_bufferOffset;
            return false;
        }
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(m_buffer.size(), m_dataLeft));
        const ssize_t n = RetryOnInterrupt([&] {
            return ::pread(m_fd, m_buffer.data(), want, static_cast<off_t>(m_bufferOffset));
        });
        if (n <= 0) {
            return false;
        }
        m_end = static_cast<std::size_t>(n);
        m_dataLeft -= m_end;
        return true;
    }

    // Where the hole that `offset` lies in ends, or `offset` itself when data (or the end of the
    // file) stands there. A file system that cannot tell holes from data has none.
    std::uint64_t HoleEnd(std::uint64_t offset) const {
        const off_t data = ::lseek(m_fd, static_cast<off_t>(offset), SEEK_DATA);
        if (data >= 0) {
            return static_cast<std::uint64_t>(data);
        }
        if (errno != ENXIO) {
            return offset;
        }
        // No data from `offset` on: a hole runs to the end of the file, or this is the end.
        struct stat info {};
        if (::fstat(m_fd, &info) != 0) {
            return offset;
        }
        const auto size = static_cast<std::uint64_t>(info.st_size);
        return size > offset ? size : offset;
    }

    void Reposition(std::uint64_t offset) {
        m_bufferOffset = offset;
        m_next = m_end = 0;
    }

    int m_fd;
    std::uint64_t m_dataLeft;
    bool m_limitReached = false;
    std::array<std::uint8_t, 64 * 1024> m_buffer{};
    std::uint64_t m_bufferOffset = 0; // file offset of m_buffer[0]
    std::size_t m_next = 0;
    std::size_t m_end = 0;
};

// Where the walk stopped at the end of the file, or at the data limit.
EndMarkerExplanation CutShort(const ForwardReader& source, bool inImageData) {
    using Kind = EndMarkerExplanation::Kind;
    if (source.LimitReached()) {
        return EndMarkerExplanation{Kind::Unfinished, source.Offset(), 0};
    }
    return EndMarkerExplanation{inImageData ? Kind::CutShortInImageData : Kind::CutShortInHeaders,
                                source.Offset(), 0};
}

} // namespace

EndMarkerExplanation ExplainEndMarker(int fd, std::uint64_t dataLimit) {
    using Kind = EndMarkerExplanation::Kind;
    using Step = JpegSegmentStep::Kind;
    ForwardReader source(fd, dataLimit);
    JpegSegmentReader reader(source);
    bool inImageData = false;
    for (;;) {
        const JpegSegmentStep step = reader.Next();
        switch (step.kind) {
        case Step::StartOfImage:
        case Step::Restart:
            break;
        case Step::Segment:
            if (!source.Skip(step.length - 2)) {
                return CutShort(source, inImageData);
            }
            inImageData = inImageData || step.marker == kStartOfScan;
            break;
        case Step::EndOfImage: {
            struct stat info {};
            const std::uint64_t end = source.Offset();
            const std::uint64_t size =
                ::fstat(fd, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : end;
            return EndMarkerExplanation{Kind::AppendedData, end, size > end ? size - end : 0};
        }
        case Step::End:
            return CutShort(source, inImageData);
        case Step::NoStart:
            return EndMarkerExplanation{Kind::Unrecognised, 0, 0};
        case Step::NoMarker:
        case Step::BadMarker:
        case Step::BadLength:
            return EndMarkerExplanation{Kind::Unrecognised, source.Offset(), 0};
        }
    }
}

std::string Describe(const EndMarkerExplanation& explanation) {
    using Kind = EndMarkerExplanation::Kind;
    const std::string at = std::to_string(explanation.offset);
    switch (explanation.kind) {
    case Kind::AppendedData:
        if (explanation.appendedBytes == 0) {
            return "image data ends with an end marker at byte " + at;
        }
        return "image data ends with an end marker followed by " +
               std::to_string(explanation.appendedBytes) + " more bytes (appended data)";
    case Kind::CutShortInHeaders:
        return "cut short in the headers at byte " + at;
    case Kind::CutShortInImageData:
        return "cut short in the image data at byte " + at;
    case Kind::Unfinished:
        return "explanation cut short at byte " + at + ", where its data limit was reached";
    case Kind::Unrecognised:
        break;
    }
    return "no marker where one must stand, at byte " + at;
}

} // namespace vorn
