#include "message_catalog.h"
#include "run_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

std::wstring text_of(MessageId id, Language language)
{
    return message_catalog[static_cast<std::size_t>(id)].text[language];
}

} // namespace

TEST(Catalog, HasOneRowPerIdInIdOrder)
{
    ASSERT_EQ(message_catalog.size(), 35u);
    for (std::size_t i = 0; i < message_catalog.size(); ++i) {
        EXPECT_EQ(static_cast<std::size_t>(message_catalog[i].id), i);
    }
}

TEST(Catalog, EveryTextIsPresentAndOnlyTheUsageEndsLines)
{
    for (const MessagePair& pair : message_catalog) {
        for (const Language language : {language_japanese, language_english}) {
            const std::wstring text = pair.text[language];
            EXPECT_FALSE(text.empty()) << pair.id;
            if (pair.id != msg_usage) {
                EXPECT_EQ(text.find(L'\n'), std::wstring::npos) << pair.id;
                EXPECT_EQ(text.find(L'\r'), std::wstring::npos) << pair.id;
            }
        }
    }
}

TEST(Catalog, UsageTextsHaveTheirLengthsAndSeventeenLines)
{
    const std::wstring english = text_of(msg_usage, language_english);
    const std::wstring japanese = text_of(msg_usage, language_japanese);
    EXPECT_EQ(english.size(), 574u);
    EXPECT_EQ(japanese.size(), 410u);
    for (const std::wstring& usage : {english, japanese}) {
        EXPECT_EQ(std::count(usage.begin(), usage.end(), L'\n'), 17);
        EXPECT_EQ(usage.back(), L'\n');
        EXPECT_EQ(usage.find(L'\r'), std::wstring::npos);
    }
    EXPECT_NE(english.find(L"\n      /p Promp for new copy\n"), std::wstring::npos);
    EXPECT_NE(english.find(L"\n         r Move read only file also\n"), std::wstring::npos);
    EXPECT_NE(japanese.find(L"\n         r 読み取り専用ファイルも移動する\n"), std::wstring::npos);
    EXPECT_NE(japanese.find(L"表示なし、上書き確認なし"), std::wstring::npos);
}

TEST(Catalog, JapaneseTextsEndInFullWidthPunctuationAndEnglishIsAscii)
{
    for (const MessagePair& pair : message_catalog) {
        if (pair.id == msg_usage) {
            continue;
        }
        const std::wstring japanese = pair.text[language_japanese];
        const bool question = pair.id == msg_ask_copy || pair.id == msg_ask_overwrite;
        EXPECT_EQ(japanese.back(), question ? L'\xFF1F' : L'\x3002') << pair.id;
        for (const wchar_t c : std::wstring(pair.text[language_english])) {
            EXPECT_LT(static_cast<unsigned>(c), 0x80u) << pair.id;
        }
    }
}

TEST(Catalog, SubjectTextsBeginWithTheSameSeparatorInBothLanguages)
{
    // Callers write the subject and append the text directly, so the
    // separator belongs to the text and must agree across languages.
    for (const MessagePair& pair : message_catalog) {
        const std::wstring japanese = pair.text[language_japanese];
        const std::wstring english = pair.text[language_english];
        for (const std::wstring separator : {L" - ", L": "}) {
            EXPECT_EQ(japanese.rfind(separator, 0) == 0, english.rfind(separator, 0) == 0) << pair.id;
        }
        EXPECT_EQ(japanese[0] == L' ', english[0] == L' ') << pair.id;
    }
}

TEST(Catalog, MessageTextFollowsTheRunLanguage)
{
    settings.language = language_english;
    EXPECT_EQ(message_text(msg_count_copied), L" file(s) copied.");
    EXPECT_EQ(message_text(msg_ask_overwrite), L": Overwrite?");
    settings.language = language_japanese;
    EXPECT_EQ(message_text(msg_count_copied), L" 個のファイルをコピーしました。");
    EXPECT_EQ(message_text(msg_param_invalid), L" - パラメータが正しくありません。");
    settings = RunSettings{};
}
