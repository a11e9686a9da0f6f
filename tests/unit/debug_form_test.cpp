#include "debug_form.hpp"

#include <gtest/gtest.h>

#include <cerrno>

namespace morvelta {
namespace {

TEST(Quoted, EscapesQuotesBackslashesAndLineBreaks) {
    EXPECT_EQ(debug_quoted(R"(a\b"c'd)"), R"("a\\b\"c\'d")");
    EXPECT_EQ(debug_quoted("t\tr\rn\n"), R"("t\tr\rn\n")");
    EXPECT_EQ(debug_quoted(""), R"("")");
}

TEST(Quoted, KeepsPrintableUnicodeAndEscapesTheRest) {
    EXPECT_EQ(debug_quoted("ÄÄNI ő 日本"), "\"ÄÄNI ő 日本\"");
    EXPECT_EQ(debug_quoted(std::string("a\0b", 3)), R"("a\u{0}b")");
    EXPECT_EQ(debug_quoted("\x1b[0m"), R"("\u{1b}[0m")");
    EXPECT_EQ(debug_quoted("e\u0301"), R"("e\u{301}")");     // combining acute accent
    EXPECT_EQ(debug_quoted("a\u200Bb"), R"("a\u{200b}b")");  // zero-width space
}

// Marks and unassigned code points anywhere in Unicode, not only in the common blocks.
TEST(Quoted, FollowsTheWholeUnicodeDatabase) {
    EXPECT_EQ(debug_quoted("\u0902\u0670\u0378"), R"("\u{902}\u{670}\u{378}")");
    EXPECT_EQ(debug_quoted("\U000E0100\u20DD"), R"("\u{e0100}\u{20dd}")");  // selector, enclosing
    EXPECT_EQ(debug_quoted("\u09BE\u200C"),
              R"("\u{9be}\u{200c}")");  // marks that extend a grapheme
    EXPECT_EQ(debug_quoted("\u00A0\u2028\uE000\U000E0020"), R"("\u{a0}\u{2028}\u{e000}\u{e0020}")");
    EXPECT_EQ(debug_quoted("\U0010FFFF\U0003FFFE"), R"("\u{10ffff}\u{3fffe}")");  // non-characters
    // A spacing mark that stands on its own, a skin-tone modifier, an emoji and a
    // recently assigned letter all print.
    EXPECT_EQ(debug_quoted("\u0903 \U0001F3FB \U0001F3B5 \u0870"),
              "\"\u0903 \U0001F3FB \U0001F3B5 \u0870\"");
}

TEST(Quoted, WritesEachByteOfAnInvalidSequenceInHex) {
    EXPECT_EQ(debug_quoted("./x\xff\xfe.jpg"), R"("./x\xFF\xFE.jpg")");
    EXPECT_EQ(debug_quoted("\xc3"), R"("\xC3")");                  // cut-off sequence
    EXPECT_EQ(debug_quoted("\xed\xa0\x80"), R"("\xED\xA0\x80")");  // encoded surrogate
    EXPECT_EQ(debug_quoted("\xc0\xaf"), R"("\xC0\xAF")");          // overlong slash
}

TEST(Utf8, AcceptsValidAndRefusesInvalidText) {
    EXPECT_TRUE(is_valid_utf8("./ÄÄNI.MP3"));
    EXPECT_TRUE(is_valid_utf8("\xf0\x9f\x8e\xb5"));
    EXPECT_FALSE(is_valid_utf8("\xff"));
    EXPECT_FALSE(is_valid_utf8("\xf4\x90\x80\x80"));  // past U+10FFFF
}

TEST(OsError, DebugFormAndPlainText) {
    EXPECT_EQ(os_error_debug(EACCES),
              R"(Os { code: 13, kind: PermissionDenied, message: "Permission denied" })");
    EXPECT_EQ(os_error_debug(ENOENT),
              R"(Os { code: 2, kind: NotFound, message: "No such file or directory" })");
    EXPECT_EQ(os_error_text(ENOENT), "No such file or directory (os error 2)");
    EXPECT_EQ(os_error_kind(EWOULDBLOCK), "WouldBlock");
    EXPECT_EQ(os_error_kind(ENOTDIR), "NotADirectory");
    EXPECT_EQ(os_error_kind(EIO), "Uncategorized");
}

}  // namespace
}  // namespace morvelta
