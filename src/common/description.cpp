// The one-line text of a feed shown in the configuration dialog's list.
#include <string>

#include "common/records.h"

namespace {

// The words of the three-character flag fields, in field order, joined by "+".
std::string FlagWords(const std::string& field, const char* const words[3]) {
    std::string out;
    for (size_t k = 0; k < 3; ++k) {
        if (k < field.size() && field[k] == '1') {
            if (!out.empty()) out += "+";
            out += words[k];
        }
    }
    return out;
}

std::string SortingText(int sorting, int topRange) {
    static const char* const kSortings[] = {"Random", "Date Added", "Relevance", "Views", "Favorites"};
    static const char* const kRanges[] = {"1D", "3D", "1W", "1M", "3M", "6M", "1Y"};
    if (sorting >= 0 && sorting < 5) return kSortings[sorting];
    if (sorting == 5) return std::string("Top ") + (topRange >= 0 && topRange < 7 ? kRanges[topRange] : "");
    return std::string();
}

}  // namespace

std::string CLumoraFeed::GetDescription() const {
    if (Type == 1) return "Collection: " + Username + "/" + (CollName.empty() ? CollId : CollName);
    if (Type != 0) return std::string();

    static const char* const kCategories[] = {"Gen", "Anime", "People"};
    static const char* const kPurities[] = {"SFW", "Sketchy", "NSFW"};
    const std::string pieces[] = {FlagWords(Categories, kCategories), FlagWords(Purity, kPurities),
                                  SortingText(Sorting, TopRange), Atleast, Ratios};
    std::string details;
    for (const std::string& piece : pieces) {
        if (piece.empty()) continue;
        if (!details.empty()) details += ", ";
        details += piece;
    }
    std::string text = "Search: " + (Query.empty() ? std::string("(all)") : Query);
    if (!details.empty()) text += " - " + details;
    return text;
}
