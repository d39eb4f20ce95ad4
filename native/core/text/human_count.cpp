#include "human_count.hpp"

#include <cstdio>

namespace nvx::target {

std::string format_fixed1(double value) {
    // glibc's printf converts exactly and rounds the decimal result to nearest,
    // ties to even: the same digits the interpreter's own conversion gives.
    char buffer[400];
    const int length = std::snprintf(buffer, sizeof buffer, "%.1f", value);
    if (length < 0) {
        return std::string();
    }
    return std::string(buffer, static_cast<std::size_t>(length));
}

std::string drop_point_zero(std::string text) {
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, ".0") == 0) {
        text.resize(text.size() - 2);
    }
    return text;
}

std::string format_human_count(std::int64_t value) {
    if (value < 1000) {
        return std::to_string(value);
    }
    double divisor = 1000.0;
    const char* unit = "K";
    if (value >= 1000000000) {
        divisor = 1000000000.0;
        unit = "B";
    } else if (value >= 1000000) {
        divisor = 1000000.0;
        unit = "M";
    }
    return drop_point_zero(format_fixed1(static_cast<double>(value) / divisor)) + unit;
}

std::string format_share(std::int64_t added, std::int64_t total) {
    if (total == 0) {
        return "0.0";
    }
    return format_fixed1(100.0 * static_cast<double>(added) / static_cast<double>(total));
}

std::string budget_line(const std::string& added, const std::string& total, const std::string& share) {
    return "Dendrification budget:  +" + added + " params per dendrite cycle  \u00b7  model " + total +
           "  (+" + share + "% / cycle)";
}

}  // namespace nvx::target
