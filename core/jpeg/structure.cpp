#include "core/jpeg/structure.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "core/jpeg/markers.h"
#include "core/jpeg/segment_reader.h"

namespace vorn {

namespace {

constexpr std::uint8_t kDqt = 0xDB;
constexpr std::uint8_t kDri = 0xDD;
constexpr std::uint8_t kDht = 0xC4;
constexpr std::uint8_t kDac = 0xCC;
// Longer runs of zero bytes than this do not end coded data that an encoder wrote.
constexpr std::uint64_t kLongestZeroRun = 512;

bool IsFrame(std::uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != kDht && marker != kDac && marker != 0xC8;
}

struct Component {
    std::uint8_t id = 0;
    unsigned h = 1;
    unsigned v = 1;
};

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) {
    return (a + b - 1) / b;
}

class MemoryByteSource final : public JpegByteSource {
public:
    explicit MemoryByteSource(std::span<const std::uint8_t> bytes)
        : m_bytes(bytes) {}

    std::uint64_t Offset() const override { return m_pos; }

    bool Next(std::uint8_t& byte) override {
        if (m_pos >= m_bytes.size()) {
            return false;
        }
        byte = m_bytes[m_pos++];
        return true;
    }

    bool Skip(std::uint64_t count) override {
        if (count > m_bytes.size() - m_pos) {
            m_pos = m_bytes.size();
            return false;
        }
        m_pos += static_cast<std::size_t>(count);
        return true;
    }

    bool SkipPastMarkerPrefix() override {
        const void* hit =
            m_pos < m_bytes.size()
                ? std::memchr(m_bytes.data() + m_pos, kMarkerPrefix, m_bytes.size() - m_pos)
                : nullptr;
        if (!hit) {
            m_pos = m_bytes.size();
            return false;
        }
        m_pos =
            static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - m_bytes.data()) + 1;
        return true;
    }

private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_pos = 0;
};

class Walker {
public:
    Walker(std::span<const std::uint8_t> bytes, const DeepCheckLimits& limits)
        : m_bytes(bytes)
        , m_source(bytes)
        , m_limits(limits) {}

    JpegStructure Walk() {
        using Step = JpegSegmentStep::Kind;
        JpegSegmentReader reader(m_source);
        bool started = false;
        while (!m_result.fault) {
            const JpegSegmentStep step = reader.Next();
            if (m_scanOpen && step.kind != Step::Restart) {
                m_scanOpen = false;
                if (step.kind == Step::End) {
                    return CutShort();
                }
                if (!CloseImageData(step.at)) {
                    return m_result;
                }
            }
            switch (step.kind) {
            case Step::StartOfImage:
                started = true;
                break;
            case Step::NoStart:
                return Fail("no start marker", 0);
            case Step::End:
                return started ? CutShort() : Fail("no start marker", 0);
            case Step::NoMarker:
            case Step::BadMarker:
                return Fail("no marker at byte " + std::to_string(step.at), step.at);
            case Step::BadLength:
                return Fail("bad segment length at byte " + std::to_string(step.at), step.at);
            case Step::Restart:
                PassRestart(step);
                break;
            case Step::EndOfImage:
                if (m_result.scans == 0) {
                    return Fail("no image data before the end marker", step.at);
                }
                m_result.end = m_source.Offset();
                return Ceilings();
            case Step::Segment:
                CheckSegment(step);
                break;
            }
        }
        return m_result;
    }

private:
    JpegStructure Fail(std::string reason, std::uint64_t offset,
                       JpegFault::Kind kind = JpegFault::Kind::Damaged) {
        if (!m_result.fault) {
            m_result.fault = JpegFault{kind, std::move(reason), offset};
        }
        return m_result;
    }
    // A file whose last part was never written often holds zeros there instead: the fault
    // then starts where they do.
    JpegStructure CutShort() {
        const std::uint64_t size = m_bytes.size();
        std::uint64_t zeros = size;
        while (zeros > 0 && m_bytes[zeros - 1] == 0) {
            --zeros;
        }
        if (size - zeros >= kLongestZeroRun) {
            return Fail("zeros from byte " + std::to_string(zeros) + " to the end", zeros);
        }
        return Fail("cut short at byte " + std::to_string(size), size);
    }

    // Checked last, so that damage anywhere in the file is what the walk reports.
    JpegStructure Ceilings() {
        if (m_unsupported) {
            return Fail(std::move(m_unsupported->reason), *m_unsupported->offset,
                        JpegFault::Kind::Unverifiable);
        }
        const std::uint64_t pixels = std::uint64_t{m_result.width} * m_result.height;
        if (pixels > m_limits.maxPixels) {
            return Fail("too large to verify: " + std::to_string(m_result.width) + " × " +
                            std::to_string(m_result.height) + " declared",
                        m_frameAt, JpegFault::Kind::Unverifiable);
        }
        if (m_result.scans > m_limits.maxScans) {
            return Fail("too large to verify: " + std::to_string(m_result.scans) + " scans", 0,
                        JpegFault::Kind::Unverifiable);
        }
        if (m_result.scanBlocks > m_limits.maxScanBlocks) {
            return Fail("too much work to verify", 0, JpegFault::Kind::Unverifiable);
        }
        for (const Component& c : m_components) {
            m_result.frameBlocks +=
                CeilDiv(CeilDiv(m_result.width * c.h, 8ull * m_maxH), c.h) * c.h *
                (CeilDiv(CeilDiv(m_result.height * c.v, 8ull * m_maxV), c.v) * c.v);
        }
        return m_result;
    }

    void CheckSegment(const JpegSegmentStep& step) {
        const std::size_t bodyAt = static_cast<std::size_t>(m_source.Offset());
        if (!m_source.Skip(step.length - 2)) {
            return (void)CutShort();
        }
        const std::span<const std::uint8_t> body = m_bytes.subspan(bodyAt, step.length - 2);
        const std::size_t at = static_cast<std::size_t>(step.at);
        if (IsFrame(step.marker)) {
            CheckFrame(step.marker, body, at);
        } else if (step.marker == kDht) {
            CheckHuffmanTables(body, at);
        } else if (step.marker == kDqt) {
            CheckQuantisationTables(body, at);
        } else if (step.marker == kDri) {
            ReadRestartInterval(body, at);
        } else if (step.marker == kStartOfScan) {
            CheckScanHeader(body, at);
        }
    }

    void CheckFrame(std::uint8_t marker, std::span<const std::uint8_t> body, std::size_t at) {
        const std::string where = " at byte " + std::to_string(at);
        if (m_frameSeen) {
            Fail("second frame header" + where, at);
            return;
        }
        m_frameSeen = true;
        m_frameAt = at;
        if (body.size() < 6 || body.size() != 6 + 3 * std::size_t{body[5]} || body[5] == 0) {
            Fail("bad frame header" + where, at);
            return;
        }
        const unsigned precision = body[0];
        m_result.height = unsigned{body[1]} << 8 | body[2];
        m_result.width = unsigned{body[3]} << 8 | body[4];
        m_progressive = marker == 0xC2 || marker == 0xCA;
        m_lossless = (marker & 3) == 3;
        m_arithmetic = marker >= 0xC9;
        if (m_result.width == 0) {
            Fail("bad frame header: width 0" + where, at);
            return;
        }
        for (std::size_t i = 0; i < body[5]; ++i) {
            const std::uint8_t* c = body.data() + 6 + 3 * i;
            const Component component{c[0], unsigned{c[1]} >> 4, unsigned{c[1]} & 15u};
            if (component.h < 1 || component.h > 4 || component.v < 1 || component.v > 4 ||
                c[2] > 3) {
                Fail("bad frame header: component " + std::to_string(i + 1) + where, at);
                return;
            }
            m_components.push_back(component);
            m_maxH = std::max(m_maxH, component.h);
            m_maxV = std::max(m_maxV, component.v);
        }
        if (precision != 8 && precision != 12) {
            Fail("bad frame header: " + std::to_string(precision) + "-bit samples" + where, at);
            return;
        }
        if (m_progressive && m_components.size() > 4) {
            Fail("bad frame header: " + std::to_string(m_components.size()) +
                     " components in a progressive frame" + where,
                 at);
            return;
        }
        // A decoder that takes 8-bit lossy files cannot vouch for these: note it, and let a
        // fault later in the file take precedence.
        std::string unsupported;
        if ((marker & 3) == 3) {
            unsupported = "lossless coding";
        } else if (marker == 0xC5 || marker == 0xC6 || marker == 0xCD || marker == 0xCE) {
            unsupported = "hierarchical coding";
        } else if (precision != 8) {
            unsupported = std::to_string(precision) + "-bit samples";
        } else if (m_result.height == 0) {
            unsupported = "height declared after the first scan";
        }
        if (!unsupported.empty()) {
            m_unsupported =
                JpegFault{JpegFault::Kind::Unverifiable, "cannot verify: " + unsupported, at};
        }
    }

    void CheckHuffmanTables(std::span<const std::uint8_t> body, std::size_t at) {
        const std::string bad = "bad Huffman table at byte " + std::to_string(at);
        std::size_t p = 0;
        while (p < body.size()) {
            if (p + 17 > body.size()) {
                return (void)Fail(bad, at);
            }
            const unsigned tableClass = body[p] >> 4;
            const unsigned id = body[p] & 15u;
            if (tableClass > 1 || id > 3) {
                return (void)Fail(bad, at);
            }
            // The code lengths must leave room for every code, and the all-ones code of each
            // length stays unused.
            std::uint32_t count = 0;
            std::uint32_t code = 0;
            for (unsigned length = 1; length <= 16; ++length) {
                const unsigned n = body[p + length];
                count += n;
                code += n;
                if (code >= (1u << length)) {
                    return (void)Fail(bad, at);
                }
                code <<= 1;
            }
            if (count > 256 || p + 17 + count > body.size()) {
                return (void)Fail(bad, at);
            }
            // A difference of DC coefficients has at most 15 bits.
            if (tableClass == 0) {
                for (std::size_t i = 0; i < count; ++i) {
                    if (body[p + 17 + i] > 15) {
                        return (void)Fail(bad, at);
                    }
                }
            }
            p += 17 + count;
        }
    }

    void CheckQuantisationTables(std::span<const std::uint8_t> body, std::size_t at) {
        std::size_t p = 0;
        while (p < body.size()) {
            const unsigned precision = body[p] >> 4;
            const unsigned id = body[p] & 15u;
            const std::size_t size = 1 + 64 * (precision + 1);
            if (precision > 1 || id > 3 || p + size > body.size()) {
                return (void)Fail("bad quantisation table at byte " + std::to_string(at), at);
            }
            p += size;
        }
    }

    void ReadRestartInterval(std::span<const std::uint8_t> body, std::size_t at) {
        if (body.size() != 2) {
            return (void)Fail("bad restart interval at byte " + std::to_string(at), at);
        }
        m_restartInterval = unsigned{body[0]} << 8 | body[1];
    }

    void CheckScanHeader(std::span<const std::uint8_t> body, std::size_t at) {
        const std::string bad = "bad scan header at byte " + std::to_string(at);
        if (!m_frameSeen) {
            return (void)Fail("image data before the frame header at byte " + std::to_string(at),
                              at);
        }
        const std::size_t count = body.empty() ? 0 : body[0];
        if (count < 1 || count > 4 || body.size() != 4 + 2 * count) {
            return (void)Fail(bad, at);
        }
        const unsigned ss = body[1 + 2 * count];
        const unsigned se = body[2 + 2 * count];
        const unsigned ah = body[3 + 2 * count] >> 4;
        const unsigned al = body[3 + 2 * count] & 15u;
        const ScanTables used = TablesUsed(ss, ah);
        m_inScan.clear();
        std::vector<const Component*>& inScan = m_inScan;
        unsigned blocks = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t id = body[1 + 2 * i];
            const std::uint8_t tables = body[2 + 2 * i];
            const auto found = std::find_if(m_components.begin(), m_components.end(),
                                            [&](const Component& c) { return c.id == id; });
            if (found == m_components.end() || (used.dc && (tables >> 4) > 3) ||
                (used.ac && (tables & 15) > 3) ||
                std::find(inScan.begin(), inScan.end(), &*found) != inScan.end()) {
                return (void)Fail(bad, at);
            }
            inScan.push_back(&*found);
            blocks += found->h * found->v;
        }
        if (count > 1 && blocks > 10) {
            return (void)Fail(bad, at);
        }
        if (m_lossless) {
            // Ss names the predictor; Al is the point transform.
            if (ss < 1 || ss > 7 || se != 0 || ah != 0) {
                return (void)Fail(bad, at);
            }
        } else if (m_progressive) {
            if (ss > se || se > 63 || (ss == 0 && se != 0) || (ss > 0 && count != 1) || ah > 13 ||
                al > 13) {
                return (void)Fail(bad, at);
            }
        } else if (ss != 0 || se != 63 || ah != 0 || al != 0) {
            return (void)Fail(bad, at);
        }
        ++m_result.scans;
        m_result.scanBlocks += Units(inScan) * (count > 1 ? blocks : 1);
        m_scanOpen = true;
        m_imageDataAt = m_source.Offset();
        m_restarts = 0;
        m_afterRestart = 0;
    }

    struct ScanTables {
        bool dc = false;
        bool ac = false;
    };
    // The Huffman tables a scan decodes with, of the four a decoder holds of each class. An
    // arithmetic-coded scan can name any of its sixteen conditioning tables, so none is refused.
    ScanTables TablesUsed(unsigned ss, unsigned ah) const {
        if (m_arithmetic) {
            return {};
        }
        if (m_lossless) {
            return {.dc = true};
        }
        if (m_progressive) {
            // A DC refinement scan sends raw bits; an AC scan has no DC coefficient.
            return {.dc = ss == 0 && ah == 0, .ac = ss > 0};
        }
        return {.dc = true, .ac = true};
    }

    // Restart markers stand in sequence, and only where an interval was declared.
    void PassRestart(const JpegSegmentStep& step) {
        const std::string where = " at byte " + std::to_string(step.at);
        if (m_restartInterval == 0) {
            return (void)Fail("restart marker without a restart interval" + where, step.at);
        }
        if (step.marker - 0xD0u != m_restarts % 8) {
            return (void)Fail("restart marker out of sequence" + where, step.at);
        }
        ++m_restarts;
        m_afterRestart = m_source.Offset();
    }

    // The scan's image data ends at the marker that stands at `end`: it must have held one restart
    // marker for each interval but the last. False when it did not.
    bool CloseImageData(std::uint64_t end) {
        if (m_restartInterval == 0 || m_result.height == 0) {
            return true;
        }
        const std::uint64_t due = CeilDiv(Units(m_inScan), m_restartInterval) - 1;
        // Some encoders end the scan with one more restart marker; decoders pass over it.
        const bool endsWithRestart = m_restarts == due + 1 && m_afterRestart == end;
        if (m_restarts != due && !endsWithRestart) {
            Fail(std::to_string(m_restarts) + " restart markers in the image data at byte " +
                     std::to_string(m_imageDataAt) + ", " + std::to_string(due) + " due",
                 m_imageDataAt);
            return false;
        }
        return true;
    }

    // The number of coding units in a scan: the MCUs of an interleaved scan, the blocks of a
    // single component's.
    std::uint64_t Units(const std::vector<const Component*>& inScan) const {
        const std::uint64_t w = m_result.width;
        const std::uint64_t h = m_result.height;
        if (inScan.size() > 1) {
            return CeilDiv(w, 8ull * m_maxH) * CeilDiv(h, 8ull * m_maxV);
        }
        const Component& c = *inScan.front();
        return CeilDiv(w * c.h, 8ull * m_maxH) * CeilDiv(h * c.v, 8ull * m_maxV);
    }

    std::span<const std::uint8_t> m_bytes;
    MemoryByteSource m_source;
    const DeepCheckLimits& m_limits;
    JpegStructure m_result;
    bool m_frameSeen = false;
    bool m_progressive = false;
    bool m_lossless = false;
    bool m_arithmetic = false;
    std::size_t m_frameAt = 0;
    std::vector<Component> m_components;
    unsigned m_maxH = 1;
    unsigned m_maxV = 1;
    unsigned m_restartInterval = 0;
    std::optional<JpegFault> m_unsupported;
    // The image data of the last scan, while the walk is inside it.
    bool m_scanOpen = false;
    std::vector<const Component*> m_inScan;
    std::uint64_t m_imageDataAt = 0;
    std::uint64_t m_restarts = 0;
    std::uint64_t m_afterRestart = 0; // where the data after the last restart marker starts
};

} // namespace

JpegStructure WalkJpegStructure(std::span<const std::uint8_t> bytes,
                                const DeepCheckLimits& limits) {
    return Walker(bytes, limits).Walk();
}

} // namespace vorn
