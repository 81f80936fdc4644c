#pragma once
// The segment grammar of a JPEG file, read front to back from any source of its bytes: the start
// marker, markers with their fill bytes, standalone markers, segment lengths, and the image data
// after a scan header with its stuffed bytes and restart markers. What a segment says is left to
// the caller, who reads or skips its body.

#include <cstdint>

namespace vorn {

// A forward-only source of a file's bytes. A source that fails to read ends there.
class JpegByteSource {
public:
    // The offset of the next byte.
    virtual std::uint64_t Offset() const = 0;
    // False at the end of the source.
    virtual bool Next(std::uint8_t& byte) = 0;
    // Moves past `count` bytes; false when the source ends first, and then stands at its end.
    virtual bool Skip(std::uint64_t count) = 0;
    // Moves just past the next FF byte; false when the source ends first.
    virtual bool SkipPastMarkerPrefix() = 0;

protected:
    ~JpegByteSource() = default;
};

struct JpegSegmentStep {
    enum class Kind {
        StartOfImage, // the file opens with FF D8; always the first step of a sound file
        Segment,      // a marker with a body: its `length - 2` bytes stand next in the source
        Restart,      // a restart marker inside a scan's image data
        EndOfImage,   // the end marker; the source stands just past it
        NoStart,      // the file does not open with FF D8
        NoMarker,     // a byte other than FF where a marker must stand
        BadMarker,    // FF 00 or a second start marker where a marker must stand
        BadLength,    // a segment length below 2
        End,          // the source ended; it stands at its end
    };
    Kind kind = Kind::End;
    std::uint8_t marker = 0;
    std::uint64_t at = 0; // where the marker's first FF, or the byte that is none, stands
    unsigned length = 0;  // Segment: the length the segment declares, its body and 2
};

// The steps of one file, in order. Between two steps the source is the caller's only to read or
// skip a segment's body: after a scan header's body the reader goes on in the scan's image data.
// After any step but StartOfImage, Segment and Restart the file is over for the reader.
class JpegSegmentReader {
public:
    explicit JpegSegmentReader(JpegByteSource& source)
        : m_source(source) {}

    JpegSegmentStep Next();

private:
    JpegByteSource& m_source;
    bool m_started = false;
    bool m_inImageData = false; // inside the image data that follows a scan header
};

} // namespace vorn
