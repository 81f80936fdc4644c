#include "core/program/window_command_line.h"

#include "core/paths/path_order.h"

namespace vorn {

namespace {

// Any control character or the space; bytes from 128 up are ordinary characters.
bool IsBlank(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 1 && byte <= 32;
}

// Reads the command line one parameter at a time from its start. A zero byte ends the line, as
// it ends the string the system hands over.
class ParameterReader {
public:
    explicit ParameterReader(std::string_view line)
        : m_line(line.substr(0, line.find('\0'))) {}

    // The next parameter; empty once the end of the line is reached.
    std::string Next() {
        SkipLeading();
        std::string parameter;
        while (m_pos < m_line.size() && !IsBlank(m_line[m_pos])) {
            if (m_line[m_pos] == '"') {
                ++m_pos;
                const std::size_t close = m_line.find('"', m_pos);
                const std::size_t end = close == std::string_view::npos ? m_line.size() : close;
                parameter.append(m_line.substr(m_pos, end - m_pos));
                m_pos = close == std::string_view::npos ? end : close + 1;
            } else {
                parameter.push_back(m_line[m_pos++]);
            }
        }
        return parameter;
    }

private:
    // Blanks, and pairs of double quotes standing before a parameter, yield nothing.
    void SkipLeading() {
        for (;;) {
            while (m_pos < m_line.size() && IsBlank(m_line[m_pos])) {
                ++m_pos;
            }
            if (m_pos + 1 < m_line.size() && m_line[m_pos] == '"' && m_line[m_pos + 1] == '"') {
                m_pos += 2;
                continue;
            }
            return;
        }
    }

    std::string_view m_line;
    std::size_t m_pos = 0;
};

} // namespace

std::size_t ParameterCount(std::string_view commandLine) {
    ParameterReader reader(commandLine);
    if (reader.Next().empty()) {
        return 0;
    }
    std::size_t count = 0;
    while (!reader.Next().empty()) {
        ++count;
    }
    return count;
}

std::string Parameter(std::string_view commandLine, std::size_t index) {
    if (index == 0) {
        return {};
    }
    ParameterReader reader(commandLine);
    if (reader.Next().empty()) {
        return {};
    }
    for (std::size_t i = 1;; ++i) {
        std::string parameter = reader.Next();
        if (parameter.empty() || i == index) {
            return parameter;
        }
    }
}

bool HasCheckSwitch(const std::vector<std::string>& parameters) {
    return HasCheckSwitch(parameters, DefaultPathCollator());
}

bool HasCheckSwitch(const std::vector<std::string>& parameters, const PathCollator& collator) {
    for (const std::string& parameter : parameters) {
        if (!parameter.empty() && (parameter.front() == '-' || parameter.front() == '/') &&
            collator.Compare(std::string_view(parameter).substr(1), "a", false) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace vorn
