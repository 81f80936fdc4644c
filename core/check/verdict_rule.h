#pragma once
// Whether a file passes or fails, and the short text a list row shows for it: one rule for the
// window and vorn-check alike.

#include <string>

#include "core/check/deep_check.h"
#include "core/check/marker_check.h"

namespace vorn {

// Whether a file counts as sound. With the picture check (`deep` given), when the picture is
// sound: a damaged, unverifiable or unreadable picture fails, and data after its end marker (a
// motion photo's video, padding) does not count against it. Without it, when both markers are
// in place.
bool CountsAsSound(MarkerVerdict verdict, const DeepCheckResult* deep);

// The Error column's text. Without the picture check, the marker check's: "", "SOI", "EOI" or
// "File open error". With it, the picture check's short reason ("zeros from byte 30199 to the
// end", "too large to verify: 64250 × 64250 declared"), what follows a sound picture ("followed
// by a motion-photo video (1234 bytes)"), "" for a sound picture that ends the file, and the
// marker check's text where the picture check has no reason of its own (a file that could not
// be opened).
std::string VerdictShortText(MarkerVerdict verdict, const DeepCheckResult* deep);

} // namespace vorn
