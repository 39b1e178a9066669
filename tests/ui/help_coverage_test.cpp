// Every message the dialogs can show has its entry in the help's message
// page: the texts are read from the string headers, so a new message without
// help fails here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "support/source_file.h"

namespace {

// NAME_T texts of a string header, with the C escapes and the joins of
// adjacent literals undone.
std::map<std::string, std::string> Texts(const std::string& header) {
    std::string src = std::regex_replace(ReadAll(header), std::regex("\\\\\\n"), " ");  // line continuations
    std::map<std::string, std::string> texts;
    const std::regex def("#define (IDS_[A-Z_0-9]+)_T\\s+((?:\"(?:[^\"\\\\]|\\\\.)*\"\\s*)+)");
    const std::regex literal("\"((?:[^\"\\\\]|\\\\.)*)\"");
    for (std::sregex_iterator it(src.begin(), src.end(), def), end; it != end; ++it) {
        const std::string joined = (*it)[2];
        std::string text;
        for (std::sregex_iterator l(joined.begin(), joined.end(), literal); l != end; ++l) text += (*l)[1];
        text = std::regex_replace(text, std::regex("\\\\r\\\\n"), "\n");
        text = std::regex_replace(text, std::regex("\\\\(.)"), "$1");
        texts[(*it)[1]] = text;
    }
    return texts;
}

// The part of a message the help must quote: the first piece between the
// values filled in and the line breaks that is long enough to name it, up to
// the end of its first sentence.
std::string KeyPhrase(const std::string& text) {
    std::string piece;
    std::stringstream pieces(std::regex_replace(text, std::regex("%[0-9a-z]|\n"), "\x01"));
    while (std::getline(pieces, piece, '\x01')) {
        size_t stop = piece.find(". ");
        if (stop != std::string::npos) piece.resize(stop + 1);
        piece = std::regex_replace(piece, std::regex("^\\s+|\\s+$"), "");
        if (piece.size() >= 12) return piece;
    }
    return text;
}

TEST(Help, EveryMessageHasItsEntry) {
    // Texts that are not messages: a heading, a title, the wait window's lines, a fragment.
    const std::set<std::string> notMessages = {"IDS_FEED_COLUMN", "IDS_SELECT_FOLDER", "IDS_WAIT_ASKING",
                                               "IDS_WAIT_CANCELLING", "IDS_CLEAN_UNREADABLE"};
    std::string help = ReadAll(SourceDir() + "/docs/help/messages.htm");
    ASSERT_FALSE(help.empty()) << "no help page";
    help = std::regex_replace(help, std::regex("<[^>]*>"), "");
    help = std::regex_replace(help, std::regex("\\s+"), " ");
    help = std::regex_replace(help, std::regex("&amp;"), "&");

    std::map<std::string, std::string> texts = Texts(SourceDir() + "/src/common/strings.h");
    for (const auto& t : Texts(SourceDir() + "/src/ui/ui_strings.h")) texts.insert(t);
    ASSERT_GE(texts.size(), 35u) << "the headers were not read";
    for (const auto& t : texts) {
        if (notMessages.count(t.first)) continue;
        const std::string key = KeyPhrase(t.second);
        EXPECT_NE(help.find(key), std::string::npos) << t.first << ": \"" << key << "\" is not in the help";
    }
}

}  // namespace
