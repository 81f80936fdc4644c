#include "core/check/verdict_rule.h"

namespace vorn {

bool CountsAsSound(MarkerVerdict verdict, const DeepCheckResult* deep) {
    return deep ? deep->verdict == DeepVerdict::Sound : verdict == MarkerVerdict::Normal;
}

std::string VerdictShortText(MarkerVerdict verdict, const DeepCheckResult* deep) {
    if (!deep) {
        return std::string(VerdictErrorText(verdict));
    }
    if (deep->reason.empty() && deep->verdict != DeepVerdict::Sound) {
        // Only an unread picture has no reason; a readable file the marker check failed has
        // one from the picture check.
        const std::string_view marker = VerdictErrorText(verdict);
        return std::string(marker.empty() ? VerdictErrorText(MarkerVerdict::OpenError) : marker);
    }
    return deep->reason;
}

} // namespace vorn
