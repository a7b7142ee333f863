// Looks for the probe marker in a body as it streams in, keeping only a
// window the size of the marker between chunks. The body counts up to its
// first NUL byte.
#pragma once

#include <string>
#include <string_view>

namespace kestrova {

class MarkerSearch {
public:
    /// `marker` in the body's own encoding (UTF-8 for the probe page).
    explicit MarkerSearch(std::string marker);

    /// Feeds the next chunk; returns false once the answer is known (the
    /// marker was found, or a NUL ended the text), so the transfer can stop.
    bool feed(std::string_view chunk);
    bool found() const { return found_; }

private:
    std::string marker_;
    std::string tail_; ///< the last marker-size-minus-one bytes seen
    bool found_ = false;
    bool ended_ = false;
};

} // namespace kestrova
