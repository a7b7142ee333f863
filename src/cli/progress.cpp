#include "cli/progress.h"

#include <cmath>
#include <cstdio>

namespace kestrova::cli {

namespace {

constexpr std::size_t bar_width = 24;

std::string bar(std::size_t done, std::size_t total) {
    std::size_t filled = total == 0 ? 0 : done * bar_width / total;
    return "[" + std::string(filled, '#') + std::string(bar_width - filled, '-') + "]";
}

std::string clock_text(double seconds) {
    auto whole = static_cast<long long>(std::ceil(seconds));
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

} // namespace

std::string progress_text(const ProgressFigures& figures) {
    std::string line = bar(figures.done, figures.total) + "  " + std::to_string(figures.done) +
                       "/" + std::to_string(figures.total) + "  usable " +
                       std::to_string(figures.usable);
    if (figures.seconds <= 0 || figures.done == 0)
        return line;
    double rate = static_cast<double>(figures.done) / figures.seconds;
    char rate_text[32];
    std::snprintf(rate_text, sizeof rate_text, "  %.0f/s", rate);
    line += rate_text;
    line += "  left " + clock_text(static_cast<double>(figures.total - figures.done) / rate);
    return line;
}

std::string summary_text(const ProgressFigures& figures, bool interrupted) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", figures.seconds);
    return std::string(interrupted ? "interrupted: " : "") + std::to_string(figures.done) + " of " +
           std::to_string(figures.total) + " checked: " + std::to_string(figures.usable) +
           " usable, " + std::to_string(figures.done - figures.usable) + " unusable, " + seconds;
}

} // namespace kestrova::cli
