#pragma once
// Bytes for display: paths, captions and error texts are byte strings and become a QString only
// to be shown.

#include <QString>

#include <string_view>

// The bytes read as UTF-8, each ill-formed sequence shown as U+FFFD.
QString DisplayText(std::string_view bytes);
