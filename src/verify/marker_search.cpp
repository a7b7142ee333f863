#include "verify/marker_search.h"

#include <algorithm>

namespace kestrova {

MarkerSearch::MarkerSearch(std::string marker) : marker_(std::move(marker)) {}

bool MarkerSearch::feed(std::string_view chunk) {
    if (found_ || ended_)
        return false;
    if (marker_.empty())
        return false; // an empty marker never matches
    std::size_t nul = chunk.find('\0');
    if (nul != std::string_view::npos) {
        chunk = chunk.substr(0, nul);
        ended_ = true;
    }
    // UTF-8 matches can only begin at character boundaries, so a plain byte
    // search is a search at boundaries. A match may straddle the previous
    // chunk: look at the seam (kept tail + the start of this chunk) first.
    const std::size_t overlap = marker_.size() - 1;
    std::string seam = tail_;
    seam.append(chunk.substr(0, overlap));
    if (seam.find(marker_) != std::string::npos || chunk.find(marker_) != std::string_view::npos) {
        found_ = true;
        return false;
    }
    if (chunk.size() >= overlap)
        tail_.assign(chunk.substr(chunk.size() - overlap));
    else
        tail_.assign(seam, seam.size() - std::min(seam.size(), overlap), std::string::npos);
    return !ended_;
}

} // namespace kestrova
